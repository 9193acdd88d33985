#include "platform/shared_library.h"

#include <utility>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#else
#include <dlfcn.h>
#endif

namespace platform {

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle(std::exchange(other.handle, nullptr)), lastError(std::move(other.lastError)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        close();
        handle = std::exchange(other.handle, nullptr);
        lastError = std::move(other.lastError);
    }
    return *this;
}

#if defined(_WIN32)

namespace {

std::wstring toWide(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        wide.data(), length);
    return wide;
}

std::string toUtf8(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return {};
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(length - 1));
    return narrow;
}

std::string systemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string message = length && buffer ? toUtf8(buffer) : std::string();
    if (buffer) LocalFree(buffer);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return "error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
}

} // namespace

bool SharedLibrary::open(const std::string& utf8Path) {
    close();
    std::wstring path = toWide(utf8Path);
    if (path.empty()) {
        lastError = "not a valid UTF-8 path";
        return false;
    }
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    // An absolute path lets the library's own dependencies be found next to it.
    std::wstring full(MAX_PATH, L'\0');
    DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (length > 0 && length < full.size()) {
        full.resize(length);
        path = full;
    }
    // No message boxes from the loader: a tool reports failures on its own terms.
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = GetLastError();
    SetThreadErrorMode(previousMode, nullptr);
    if (!module) {
        lastError = systemMessage(code);
        return false;
    }
    handle = module;
    lastError.clear();
    return true;
}

void* SharedLibrary::symbol(const char* name) const {
    if (!handle) {
        lastError = "no library loaded";
        return nullptr;
    }
    FARPROC address = GetProcAddress(static_cast<HMODULE>(handle), name);
    if (!address) {
        lastError = systemMessage(GetLastError());
        return nullptr;
    }
    return reinterpret_cast<void*>(address);
}

void SharedLibrary::close() noexcept {
    if (handle) FreeLibrary(static_cast<HMODULE>(std::exchange(handle, nullptr)));
}

bool SharedLibrary::isLoaded(const std::string& utf8Path) {
    std::wstring path = toWide(utf8Path);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return !path.empty() && GetModuleHandleW(path.c_str()) != nullptr;
}

std::string SharedLibrary::moduleOf(const void* address) {
    HMODULE module = nullptr;
    if (!address || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                            GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                        static_cast<LPCWSTR>(address), &module))
        return {};
    wchar_t name[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(module, name, MAX_PATH);
    return length > 0 && length < MAX_PATH ? toUtf8(name) : std::string();
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide && count == argc) {
        for (int i = 0; i < count; ++i)
            arguments.push_back(toUtf8(wide[i]));
    } else {
        for (int i = 0; i < argc; ++i)
            arguments.emplace_back(argv[i]);
    }
    if (wide) LocalFree(wide);
    return arguments;
}

#else

bool SharedLibrary::open(const std::string& utf8Path) {
    close();
    // dlopen searches the library path for a bare name; a file name given by a user means a
    // file in the current directory.
    const std::string path = utf8Path.find('/') == std::string::npos ? "./" + utf8Path : utf8Path;
    dlerror();
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* message = dlerror();
        lastError = message ? message : "cannot load " + utf8Path;
        return false;
    }
    lastError.clear();
    return true;
}

void* SharedLibrary::symbol(const char* name) const {
    if (!handle) {
        lastError = "no library loaded";
        return nullptr;
    }
    dlerror();
    void* address = dlsym(handle, name);
    if (!address) {
        const char* message = dlerror();
        lastError = message ? message : std::string(name) + " is null";
    }
    return address;
}

void SharedLibrary::close() noexcept {
    if (handle) dlclose(std::exchange(handle, nullptr));
}

bool SharedLibrary::isLoaded(const std::string& utf8Path) {
    const std::string path = utf8Path.find('/') == std::string::npos ? "./" + utf8Path : utf8Path;
    void* held = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (held) dlclose(held);
    return held != nullptr;
}

std::string SharedLibrary::moduleOf(const void* address) {
    Dl_info info{};
    if (!address || !dladdr(address, &info) || !info.dli_fname) return {};
    return info.dli_fname;
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

#endif

} // namespace platform
