#pragma once
// The plug-in library's own module handle, recorded when the library is loaded.
// It is the one process-wide value the plug-in keeps.

namespace platform {

void* moduleHandle();

// Keeps the module that holds this code loaded until the process ends, for a thread of ours
// that may still be running when the host unloads us.
void pinModule();

} // namespace platform
