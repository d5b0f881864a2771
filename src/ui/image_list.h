// The image list (a check-box list view) and how its files are chosen: the
// file-open dialog, drops, and the selection they leave behind.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Size of the selection buffer and of the dialog's buffer; the dialog may
// fill all but the last two bytes, which keep the list ended.
constexpr size_t SELECTION_SIZE = 8519682;
constexpr DWORD DIALOG_MAX_FILE = 0x820000;
// Text buffers for one cell and for one name read back from the list.
constexpr int CELL_TEXT_SIZE = 1024;
constexpr int NAME_TEXT_CAPACITY = 1022;

// The list's columns by their number; the folder column is shown after the
// name.
constexpr int NAME_COLUMN = 1;
constexpr int TIME_COLUMN = 2;
constexpr int SIZE_COLUMN = 3;
constexpr int FOLDER_COLUMN = 4;
constexpr int VERDICT_COLUMN = 5; // while a target is chosen

// Check-box state of a row: state image 1 unticked, 2 ticked.
constexpr UINT ROW_UNTICKED = 0x1000;
constexpr UINT ROW_TICKED = 0x2000;
constexpr UINT ROW_STATE_MASK = 0xF000; // LVIS_STATEIMAGEMASK

// The last result of the file-open dialog: NUL-terminated strings ended by an
// empty one, either a folder and its file names or one full path. Allocated
// by WinMain for the whole run; empty (two zero bytes) at start.
extern char* g_selection;
// The list view, stored when the main window creates it.
extern HWND g_image_list;
// The module instance, stored by WinMain; every control is created with it.
extern HINSTANCE g_instance;

// Creates the report-mode list view with check boxes and its five columns:
// the tick, the file's own name, its folder, its time and its size.
HWND create_image_list(HWND parent);

// A figure given for 96 DPI, at another DPI, rounded as Windows rounds.
int scaled_for_dpi(int value, UINT dpi);

// Places the list and sizes its columns for the window's DPI: every figure
// scaled from 96 DPI (the width too, unless one is given, in pixels), and
// no column narrower than its title, nor the time column than a whole time
// text, in the list's own font.
void layout_image_list(HWND list, UINT dpi, int list_width = 0);

// The width the list needs at a DPI so that no column title is cut short,
// nor a whole time text, with room for a vertical scroll bar, frame
// included.
int image_list_wanted_width(HWND list, UINT dpi);

// Answers what the list asks its parent: the text of a name cell, the
// row's name fitted to the column's width (its folder shortened in the
// middle, as Explorer shortens a path), and the row tooltip's text, the
// file's full path. The parent's window procedure passes its WM_NOTIFY
// here first; true, with the result, when it was the list's.
bool answer_image_list(const NMHDR* header, LRESULT* result);
// Passes the mouse's messages for the list to the row tooltip; the
// message loop calls it for every message it takes.
void relay_to_row_tip(const MSG& message);

// Inserts one unticked row: empty check-box cell, name, time text, size.
void add_image_row(HWND list, int row, const char* name, const char* time_text, uint32_t size);

// Sets the check-box state (ROW_TICKED, ROW_UNTICKED) of one row, or of
// every row for row -1.
void set_row_state(HWND list, int row, UINT state);

// The ticked rows' names in row order, whole.
std::vector<std::string> ticked_names(HWND list);

// Heap copies of the ticked rows' names in row order, ended by a null
// pointer; null when no row is ticked. The caller frees them all. When
// memory runs out, the names copied so far, still ended by a null pointer.
char** collect_checked_names(HWND list);

// With an owner, runs the file-open dialog first (a result replaces the
// selection; a cancel or failure writes "Error %0Xh"). Then makes the
// selection's folder the current directory and rebuilds the list from it,
// one row per file whose status can be read. Nonzero when a selection
// stands; 0 when the dialog was cancelled or failed or no file is named.
// With announce (or a dialog that gave a new selection), each name that
// cannot be listed gets a status line, and a last line counts them.
int fill_image_list(HWND owner, HWND list, bool announce = false);

// A folder or file that could not be listed, and why: a status line now,
// counted in the line that ends the next announced listing.
void note_not_listed(const char* name, const std::string& why, bool why_in_language);

#ifndef STRSAFE_E_INSUFFICIENT_BUFFER
#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007AL)
#endif

