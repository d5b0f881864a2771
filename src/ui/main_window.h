// The main window: its controls, its commands and the program's message loop.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Window procedure of the class "MainWClass".
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Moves a window created at (0, 0) to the middle of the screen, keeping its size.
void center_window(HWND window);

// The command that a key sends through the message loop, 0 for none.
unsigned command_for_key(WPARAM virtual_key);

// A key press the message loop gives the keyboard's own meaning: Tab and
// Shift+Tab move the focus through the list and the buttons, Enter presses
// the focused button, Space ticks or unticks the list's focused row. True
// when the key was handled and goes no further.
bool handle_focus_key(HWND main_window, const MSG& message);

// Runs the message loop until WM_QUIT (or an error) and returns the last
// message's wParam. Keys from the keyboard table send their command to
// main_window first; Escape aimed at a control is passed to main_window.
int run_message_loop(HWND main_window);

// The window's DPI: its display's where Windows tells it (Windows 10
// version 1607 and later), the system's otherwise.
UINT window_dpi(HWND window);

// Places the list, buttons and status pane for a DPI (the 96-DPI figures
// scaled) and gives the buttons and the pane the message font for it.
void layout_main_window(HWND window, UINT dpi);

// ---- About (about.cpp) ----

// Adds "About KORVAT..." to the window's system menu.
void add_about_item(HWND window);
// Shows the box when a system command is the About item's; false otherwise.
bool show_about(HWND window, WPARAM command);
