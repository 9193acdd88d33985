#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "platform/module.h"
#include "platform/resources.h"

namespace platform {

namespace {

constexpr wchar_t kResourceType[] = L"DATA";

// The resource compiler stores names in upper case and the loader's lookup is only defined for
// plain names, so the query is upper-cased here and anything that Windows would read as
// something else (a "#123" number, a name cut short by a zero, non-ASCII) is refused up front:
// such names never match on Linux either.
bool toResourceName(std::string_view name, std::wstring& out) {
    if (name.empty() || name.size() > 255 || name.front() == '#') return false;
    out.clear();
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F) return false;
        out.push_back(static_cast<wchar_t>(u >= 'a' && u <= 'z' ? u - 'a' + 'A' : u));
    }
    return true;
}

} // namespace

std::span<const unsigned char> findResource(std::string_view name) {
    std::wstring wideName;
    if (!toResourceName(name, wideName)) return {};
    // A null handle means the executable itself: test programs carry the resources directly.
    const auto module = static_cast<HMODULE>(moduleHandle());
    HRSRC info = FindResourceW(module, wideName.c_str(), kResourceType);
    if (!info) return {};
    HGLOBAL loaded = LoadResource(module, info);
    const DWORD size = SizeofResource(module, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes || size == 0) return {};
    return {static_cast<const unsigned char*>(bytes), size};
}

} // namespace platform
