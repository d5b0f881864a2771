#include "image_list.h"

#include "control_ids.h"
#include "status_log.h"

#include <commctrl.h>
#include <commdlg.h>
#include <direct.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>

char* g_selection;
HWND g_image_list;
HINSTANCE g_instance;

struct image_column {
    const char* title;
    int width;
    int alignment;
};

static const image_column image_columns[] = {
    {"Select", 50, LVCFMT_CENTER},
    {"Image name", 260, LVCFMT_LEFT},
    {"Last modified", 180, LVCFMT_CENTER},
    {"Size [bytes]", 100, LVCFMT_RIGHT},
};

HWND create_image_list(HWND parent)
{
    HWND list = CreateWindowExA(
        0, WC_LISTVIEWA, nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT, 10, 10, 610, 230,
        parent, reinterpret_cast<HMENU>(uintptr_t{IDC_IMAGE_LIST}), g_instance, nullptr);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_CHECKBOXES | LVS_EX_HEADERDRAGDROP | LVS_EX_SIMPLESELECT);
    for (int index = 0; index < static_cast<int>(std::size(image_columns)); ++index) {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = image_columns[index].alignment;
        column.cx = image_columns[index].width;
        column.pszText = const_cast<char*>(image_columns[index].title);
        column.iSubItem = index;
        SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
    }
    return list;
}

int scaled_for_dpi(int value, UINT dpi)
{
    return MulDiv(value, static_cast<int>(dpi), 96);
}

// The widest text a time cell holds, in any locale's digits and names.
static const char widest_time_text[] = "Wed Sep 28 22:48:48 2222\n";