// Bounded formatting on the safe-string contract: E_INVALIDARG for a
// capacity of 0 or above INT32_MAX (buffer untouched); otherwise the text,
// cut to capacity - 1 characters and a NUL, and S_OK when it all fitted or
// STRSAFE_E_INSUFFICIENT_BUFFER when it did not.
HRESULT format_bounded(char* buffer, size_t capacity, const char* format, ...)
    __attribute__((format(gnu_printf, 3, 4)));

// The modification time as ctime's text, "Sun Sep  9 01:46:40 2001\n", in
// local time, the day's and month's names in the user's language; empty
// when the time cannot be converted. buffer holds TIME_TEXT_SIZE bytes.
constexpr size_t TIME_TEXT_SIZE = 48;
void format_modification_time(char* buffer, int64_t time);

// ---- Sorting (image_list.cpp) ----

// Sorts the rows by a column (0 the ticks, ticked rows first; 1 the name,
// then the folder; 2 the time; 3 the size; 4 the folder, then the name),
// ascending or descending, and shows the arrow in its header. The order
// holds across every rebuild of the list; column -1 goes back to the order
// rows are first listed in (by folder, then name) at the next rebuild.
void sort_image_list(HWND list, int column, bool descending);
// A click on a column's title: sorts by it, or reverses the order when the
// list is sorted by it already.
void sort_by_column_click(HWND list, int column);

// The number of ticked rows.
int count_ticked_rows(HWND list);
// Ticks the rows whose names are given and scrolls to the first of them;
// its row, or -1 when none is listed.
int tick_rows_named(HWND list, const std::vector<std::string>& names);

// ---- A target's verdicts (image_list.cpp) ----

struct target_rule;

// Shows the verdict column for a target as the list's last, each row's
// verdict worked out from its file's bytes when the row is first shown, and
// the verdict, why and the command that mends it in the row's tooltip; with
// null, no such column: the list is as it is without one.
void show_target_column(HWND list, const target_rule* target);
// The target shown, or null.
const target_rule* shown_target();
// Ticks every row whose file the target refuses, or whose first save
// there loses data, and scrolls to the first; how many. None without a
// target.
int tick_rows_not_loading(HWND list);

// ---- The list's ticked rows to the batch (checked_images.cpp) ----

struct batch_totals;

// What the window lends a batch over its list; either may be null.
struct checked_images_hooks {
    // Asks the question before a cut at the first free sector that would
    // lose data, and gives IDYES, IDNO or IDCANCEL.
    int (*ask)(const char* question);
    // Called after each file of the survey that precedes the question.
    void (*between_files)();
};

// Runs the command (5, 6 or 7; any other does nothing) over the names of
// the list's ticked rows, adding each file to totals (when given). With a
// question to ask, a cut at the first free sector first surveys the ticked
// images read-only; when any would lose non-zero bytes it asks once: Yes
// cuts every one, No only those that lose nothing (each left one gets a
// status line, and counts as left), Cancel nothing. Whatever the answer,
// each file is surveyed again as it is opened for its cut, and a file that
// would now lose bytes the user was not shown is left. False when the
// question was cancelled and nothing was done.
bool process_checked_images(unsigned command, HWND list, batch_totals* totals = nullptr,
                            const checked_images_hooks* hooks = nullptr);

// ---- How files are chosen (file_selection.cpp) ----

// Runs the file-open dialog owned by owner; on success the result replaces
// the selection, on a cancel or failure a status line says "Error %0Xh".
// Returns the dialog's result; without memory for the dialog's buffer, 1
// and no dialog.
int run_open_dialog(HWND owner);

// The names the selection holds, in its order, each pointing into it;
// its folder is made the current directory first, so that bare names are
// reached from there. A selection of one path is made a folder and its
// name. Empty when it names nothing.
std::vector<const char*> selection_names();

// Replaces the selection with dropped paths, as the dialog would leave it:
// a folder dropped stands for the .trd files in it and in every folder
// below it (links to folders not entered), in path order; paths all in
// one folder give that folder and bare names, paths from several folders
// an empty folder and the full paths. Returns the number of names.
size_t select_paths(const std::vector<std::string>& dropped);
size_t select_dropped_files(HDROP drop);
