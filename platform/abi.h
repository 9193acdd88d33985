#pragma once
// Calling convention and symbol visibility of the plug-in interface.
// The VST 2.4 interface is cdecl on 32-bit Windows; elsewhere there is only one convention.

#if defined(_WIN32)
#define VSTCALLBACK __cdecl
#define PLUGIN_EXPORT __declspec(dllexport)
#else
#define VSTCALLBACK
#define PLUGIN_EXPORT __attribute__((visibility("default")))
#endif