void layout_image_list(HWND list, UINT dpi)
{
    SetWindowPos(list, nullptr, scaled_for_dpi(10, dpi), scaled_for_dpi(10, dpi),
                 scaled_for_dpi(610, dpi), scaled_for_dpi(230, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
    // Each column as the figures say, scaled; never narrower than its title
    // or, for the time, a whole time text, in the list's own font.
    const int margin = scaled_for_dpi(16, dpi);
    for (int index = 0; index < static_cast<int>(std::size(image_columns)); ++index) {
        int width = scaled_for_dpi(image_columns[index].width, dpi);
        const int title = static_cast<int>(SendMessageA(
            list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(image_columns[index].title)));
        width = std::max(width, title + margin);
        if (index == 2) {
            const int time = static_cast<int>(SendMessageA(
                list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(widest_time_text)));
            width = std::max(width, time + margin);
        }
        SendMessageA(list, LVM_SETCOLUMNWIDTH, index, width);
    }
}

// Sets the state of one row (or of all rows for row -1) under the check-box mask.
static void set_row_state(HWND list, int row, UINT state)
{
    LVITEMA item = {};
    item.stateMask = ROW_STATE_MASK;
    item.state = state;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

static void set_cell_text(HWND list, int row, int column, const char* text)
{
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

void add_image_row(HWND list, int row, const char* name, const char* time_text, uint32_t size)
{
    LVITEMA item = {};
    item.iItem = row;
    SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    set_row_state(list, row, ROW_UNTICKED);
    set_cell_text(list, row, 1, name);

    char text[CELL_TEXT_SIZE];
    format_bounded(text, sizeof text, "%s", time_text);
    set_cell_text(list, row, 2, text);
    format_bounded(text, sizeof text, "%lu  ", static_cast<unsigned long>(size));
    set_cell_text(list, row, 3, text);
}

static bool row_is_ticked(HWND list, int row)
{
    LRESULT state = SendMessageA(list, LVM_GETITEMSTATE, row, ROW_STATE_MASK);
    return (state & ROW_STATE_MASK) == ROW_TICKED;
}

char** collect_checked_names(HWND list)
{
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    if (rows <= 0)
        return nullptr;
    int ticked = 0;
    for (int row = 0; row < rows; ++row)
        ticked += row_is_ticked(list, row);
    if (ticked == 0)
        return nullptr;

    char** names = static_cast<char**>(std::calloc(static_cast<size_t>(ticked) + 1, sizeof *names));
    if (!names)
        return nullptr;
    int count = 0;
    // The rows ticked may not change while we walk, but never write past
    // the array if they did.
    for (int row = 0; row < rows && count < ticked; ++row) {
        if (!row_is_ticked(list, row))
            continue;
        char text[CELL_TEXT_SIZE] = "";
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.iSubItem = 1;
        item.pszText = text;
        item.cchTextMax = NAME_TEXT_CAPACITY;
        if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
            continue;
        // A list may fill the whole capacity without a NUL (Wine's does
        // when the text is too long): end the name within it ourselves.
        text[NAME_TEXT_CAPACITY - 1] = '\0';
        names[count] = _strdup(text);
        if (!names[count])
            break; // out of memory: the names so far, still ended by null
        ++count;
    }
    names[count] = nullptr;
    return names;
}

void format_modification_time(char* buffer, int64_t time)
{
    static const char weekdays[][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char months[][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    buffer[0] = '\0';
    const __time64_t value = time;
    const struct tm* local = _localtime64(&value);
    // The runtime pads the day with a zero, so the text is built here.
    if (!local || local->tm_year + 1900 > 9999 || local->tm_year + 1900 < 0 || local->tm_wday < 0 ||
        local->tm_wday > 6 || local->tm_mon < 0 || local->tm_mon > 11)
        return;
    std::snprintf(buffer, TIME_TEXT_SIZE, "%s %s %2d %02d:%02d:%02d %04d\n",
                  weekdays[local->tm_wday], months[local->tm_mon], local->tm_mday, local->tm_hour,
                  local->tm_min, local->tm_sec, local->tm_year + 1900);
}

HRESULT format_bounded(char* buffer, size_t capacity, const char* format, ...)
{
    if (capacity == 0 || capacity > 2147483647u)
        return E_INVALIDARG;
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(buffer, capacity, format, arguments);
    va_end(arguments);
    if (length >= 0 && static_cast<size_t>(length) < capacity)
        return S_OK;
    buffer[capacity - 1] = '\0';
    return STRSAFE_E_INSUFFICIENT_BUFFER;
}

// Makes folder the current directory, drive included. A bare drive such
// as "C:" means its root: "C:" alone would be whatever folder that drive
// was last left in.
static void change_to_folder(const char* folder)
{
    char path[MAX_PATH + 2];
    if (std::strlen(folder) == 2 && folder[1] == ':') {
        std::snprintf(path, sizeof path, "%s\\", folder);
        folder = path;
    }
    _chdir(folder);
}

// Runs the file-open dialog owned by owner; on success the result replaces
// the selection. Returns the dialog's result; without memory for the
// dialog's buffer, 1 and no dialog.
static int run_open_dialog(HWND owner)
{
    // Cleared, so that a one-file result is always followed by an empty string.
    char* buffer = static_cast<char*>(std::calloc(SELECTION_SIZE, 1));
    if (!buffer)
        return 1;
    std::snprintf(buffer, DIALOG_MAX_FILE, "%s", g_selection);

    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = "TRD Files (*.trd)\0*.trd\0All Files (*.*)\0*.*\0";
    dialog.lpstrFile = buffer;
    dialog.nMaxFile = DIALOG_MAX_FILE;
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT |
                   OFN_HIDEREADONLY;
    dialog.lpstrDefExt = "trd";
    const int result = GetOpenFileNameA(&dialog);
    if (result) {
        std::memcpy(g_selection, buffer, SELECTION_SIZE);
    } else {
        format_bounded(buffer, SELECTION_SIZE, "Error %0lXh",
                       static_cast<unsigned long>(CommDlgExtendedError()));
        status_print(buffer);
    }
    std::free(buffer);
    return result;
}

int fill_image_list(HWND owner, HWND list)
{
    int result = 1;
    if (owner)
        result = run_open_dialog(owner);

    // Folder form: a folder, then names (an empty folder before full paths,
    // for files dropped from several folders). Single form: one path, then an
    // empty string; its last backslash becomes the end of the folder, so
    // that the selection reads as a folder with one name from now on.
    const char* const end = g_selection + SELECTION_SIZE;
    char* first = g_selection;
    char* name = first + strnlen(first, SELECTION_SIZE - 1) + 1;
    if (*name != '\0') {
        // An empty folder: names from several folders, each a full path.
        if (*first != '\0')
            change_to_folder(first);
    } else {
        char* backslash = std::strrchr(first, '\\');
        if (backslash) {
            *backslash = '\0';
            change_to_folder(first);
            name = backslash + 1;
        } else {
            name = first;
        }
        if (*name == '\0')
            result = 0;
    }

    // The list is not redrawn while it is rebuilt: a visible list redrawn
    // and rescrolled after every row takes time that grows with the rows.
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    int row = 0;
    while (name < end && *name != '\0') {
        const size_t length = strnlen(name, static_cast<size_t>(end - name));
        struct _stat64 status;
        if (_stat64(name, &status) == 0) {
            char time_text[TIME_TEXT_SIZE];
            format_modification_time(time_text, status.st_mtime);
            add_image_row(list, row++, name, time_text, static_cast<uint32_t>(status.st_size));
        }
        name += length + 1;
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    return result;
}
