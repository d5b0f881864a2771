#include "dll_search.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

bool restrict_dll_search()
{
    typedef BOOL(WINAPI * set_default_dll_directories)(DWORD);
    // kernel32 is loaded in every process, so this looks nowhere else.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto set_directories = reinterpret_cast<set_default_dll_directories>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    return set_directories && set_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void* load_system_library(const wchar_t* name)
{
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}
