// qrhost: loads VST 2.4 plug-in files and drives them from the command line.

#include <iostream>

#include "platform/shared_library.h"
#include "tools/host/commands.h"

int main(int argc, char** argv) {
    qrhost::Streams io{std::cin, std::cout, std::cerr};
    return qrhost::runCommandLine(platform::utf8Arguments(argc, argv), io);
}
