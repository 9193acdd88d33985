#pragma once
// The PNG bitmaps built into the plug-in, found by resource name.

#include <span>
#include <string_view>

namespace platform {

// The bytes of the embedded resource called `name`, compared without regard to ASCII letter
// case ("KnobHandle", "knobhandle"). An unknown name gives an empty span. The bytes live as
// long as the plug-in's module stays loaded.
std::span<const unsigned char> findResource(std::string_view name);

} // namespace platform
