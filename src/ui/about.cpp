// "About KORVAT..." in the main window's system menu: the version, the
// commit the program was built from, and the licence.
#include "main_window.h"

#include "korvat_version.h"
#include "messages.h"

#include <string>

// The system menu's command for the box; the low four bits of a system
// command are the system's own, so the identifier keeps them clear.
constexpr UINT ABOUT_COMMAND = 0x0100;

void add_about_item(HWND window)
{
    HMENU menu = GetSystemMenu(window, FALSE);
    if (!menu)
        return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, ABOUT_COMMAND, tr("About KORVAT..."));
}

// The box's text: the version, the commit and the licence.
static std::string about_text()
{
    return formatted(tr("KORVAT %s\nBuilt from commit %s\n\n"
                        "Trims and restores ZX Spectrum TR-DOS disk images in place.\n\n"
                        "Copyright (c) 2026 The KORVAT developers.\n"
                        "Released under the MIT License: free to use, copy, change and\n"
                        "give away, without warranty of any kind (see LICENSE.txt)."),
                     KORVAT_VERSION, KORVAT_COMMIT);
}

bool show_about(HWND window, WPARAM command)
{
    if ((command & 0xFFF0) != ABOUT_COMMAND)
        return false;
    MessageBoxA(window, about_text().c_str(), tr("About KORVAT"), MB_OK | MB_ICONINFORMATION);
    return true;
}
