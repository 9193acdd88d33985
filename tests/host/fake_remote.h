#pragma once
// A stand-in for our plug-in in the validator's own tests (see fake_remote.cpp).

#include "vst/aeffect.h"

namespace fake_remote {

// The faults that can be switched on, one at a time; each is one the validator must find.
enum Fault : int {
    kNoFault = 0,
    kSharedNumbers = 1,  // a device number means whatever the system lists there now
    kStaleKnob = 2,      // the window compares a move with its own last move, not the value
    kLeavesXHandler = 3, // the window installs an X error handler and leaves it
    kNoRetry = 4,        // a refresh resends on the port it has, never opens the device again
    kBlocks = 5,         // everything on the caller's thread under one lock, sends as they come
    kNoSizeRequest = 6,  // the host is never asked to follow the window's size
    kDropsOnClose = 7,   // closing throws away what was not sent yet
    kSharedPort = 8,     // one port per device for the whole process, closed by any instance
    kFaultCount = 9,
};

// A new effect with `fault` switched on.
AEffect* create(audioMasterCallback host, Fault fault);

} // namespace fake_remote
