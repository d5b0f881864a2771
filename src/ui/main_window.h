// The main window: its controls, its commands and the program's message loop.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Window procedure of the class "MainWClass".
LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Moves a window to the middle of its monitor's work area, keeping its size.
void center_window(HWND window);

// The command that a key sends through the message loop, 0 for none.
unsigned command_for_key(WPARAM virtual_key);

// A key press the message loop gives the keyboard's own meaning: Tab and
// Shift+Tab move the focus through the list and the buttons, Enter presses
// the focused button, Space ticks or unticks the list's focused row,
// Ctrl+C copies the whole status lines of the last batch. True
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

// ---- Between the window's own files ----

// The window's title, in the user's language.
const char* main_title();

// window_batch.cpp: one of the three operations over the ticked rows, then
// its summary and the list rebuilt, every row not done still ticked.
void run_batch_command(HWND window, unsigned command);
// The taskbar button that shows a batch's progress, made with the window.
void connect_taskbar();
void disconnect_taskbar();
// While a batch runs the window is modal: it repaints and can be moved, but
// takes no command, key or drop, and a close waits for the batch to end;
// Escape asks whether to stop after the file in hand.
extern bool g_batch_running;
extern bool g_close_deferred;
// The main window, for the questions it owns; set when it is created.
extern HWND g_main_window;

// window_layout.cpp: the system DPI, the one every window starts with on a
// single display.
UINT system_dpi();
// The six buttons and the status pane (g_status_pane), at their figures.
void create_buttons_and_status_pane(HWND window);
// Deletes the message font made for the window's DPI.
void release_window_font();

// window_keys.cpp: the control that had the focus when the window was last
// active.
extern HWND g_focused_control;
// Gives a row the list's focus, in view; the first row, when none has it.
void focus_row(int row);
void focus_first_row_if_none();
// The name a screen reader announces for a control whose text is not its
// name.
void name_for_screen_readers(HWND control, const wchar_t* name);

// window_status.cpp: the status log's echo in the window: keeps the line
// whole, shows the last nine lines, each shortened in its middle to the
// pane's width, and tells screen readers.
void note_status_line(const char* line);
// Shows the lines again, fitted to the pane as it is now (after a layout).
void show_status_lines();
// A batch begins: the lines Ctrl+C copies start afresh.
void begin_batch_lines();
// Puts the whole status lines since the last batch began on the clipboard,
// as Unicode text, one line each; false when the clipboard cannot be had.
bool copy_status_lines(HWND window);

// ---- The target (window_target.cpp) ----

// Adds "Target" to the window's system menu ("None" and every target by its
// full name) and shows the target remembered from the last run.
void add_target_items(HWND window);
// Shows the target a system command chooses, and remembers it; false for
// any other command.
bool choose_target(HWND window, WPARAM command);

// ---- About (about.cpp) ----

// Adds "About KORVAT..." to the window's system menu.
void add_about_item(HWND window);
// Shows the box when a system command is the About item's; false otherwise.
bool show_about(HWND window, WPARAM command);
