#include "window_text.h"

// SetWindowTextA, found in USER32 when the program has it loaded: the
// window has, korvat-cli.exe never does and so imports no USER32 (its
// status log has no pane to show text in).
typedef BOOL(WINAPI* set_window_text)(HWND, LPCSTR);
static set_window_text g_set_window_text;

BOOL show_pane_text(HWND pane, const char* text)
{
    if (!g_set_window_text) {
        HMODULE user32 = GetModuleHandleA("user32.dll");
        if (!user32)
            return FALSE;
        g_set_window_text = reinterpret_cast<set_window_text>(
            reinterpret_cast<void*>(GetProcAddress(user32, "SetWindowTextA")));
        if (!g_set_window_text)
            return FALSE;
    }
    return g_set_window_text(pane, text);
}
