// Native build: stand-ins for the window calls the status log makes. The
// pane keeps the text it would show, so that tests can read it.
#pragma once

struct standin_window;
typedef standin_window* HWND;
typedef int BOOL;

// Size of the stand-in pane's text buffer; the status log never sends more.
constexpr int STANDIN_PANE_TEXT_SIZE = 4096;

// Text last set on any window, and the window it was set on.
extern char g_standin_pane_text[STANDIN_PANE_TEXT_SIZE];
extern HWND g_standin_pane_window;

// Keeps a copy of text (cut to the buffer) and remembers the window.
BOOL SetWindowTextA(HWND window, const char* text);

// What the status log calls to show its text: SetWindowTextA.
inline BOOL show_pane_text(HWND pane, const char* text)
{
    return SetWindowTextA(pane, text);
}

// The ANSI code page: UTF-8 (65001), as a Unix terminal speaks it, unless
// a test sets g_standin_code_page to another.
constexpr unsigned CP_UTF8 = 65001;
extern unsigned g_standin_code_page;
unsigned GetACP();
