// The restriction of the DLL search, in a process of its own: a DLL beside
// the program is found before it and never after.
#include "dll_search.h"

#include <windows.h>

#include <gtest/gtest.h>

TEST(DllSearch, ADllPlantedBesideTheProgramIsNotLoadedOnceRestricted)
{
    // planted.dll is built beside this program, as a stranger's DLL would
    // lie beside an unpacked download.
    HMODULE before = LoadLibraryA("planted.dll");
    ASSERT_NE(before, nullptr) << "the planted DLL is not beside the program";
    FreeLibrary(before);
    ASSERT_EQ(GetModuleHandleA("planted.dll"), nullptr);

    ASSERT_TRUE(restrict_dll_search());
    EXPECT_EQ(LoadLibraryA("planted.dll"), nullptr);
    EXPECT_NE(LoadLibraryA("version.dll"), nullptr) << "the system's own DLLs still load";
}
