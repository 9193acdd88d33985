// Path counting on Windows. A DLL's calls to the system go through its own import table, so the
// plug-in's table is pointed at counting wrappers of the calls that allocate, wait or enter the
// kernel; each wrapper counts when the calling thread has counting on and then calls the
// original. Calls that the plug-in makes inside itself (statically linked runtime code, an
// uncontended lock that never leaves user mode) are not seen; a lock that has to wait is.

#include "tools/host/validate_probes.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <process.h>

namespace qrhost {
namespace {

enum Kind { kAllocation, kFree, kLockWait, kSystemCall, kWake, kKinds };

thread_local bool counting = false;
thread_local std::uint64_t counters[kKinds];

inline void count(Kind kind) {
    if (counting) ++counters[kind];
}

// Every counted call, once: what it counts as, its signature, and how it passes its arguments on.
// clang-format off
#define QR_COUNTED_CALLS(X) \
    /* The C runtime. */ \
    X(kAllocation, void*, __cdecl, malloc, (size_t size), (size)) \
    X(kAllocation, void*, __cdecl, calloc, (size_t n, size_t size), (n, size)) \
    X(kAllocation, void*, __cdecl, realloc, (void* p, size_t size), (p, size)) \
    X(kAllocation, char*, __cdecl, _strdup, (const char* text), (text)) \
    X(kFree, void, __cdecl, free, (void* p), (p)) \
    X(kSystemCall, size_t, __cdecl, fwrite, (const void* p, size_t size, size_t n, FILE* f), \
      (p, size, n, f)) \
    X(kSystemCall, int, __cdecl, fputs, (const char* text, FILE* f), (text, f)) \
    X(kSystemCall, int, __cdecl, fputc, (int c, FILE* f), (c, f)) \
    X(kSystemCall, int, __cdecl, vfprintf, (FILE * f, const char* format, va_list list), \
      (f, format, list)) \
    X(kSystemCall, uintptr_t, __cdecl, _beginthreadex, \
      (void* security, unsigned stack, unsigned(__stdcall* start)(void*), void* argument, \
       unsigned flags, unsigned* id), \
      (security, stack, start, argument, flags, id)) \
    /* The heap. */ \
    X(kAllocation, LPVOID, WINAPI, HeapAlloc, (HANDLE heap, DWORD flags, SIZE_T size), \
      (heap, flags, size)) \
    X(kAllocation, LPVOID, WINAPI, HeapReAlloc, (HANDLE heap, DWORD flags, LPVOID p, SIZE_T size), \
      (heap, flags, p, size)) \
    X(kFree, BOOL, WINAPI, HeapFree, (HANDLE heap, DWORD flags, LPVOID p), (heap, flags, p)) \
    X(kFree, HLOCAL, WINAPI, LocalFree, (HLOCAL p), (p)) \
    X(kAllocation, LPVOID, WINAPI, VirtualAlloc, \
      (LPVOID at, SIZE_T size, DWORD type, DWORD protect), \
      (at, size, type, protect)) \
    /* Waiting. */ \
    X(kLockWait, void, WINAPI, EnterCriticalSection, (LPCRITICAL_SECTION section), (section)) \
    X(kLockWait, void, WINAPI, AcquireSRWLockExclusive, (PSRWLOCK lock), (lock)) \
    X(kLockWait, void, WINAPI, AcquireSRWLockShared, (PSRWLOCK lock), (lock)) \
    X(kLockWait, DWORD, WINAPI, WaitForSingleObject, (HANDLE object, DWORD ms), (object, ms)) \
    X(kLockWait, DWORD, WINAPI, WaitForSingleObjectEx, (HANDLE object, DWORD ms, BOOL alert), \
      (object, ms, alert)) \
    X(kLockWait, DWORD, WINAPI, WaitForMultipleObjects, \
      (DWORD n, const HANDLE* objects, BOOL all, DWORD ms), \
      (n, objects, all, ms)) \
    X(kLockWait, BOOL, WINAPI, SleepConditionVariableCS, \
      (PCONDITION_VARIABLE condition, PCRITICAL_SECTION section, DWORD ms), \
      (condition, section, ms)) \
    X(kLockWait, BOOL, WINAPI, SleepConditionVariableSRW, \
      (PCONDITION_VARIABLE condition, PSRWLOCK lock, DWORD ms, ULONG flags), \
      (condition, lock, ms, flags)) \
    /* Into the kernel, or to another thread or process. */ \
    X(kSystemCall, void, WINAPI, Sleep, (DWORD ms), (ms)) \
    X(kSystemCall, DWORD, WINAPI, SleepEx, (DWORD ms, BOOL alert), (ms, alert)) \
    X(kSystemCall, BOOL, WINAPI, SwitchToThread, (), ()) \
    /* Waking another thread: allowed, the woken thread does the waiting. */ \
    X(kWake, BOOL, WINAPI, SetEvent, (HANDLE event), (event)) \
    X(kWake, BOOL, WINAPI, ReleaseSemaphore, (HANDLE s, LONG n, LPLONG previous), \
      (s, n, previous)) \
    X(kWake, void, WINAPI, WakeConditionVariable, (PCONDITION_VARIABLE condition), (condition)) \
    X(kWake, void, WINAPI, WakeAllConditionVariable, (PCONDITION_VARIABLE condition), \
      (condition)) \
    X(kSystemCall, BOOL, WINAPI, ResetEvent, (HANDLE event), (event)) \
    X(kSystemCall, HANDLE, WINAPI, CreateEventA, \
      (LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL initial, LPCSTR name), \
      (security, manual, initial, name)) \
    X(kSystemCall, HANDLE, WINAPI, CreateSemaphoreA, \
      (LPSECURITY_ATTRIBUTES security, LONG initial, LONG maximum, LPCSTR name), \
      (security, initial, maximum, name)) \
    X(kSystemCall, BOOL, WINAPI, CloseHandle, (HANDLE object), (object)) \
    X(kSystemCall, BOOL, WINAPI, DuplicateHandle, \
      (HANDLE fromProcess, HANDLE from, HANDLE toProcess, LPHANDLE to, DWORD access, \
       BOOL inherit, DWORD options), \
      (fromProcess, from, toProcess, to, access, inherit, options)) \
    X(kSystemCall, BOOL, WINAPI, VirtualProtect, \
      (LPVOID at, SIZE_T size, DWORD protect, PDWORD old), \
      (at, size, protect, old)) \
    X(kSystemCall, SIZE_T, WINAPI, VirtualQuery, \
      (LPCVOID at, PMEMORY_BASIC_INFORMATION info, SIZE_T size), \
      (at, info, size)) \
    X(kSystemCall, HMODULE, WINAPI, LoadLibraryW, (LPCWSTR name), (name)) \
    X(kSystemCall, HRSRC, WINAPI, FindResourceW, (HMODULE module, LPCWSTR name, LPCWSTR type), \
      (module, name, type)) \
    X(kSystemCall, HGLOBAL, WINAPI, LoadResource, (HMODULE module, HRSRC resource), \
      (module, resource)) \
    X(kSystemCall, void, WINAPI, OutputDebugStringA, (LPCSTR text), (text)) \
    X(kSystemCall, DWORD, WINAPI, SuspendThread, (HANDLE thread), (thread)) \
    X(kSystemCall, DWORD, WINAPI, ResumeThread, (HANDLE thread), (thread)) \
    X(kSystemCall, BOOL, WINAPI, SetThreadPriority, (HANDLE thread, int priority), \
      (thread, priority)) \
    X(kSystemCall, BOOL, WINAPI, InvalidateRect, (HWND window, const RECT* rect, BOOL erase), \
      (window, rect, erase)) \
    X(kSystemCall, BOOL, WINAPI, PostMessageW, (HWND window, UINT message, WPARAM w, LPARAM l), \
      (window, message, w, l)) \
    X(kSystemCall, LRESULT, WINAPI, SendMessageW, (HWND window, UINT message, WPARAM w, LPARAM l), \
      (window, message, w, l)) \
    X(kSystemCall, MMRESULT, WINAPI, midiOutShortMsg, (HMIDIOUT out, DWORD message), \
      (out, message)) \
    X(kSystemCall, MMRESULT, WINAPI, midiOutOpen, \
      (LPHMIDIOUT out, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags), \
      (out, id, callback, instance, flags)) \
    X(kSystemCall, MMRESULT, WINAPI, midiOutClose, (HMIDIOUT out), (out))
// clang-format on

// One wrapper per call: `original_<name>` keeps where the import table pointed before.
#define QR_WRAPPER(kind, ret, conv, name, params, args)                                            \
    ret(conv* original_##name) params = nullptr;                                                   \
    ret conv counted_##name params {                                                               \
        count(kind);                                                                               \
        return original_##name args;                                                               \
    }
QR_COUNTED_CALLS(QR_WRAPPER)
#undef QR_WRAPPER

struct CountedImport {
    const char* name;
    void* wrapper;
    void** original;
};

// clang-format off
#define QR_IMPORT(kind, ret, conv, name, params, args) \
    CountedImport{#name, reinterpret_cast<void*>(&counted_##name), \
                  reinterpret_cast<void**>(&original_##name)},
// clang-format on
const CountedImport kImports[] = {QR_COUNTED_CALLS(QR_IMPORT)};
#undef QR_IMPORT

const CountedImport* findImport(const char* name) {
    for (const CountedImport& import : kImports)
        if (std::strcmp(import.name, name) == 0) return &import;
    return nullptr;
}

// Points the module's import table at the wrappers; false if the module has no readable table.
// Slots already pointing at a wrapper (a second pass over the same module) are left alone.
bool redirectImports(HMODULE module) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return false;
    for (auto* library =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         library->Name; ++library) {
        const DWORD namesAt =
            library->OriginalFirstThunk ? library->OriginalFirstThunk : library->FirstThunk;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + namesAt);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            const CountedImport* import = findImport(reinterpret_cast<const char*>(byName->Name));
            if (!import) continue;
            void* current = reinterpret_cast<void*>(slots->u1.Function);
            if (current == import->wrapper) continue;
            if (!*import->original) *import->original = current;
            DWORD previous = 0;
            if (!::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                                  &previous))
                return false;
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(import->wrapper);
            ::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, previous, &previous);
        }
    }
    return true;
}

} // namespace

bool pathCountingAvailable(const void* pluginCode, std::string& whyNot) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(pluginCode), &module) ||
        !redirectImports(module)) {
        whyNot = "the plug-in's import table could not be read";
        return false;
    }
    return true;
}

void beginPathCounting() {
    for (std::uint64_t& counter : counters)
        counter = 0;
    counting = true;
}

PathCounts endPathCounting() {
    counting = false;
    return {counters[kAllocation], counters[kFree], counters[kLockWait], counters[kSystemCall],
            counters[kWake]};
}

} // namespace qrhost
