#pragma once
// The compiled-in resource table of the Linux build; the build generates its definition from
// the PNG files of this directory.

#include <span>
#include <string_view>

namespace platform::embedded {

struct Entry {
    std::string_view name; // file name without ".png"
    std::span<const unsigned char> bytes;
};

std::span<const Entry> table();

} // namespace platform::embedded
