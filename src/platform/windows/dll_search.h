// Where a Windows program may load DLLs from: the system folder alone.
#pragma once

// Restricts the DLLs the process loads from now on, by name, to the system
// folder (SetDefaultDllDirectories with LOAD_LIBRARY_SEARCH_SYSTEM32), so a
// DLL planted beside the program (a Downloads folder) is never picked up by
// the components the program loads later, such as the file dialog's. The
// call is looked up at run time: Windows before 8 without KB2533623 lacks it,
// and then nothing changes. True when the restriction is in force.
bool restrict_dll_search();

// Loads a DLL of the system by name from the system folder alone, whatever
// the search order; null when it cannot.
void* load_system_library(const wchar_t* name);
