#pragma once
// The plug-in library's own module handle, recorded when the library is loaded.
// It is the one process-wide value the plug-in keeps.

namespace platform {

void* moduleHandle();

} // namespace platform
