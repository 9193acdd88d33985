#pragma once
// Loading a dynamic library by path and looking up its symbols: the one place where the host
// tools touch the operating system's loader. Paths and texts are UTF-8 on every system.

#include <string>
#include <vector>

namespace platform {

class SharedLibrary {
  public:
    SharedLibrary() = default;
    ~SharedLibrary() { close(); }
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads the library (closing any held before). On failure returns false and keeps the
    // loader's message for error().
    bool open(const std::string& utf8Path);
    // The address of an exported symbol, or null (error() then says why).
    void* symbol(const char* name) const;
    // Drops this handle; the system unloads the library once no handle refers to it.
    void close() noexcept;

    bool isOpen() const { return handle != nullptr; }
    const std::string& error() const { return lastError; }

    // Whether the library at this path is still in the process (anyone's handle counts).
    static bool isLoaded(const std::string& utf8Path);
    // The file of the loaded module that holds `address`, or empty when none does.
    static std::string moduleOf(const void* address);

  private:
    void* handle = nullptr;
    mutable std::string lastError;
};

// The program's command-line arguments as UTF-8, whatever the system's own encoding.
std::vector<std::string> utf8Arguments(int argc, char** argv);

} // namespace platform
