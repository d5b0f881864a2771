#include "image_list.h"

#include "control_ids.h"
#include "file_io.h"
#include "messages.h"
#include "status_log.h"
#include "system_path.h"
#include "targets.h"

#include <commctrl.h>
#include <commdlg.h>
#include <direct.h>
#include <shlwapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <map>
#include <set>
#include <utility>

char* g_selection;
HWND g_image_list;
HINSTANCE g_instance;

struct image_column {
    const char* title;
    int width;
    int alignment;
};

// The columns by their number (the sub-item a cell has); the Folder column
// came last and is shown after the name.
static const image_column image_columns[] = {
    {text_to_translate("Select"), 50, LVCFMT_CENTER},
    {text_to_translate("Image name"), 150, LVCFMT_LEFT},
    {text_to_translate("Last modified"), 160, LVCFMT_CENTER},
    {text_to_translate("Size [bytes]"), 90, LVCFMT_RIGHT},
    {text_to_translate("Folder"), 140, LVCFMT_LEFT},
};
static int column_order[] = {0,           NAME_COLUMN, FOLDER_COLUMN,
                             TIME_COLUMN, SIZE_COLUMN, VERDICT_COLUMN};
// The verdict column, shown only while a target is chosen: its title and
// its width at 96 DPI.
static const image_column verdict_column = {text_to_translate("Verdict"), 80, LVCFMT_LEFT};
static const target_rule* g_target;

static void add_row_tooltip(HWND parent, HWND list);
static void sort_rows(HWND list, int column, bool descending);
static void rank_folders();

HWND create_image_list(HWND parent)
{
    HWND list = CreateWindowExA(
        0, WC_LISTVIEWA, nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT, 10,
        10, 610, 230, parent, reinterpret_cast<HMENU>(uintptr_t{IDC_IMAGE_LIST}), g_instance,
        nullptr);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_CHECKBOXES | LVS_EX_HEADERDRAGDROP | LVS_EX_SIMPLESELECT);
    add_row_tooltip(parent, list);
    for (int index = 0; index < static_cast<int>(std::size(image_columns)); ++index) {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = image_columns[index].alignment;
        column.cx = image_columns[index].width;
        column.pszText = const_cast<char*>(tr(image_columns[index].title));
        column.iSubItem = index;
        SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
    }
    SendMessageA(list, LVM_SETCOLUMNORDERARRAY, std::size(image_columns),
                 reinterpret_cast<LPARAM>(column_order));
    return list;
}

// The days and months of the time column: in English as ctime names them;
// in another language as the system's own locale data abbreviates them
// (Russian "Пн", "янв"), made once for the language in force.
static const char* const ctime_days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
static const char* const ctime_months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
struct time_names {
    std::string language;
    std::string days[7], months[12];
};
static time_names g_time_names;

static const time_names& names_for_time()
{
    if (g_time_names.language == current_language())
        return g_time_names;
    g_time_names.language = current_language();
    // The locale of the language, its own region: "ru-RU".
    std::wstring locale = wide_text(current_language());
    std::wstring region = locale;
    for (wchar_t& c : region)
        c = static_cast<wchar_t>(c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c);
    locale += L"-" + region;
    const bool english = g_time_names.language == "en";
    auto name = [&](LCTYPE type, const char* fixed) {
        wchar_t text[64];
        if (english || !GetLocaleInfoEx(locale.c_str(), type, text, 64) || !text[0])
            return std::string(fixed);
        return narrow_text(text);
    };
    // The system's first day is Monday; ctime's is Sunday.
    for (int day = 0; day < 7; ++day)
        g_time_names.days[day] = name(
            day == 0 ? LOCALE_SABBREVDAYNAME7 : LOCALE_SABBREVDAYNAME1 + day - 1, ctime_days[day]);
    for (int month = 0; month < 12; ++month)
        g_time_names.months[month] = name(LOCALE_SABBREVMONTHNAME1 + month, ctime_months[month]);
    return g_time_names;
}

int scaled_for_dpi(int value, UINT dpi)
{
    return MulDiv(value, static_cast<int>(dpi), 96);
}

// The width of the widest text a time cell holds, in the list's font: the
// widest day's and month's names in the user's language, and the widest
// digits.
static int widest_time_width(HWND list)
{
    auto width_of = [list](const char* text) {
        return static_cast<int>(
            SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text)));
    };
    const time_names& names = names_for_time();
    int day = 0, month = 0;
    for (const std::string& name : names.days)
        day = std::max(day, width_of(name.c_str()));
    for (const std::string& name : names.months)
        month = std::max(month, width_of(name.c_str()));
    return day + month + width_of("   28 22:48:48 2222\n");
}

// The DPI the list was last laid out for.
static UINT g_list_dpi = 96;

// Each column's width for a DPI: as the figures say, scaled; never
// narrower than its title or, for the time, a whole time text, in the
// list's own font. floors: how far each may give way, which for the name
// and folder columns is their titles. The total.
static int column_widths(HWND list, UINT dpi, int* widths, int* floors)
{
    const int margin = scaled_for_dpi(16, dpi);
    int total = 0;
    for (size_t index = 0; index < std::size(image_columns); ++index) {
        const int title = static_cast<int>(
            SendMessageA(list, LVM_GETSTRINGWIDTHA, 0,
                         reinterpret_cast<LPARAM>(tr(image_columns[index].title))));
        widths[index] = std::max(scaled_for_dpi(image_columns[index].width, dpi), title + margin);
        if (index == TIME_COLUMN)
            widths[index] = std::max(widths[index], widest_time_width(list) + margin);
        floors[index] =
            index == NAME_COLUMN || index == FOLDER_COLUMN ? title + margin : widths[index];
        total += widths[index];
    }
    return total;
}

// The words a verdict cell shows.
static const char* verdict_cell_text(int verdict)
{
    switch (verdict) {
    case VERDICT_LOADS:
        return tr("loads");
    case VERDICT_LOSES_ON_SAVE:
        return tr("loses data");
    case VERDICT_READ_ONLY:
        return tr("read-only");
    default:
        return tr("refused");
    }
}

// The verdict column's width: its figure, or its title or its widest word
// where they need more.
static int verdict_column_width(HWND list, UINT dpi)
{
    auto width_of = [list](const char* text) {
        return static_cast<int>(
            SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text)));
    };
    int widest = width_of(tr(verdict_column.title));
    for (int verdict = VERDICT_LOADS; verdict <= VERDICT_REFUSED; ++verdict)
        widest = std::max(widest, width_of(verdict_cell_text(verdict)));
    return std::max(scaled_for_dpi(verdict_column.width, dpi), widest + scaled_for_dpi(16, dpi));
}

// The list's frame: its outer width less its client area's.
static int list_frame_width(HWND list)
{
    RECT frame, client;
    GetWindowRect(list, &frame);
    GetClientRect(list, &client);
    return (frame.right - frame.left) - (client.right - client.left);
}

int image_list_wanted_width(HWND list, UINT dpi)
{
    int widths[std::size(image_columns)], floors[std::size(image_columns)];
    column_widths(list, dpi, widths, floors);
    int total = 0;
    for (int floor : floors)
        total += floor;
    return total + GetSystemMetrics(SM_CXVSCROLL) + list_frame_width(list) +
           (g_target ? verdict_column_width(list, dpi) : 0);
}

void layout_image_list(HWND list, UINT dpi, int list_width)
{
    g_list_dpi = dpi;
    SetWindowPos(list, nullptr, scaled_for_dpi(10, dpi), scaled_for_dpi(10, dpi),
                 list_width > 0 ? list_width : scaled_for_dpi(610, dpi), scaled_for_dpi(230, dpi),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    // The columns share the list's client width, less a vertical scroll
    // bar's, so that no horizontal one is ever needed: the name and folder
    // columns take what the others leave, or give way down to their floors
    // (the folder first) where longer titles (another language's) need it.
    int widths[std::size(image_columns)], floors[std::size(image_columns)];
    const int total = column_widths(list, dpi, widths, floors);
    RECT client;
    GetClientRect(list, &client);
    const int room = client.right - client.left - GetSystemMetrics(SM_CXVSCROLL) -
                     (g_target ? verdict_column_width(list, dpi) : 0);
    if (g_target)
        SendMessageA(list, LVM_SETCOLUMNWIDTH, VERDICT_COLUMN, verdict_column_width(list, dpi));
    if (total < room) {
        const int extra = room - total;
        widths[NAME_COLUMN] += extra - extra / 2;
        widths[FOLDER_COLUMN] += extra / 2;
    } else {
        int over = total - room;
        for (int index : {FOLDER_COLUMN, NAME_COLUMN}) {
            const int given = std::min(over, widths[index] - floors[index]);
            widths[index] -= given;
            over -= given;
        }
    }
    for (size_t index = 0; index < std::size(image_columns); ++index)
        SendMessageA(list, LVM_SETCOLUMNWIDTH, index, widths[index]);
}

void set_row_state(HWND list, int row, UINT state)
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

// What each row shows, by the row's number when the list was filled (its
// item's lParam), so that a sort compares values, not texts.
struct row_record {
    std::string name;
    std::wstring wide_name; // the name as the system's comparison takes it
    std::wstring own_name;  // the file's own name, without its folder
    std::wstring folder;    // its folder, whole
    int folder_rank;        // its folder's place among the list's folders, in their order
    int64_t time;
    uint32_t size;
    bool ticked; // taken from the list just before a sort by ticks
    // The chosen target's verdict on the file, worked out when first shown:
    // -1 until then.
    int verdict = -1;
    std::string verdict_reason, verdict_command;
};
static std::vector<row_record> g_rows;

// The column the list is sorted by, -1 for none (the selection's order).
static int g_sort_column = -1;
static bool g_sort_descending;

// The full path of a row's file: its name, in the folder the list's names
// are relative to.
static std::wstring full_path(const std::wstring& name)
{
    const DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return name;
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(name.c_str(), length, &full[0], nullptr);
    full.resize(written < length ? written : 0);
    return full.empty() ? name : full;
}

// Splits a row's full path into its folder ("C:\\" for a drive's root) and
// its own name.
static void split_path(row_record* record)
{
    const std::wstring full = full_path(record->wide_name);
    const size_t backslash = full.find_last_of(L'\\');
    if (backslash == std::wstring::npos) {
        record->own_name = full;
        record->folder.clear();
        return;
    }
    record->own_name = full.substr(backslash + 1);
    record->folder = full.substr(0, backslash);
    if (!record->folder.empty() && record->folder.back() == L':')
        record->folder += L'\\';
}

void add_image_row(HWND list, int row, const char* name, const char* time_text, uint32_t size)
{
    // The row's record keeps the whole name, however long, for the batch.
    if (row >= 0) {
        if (g_rows.size() <= size_t(row))
            g_rows.resize(size_t(row) + 1);
        g_rows[size_t(row)].name = name;
        g_rows[size_t(row)].wide_name = wide_text(name);
        split_path(&g_rows[size_t(row)]);
        g_rows[size_t(row)].folder_rank = 0;
        g_rows[size_t(row)].size = size;
    }
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    item.lParam = row;
    SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    set_row_state(list, row, ROW_UNTICKED);
    // The name and folder cells are made when they are shown, to fit their
    // columns' widths.
    set_cell_text(list, row, NAME_COLUMN, row >= 0 ? LPSTR_TEXTCALLBACKA : name);
    set_cell_text(list, row, FOLDER_COLUMN, row >= 0 ? LPSTR_TEXTCALLBACKA : "");
    if (g_target)
        set_cell_text(list, row, VERDICT_COLUMN, LPSTR_TEXTCALLBACKA);

    char text[CELL_TEXT_SIZE];
    format_bounded(text, sizeof text, "%s", time_text);
    set_cell_text(list, row, TIME_COLUMN, text);
    format_bounded(text, sizeof text, "%lu  ", static_cast<unsigned long>(size));
    set_cell_text(list, row, SIZE_COLUMN, text);
}

static bool row_is_ticked(HWND list, int row)
{
    LRESULT state = SendMessageA(list, LVM_GETITEMSTATE, row, ROW_STATE_MASK);
    return (state & ROW_STATE_MASK) == ROW_TICKED;
}

// The record of a row; null for a row that has none.
static const row_record* row_record_at(HWND list, int row)
{
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)) || item.lParam < 0 ||
        size_t(item.lParam) >= g_rows.size())
        return nullptr;
    return &g_rows[size_t(item.lParam)];
}

// A row's record with the chosen target's verdict worked out: from the
// file's bytes, read once, when the row is first shown or asked about.
static row_record* judged_row(HWND list, int row)
{
    row_record* record = const_cast<row_record*>(row_record_at(list, row));
    if (!record || !g_target || record->verdict >= 0)
        return record;
    std::vector<unsigned char> bytes;
    int64_t length = 0;
    if (!read_target_file(record->name.c_str(), &bytes, &length)) {
        record->verdict = VERDICT_REFUSED;
        record->verdict_reason = error_message(errno);
        return record;
    }
    target_disk disk;
    read_target_disk(bytes.data(), bytes.size(), length, &disk);
    const target_finding finding = judge_for_target(*g_target, disk);
    record->verdict = finding.verdict;
    record->verdict_reason = finding.reason;
    record->verdict_command =
        fix_command_text(finding.fix, narrow_text(full_path(record->wide_name)));
    if (finding.fix == FIX_IMPOSSIBLE)
        record->verdict_command = tr("No command changes this.");
    return record;
}

// The whole name of a row, from its record; null for a row that has none.
static const std::string* row_name(HWND list, int row)
{
    const row_record* record = row_record_at(list, row);
    return record ? &record->name : nullptr;
}

std::vector<std::string> ticked_names(HWND list)
{
    std::vector<std::string> names;
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row)
        if (row_is_ticked(list, row))
            if (const std::string* name = row_name(list, row))
                names.push_back(*name);
    return names;
}

char** collect_checked_names(HWND list)
{
    const std::vector<std::string> ticked = ticked_names(list);
    if (ticked.empty())
        return nullptr;
    char** names = static_cast<char**>(std::calloc(ticked.size() + 1, sizeof *names));
    if (!names)
        return nullptr;
    size_t count = 0;
    for (const std::string& name : ticked) {
        names[count] = _strdup(name.c_str());
        if (!names[count])
            break; // out of memory: the names so far, still ended by null
        ++count;
    }
    names[count] = nullptr;
    return names;
}

void format_modification_time(char* buffer, int64_t time)
{
    buffer[0] = '\0';
    const __time64_t value = time;
    const struct tm* local = _localtime64(&value);
    // The runtime pads the day with a zero, so the text is built here.
    if (!local || local->tm_year + 1900 > 9999 || local->tm_year + 1900 < 0 || local->tm_wday < 0 ||
        local->tm_wday > 6 || local->tm_mon < 0 || local->tm_mon > 11)
        return;
    std::snprintf(buffer, TIME_TEXT_SIZE, "%s %s %2d %02d:%02d:%02d %04d\n",
                  names_for_time().days[local->tm_wday].c_str(),
                  names_for_time().months[local->tm_mon].c_str(), local->tm_mday, local->tm_hour,
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

// Folders and files not listed since the last listing that said how many.
static int g_not_listed;

void note_not_listed(const char* name, const std::string& why, bool why_in_language)
{
    ++g_not_listed;
    // A reason the system gives only in English makes the line English.
    if (!why_in_language) {
        english_texts english;
        status_print(formatted(tr("Not listed, %s: %s"), why.c_str(), name).c_str());
        return;
    }
    status_print(formatted(tr("Not listed, %s: %s"), why.c_str(), name).c_str());
}

// What a listed file shows, and what tells it from every other file.
struct listed_file {
    int64_t size, time;
    std::pair<uint64_t, uint64_t> identity; // volume and file number; 0 where none
};

// The status of a name to be listed; false, with why, for a name that is
// gone, cannot be read, or is no regular file (a folder, a FIFO or a
// device is refused here, never waited on).
static bool read_listed_file(const char* name, listed_file* file, std::string* why,
                             bool* why_in_language)
{
    *why_in_language = true;
    std::wstring wide;
    if (!system_path(name, &wide)) {
        *why = error_message(EINVAL, why_in_language);
        return false;
    }
    HANDLE handle =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *why_in_language = system_code_text(GetLastError(), current_language(), why);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK &&
                         GetFileInformationByHandle(handle, &info) &&
                         !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(handle);
    if (!regular) {
        *why = tr(NOT_REGULAR_FILE_TEXT);
        return false;
    }
    file->size = static_cast<int64_t>(uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow);
    file->time =
        unix_seconds(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    file->identity = {info.dwVolumeSerialNumber,
                      uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
    return true;
}

int fill_image_list(HWND owner, HWND list, bool announce)
{
    int result = 1;
    if (owner) {
        result = run_open_dialog(owner);
        announce = announce || result != 0;
    }

    const std::vector<const char*> names = selection_names();
    if (names.empty())
        result = 0;

    // The list is not redrawn while it is rebuilt: a visible list redrawn
    // and rescrolled after every row takes time that grows with the rows.
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    g_rows.clear();
    // One file reached by several names (two paths, a short name, a link)
    // is listed once, by the first.
    std::set<std::pair<uint64_t, uint64_t>> seen;
    int row = 0;
    for (const char* name : names) {
        listed_file file;
        std::string why;
        bool why_in_language;
        if (!read_listed_file(name, &file, &why, &why_in_language)) {
            if (announce)
                note_not_listed(name, why, why_in_language);
        } else if (file.identity.second == 0 || seen.insert(file.identity).second) {
            char time_text[TIME_TEXT_SIZE];
            format_modification_time(time_text, file.time);
            const uint32_t size = static_cast<uint32_t>(file.size);
            add_image_row(list, row, name, time_text, size);
            g_rows[size_t(row)].time = file.time;
            g_rows[size_t(row)].ticked = false;
            ++row;
        }
    }
    if (announce && g_not_listed > 0) {
        status_print(formatted(trn("%d folder or file was not listed",
                                   "%d folders or files were not listed", g_not_listed),
                               g_not_listed)
                         .c_str());
    }
    g_not_listed = 0;
    rank_folders();
    // The order chosen holds across every rebuild; until one is chosen, rows
    // are in their folders' order, and by name within a folder.
    if (g_sort_column >= 0)
        sort_image_list(list, g_sort_column, g_sort_descending);
    else
        sort_rows(list, FOLDER_COLUMN, false);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    return result;
}

// ---- What a name cell shows ----

// A text as a cell of this width shows it, in the list's font: whole where
// it fits; otherwise, for a name, its end given way to "…"; for a folder,
// its middle given way to "...", as Explorer shortens a path.
static std::string shown_in_cell(HWND list, const std::wstring& whole, int column_width,
                                 bool folder)
{
    std::vector<wchar_t> text(whole.begin(), whole.end());
    text.resize(whole.size() + 5, L'\0'); // the system's room to shorten in
    HDC dc = GetDC(list);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
    // The cell's text starts and ends a few pixels inside the column.
    const int width = std::max(column_width - scaled_for_dpi(16, g_list_dpi), 1);
    if (folder) {
        RECT area = {0, 0, width, 0};
        DrawTextW(dc, text.data(), -1, &area,
                  DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS | DT_MODIFYSTRING);
    } else {
        // As many characters as fit before the ellipsis, a surrogate pair
        // kept whole.
        SIZE size;
        int fit = 0;
        const int length = static_cast<int>(whole.size());
        GetTextExtentPoint32W(dc, whole.c_str(), length, &size);
        if (size.cx > width) {
            SIZE ellipsis;
            GetTextExtentPoint32W(dc, L"\x2026", 1, &ellipsis);
            GetTextExtentExPointW(dc, whole.c_str(), length, std::max<int>(width - ellipsis.cx, 0),
                                  &fit, nullptr, &size);
            if (fit > 0 && fit < length && whole[size_t(fit)] >= 0xDC00 &&
                whole[size_t(fit)] <= 0xDFFF)
                --fit;
            text.assign(whole.begin(), whole.begin() + fit);
            text.push_back(L'\x2026');
            text.push_back(L'\0');
        }
    }
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    return narrow_text(text.data());
}

static void copy_text(char* buffer, int capacity, const std::string& text)
{
    if (buffer && capacity > 0)
        format_bounded(buffer, static_cast<size_t>(capacity), "%s", text.c_str());
}

// ---- A row's tooltip: its file's full path ----

// The tooltip over the list, and the row it last told of (-1: none).
static HWND g_row_tip;
static int g_tip_row = -1;
static std::string g_tip_text;

// The row under a point of the list's client area, or -1.
static int row_at(HWND list, POINT point)
{
    // In any column: a plain hit test finds only the first column's part.
    LVHITTESTINFO hit = {};
    hit.pt = point;
    return static_cast<int>(
        SendMessageA(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
}

static void add_row_tooltip(HWND parent, HWND list)
{
    g_row_tip =
        CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                        WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, g_instance, nullptr);
    if (!g_row_tip)
        return;
    // One tool, the whole list; its text is asked for as it shows. The
    // list is not subclassed (under Wine every message to a subclassed
    // window costs a call to the server): the message loop relays the
    // mouse to the tip.
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = parent;
    tool.uId = reinterpret_cast<UINT_PTR>(list);
    tool.lpszText = LPSTR_TEXTCALLBACKA;
    SendMessageA(g_row_tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    // A long path is broken into lines rather than running off the screen.
    SendMessageA(g_row_tip, TTM_SETMAXTIPWIDTH, 0, GetSystemMetrics(SM_CXSCREEN) / 2);
}

void relay_to_row_tip(const MSG& message)
{
    if (!g_row_tip || message.hwnd != g_image_list || message.message < WM_MOUSEFIRST ||
        message.message > WM_MOUSELAST)
        return;
    // Onto another row, the tip goes, to come back with that row's path.
    if (message.message == WM_MOUSEMOVE) {
        const POINT point = {static_cast<short>(LOWORD(message.lParam)),
                             static_cast<short>(HIWORD(message.lParam))};
        if (row_at(message.hwnd, point) != g_tip_row)
            SendMessageA(g_row_tip, TTM_POP, 0, 0);
    }
    MSG relayed = message;
    SendMessageA(g_row_tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
}

bool answer_image_list(const NMHDR* header, LRESULT* result)
{
    if (header->code == LVN_GETDISPINFOA && header->idFrom == IDC_IMAGE_LIST) {
        // A name or folder cell: the row's, fitted to its column as it is now.
        NMLVDISPINFOA* info = reinterpret_cast<NMLVDISPINFOA*>(const_cast<NMHDR*>(header));
        const int column = info->item.iSubItem;
        const row_record* record =
            (column == NAME_COLUMN || column == FOLDER_COLUMN) && (info->item.mask & LVIF_TEXT)
                ? row_record_at(header->hwndFrom, info->item.iItem)
                : nullptr;
        if (column == VERDICT_COLUMN && g_target && (info->item.mask & LVIF_TEXT)) {
            if (row_record* judged = judged_row(header->hwndFrom, info->item.iItem))
                copy_text(info->item.pszText, info->item.cchTextMax,
                          verdict_cell_text(judged->verdict));
        }
        if (record) {
            const int width =
                static_cast<int>(SendMessageA(header->hwndFrom, LVM_GETCOLUMNWIDTH, column, 0));
            const bool folder = column == FOLDER_COLUMN;
            copy_text(info->item.pszText, info->item.cchTextMax,
                      shown_in_cell(header->hwndFrom, folder ? record->folder : record->own_name,
                                    width, folder));
        }
        *result = 0;
        return true;
    }
    if (header->code == TTN_GETDISPINFOA && g_row_tip && header->hwndFrom == g_row_tip) {
        // The tip, about to show: the full path of the row under the mouse,
        // or nothing (no tip) away from the rows.
        NMTTDISPINFOA* info = reinterpret_cast<NMTTDISPINFOA*>(const_cast<NMHDR*>(header));
        HWND list = reinterpret_cast<HWND>(header->idFrom);
        POINT point;
        GetCursorPos(&point);
        ScreenToClient(list, &point);
        g_tip_row = row_at(list, point);
        const row_record* record = row_record_at(list, g_tip_row);
        g_tip_text = record ? narrow_text(full_path(record->wide_name)) : std::string();
        // With a target chosen, its verdict, why, and the command that mends it.
        if (const row_record* judged = g_target ? judged_row(list, g_tip_row) : nullptr) {
            g_tip_text +=
                std::string("\n") + g_target->full_name + ": " + verdict_cell_text(judged->verdict);
            if (!judged->verdict_reason.empty())
                g_tip_text += ": " + judged->verdict_reason;
            if (!judged->verdict_command.empty())
                g_tip_text += "\n" + judged->verdict_command;
        }
        info->lpszText = const_cast<char*>(g_tip_text.c_str());
        info->szText[0] = '\0';
        *result = 0;
        return true;
    }
    return false;
}

// ---- Sorting ----

// The column and direction compare_rows sorts by.
static int g_compare_column = FOLDER_COLUMN;
static bool g_compare_descending;

// Compares two rows by a column: ticked rows first, names and folders as
// Explorer orders them (a name's ties by folder, a folder's by name), times
// and sizes as numbers; ties keep the selection's order.
static int CALLBACK compare_rows(LPARAM first, LPARAM second, LPARAM)
{
    const size_t count = g_rows.size();
    if (first < 0 || second < 0 || size_t(first) >= count || size_t(second) >= count)
        return first < second ? -1 : first > second;
    const row_record& a = g_rows[size_t(first)];
    const row_record& b = g_rows[size_t(second)];
    // As Explorer sorts names: case ignored, digits as numbers, letters in
    // the order of the user's language.
    auto names = [&] { return StrCmpLogicalW(a.own_name.c_str(), b.own_name.c_str()); };
    // Folders by their ranks, worked out once a fill: most rows share one,
    // and the system's comparison of two long paths is slow under Wine.
    auto folders = [&] {
        if (a.folder_rank != b.folder_rank)
            return a.folder_rank < b.folder_rank ? -1 : 1;
        return a.folder == b.folder ? 0 : StrCmpLogicalW(a.folder.c_str(), b.folder.c_str());
    };
    int order = 0;
    switch (g_compare_column) {
    case 0:
        order = a.ticked == b.ticked ? 0 : a.ticked ? -1 : 1;
        break;
    case NAME_COLUMN:
        order = names();
        order = order != 0 ? order : folders();
        break;
    case FOLDER_COLUMN:
        order = folders();
        order = order != 0 ? order : names();
        break;
    case TIME_COLUMN:
        order = a.time < b.time ? -1 : a.time > b.time;
        break;
    default:
        order = a.size < b.size ? -1 : a.size > b.size;
        break;
    }
    if (g_compare_descending)
        order = -order;
    return order != 0 ? order : (first < second ? -1 : 1);
}

// Puts the rows in a column's order.
static void sort_rows(HWND list, int column, bool descending)
{
    g_compare_column = column;
    g_compare_descending = descending;
    SendMessageA(list, LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(compare_rows));
}

// The header's arrow on the sort column, and on no other.
static void show_sort_arrow(HWND list)
{
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    for (int column = 0; column < static_cast<int>(std::size(image_columns)); ++column) {
        HDITEMA item = {};
        item.mask = HDI_FORMAT;
        SendMessageA(header, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(&item));
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (column == g_sort_column)
            item.fmt |= g_sort_descending ? HDF_SORTDOWN : HDF_SORTUP;
        SendMessageA(header, HDM_SETITEMA, column, reinterpret_cast<LPARAM>(&item));
    }
}

void sort_image_list(HWND list, int column, bool descending)
{
    if (column >= static_cast<int>(std::size(image_columns)))
        return;
    g_sort_column = column < 0 ? -1 : column;
    g_sort_descending = descending;
    if (column < 0) {
        show_sort_arrow(list); // the selection's order from the next rebuild on
        return;
    }
    if (column == 0) {
        // Ticks are the list's own state: taken into the records first.
        const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < rows; ++row) {
            LVITEMA item = {};
            item.mask = LVIF_PARAM;
            item.iItem = row;
            if (SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)) &&
                item.lParam >= 0 && size_t(item.lParam) < g_rows.size())
                g_rows[size_t(item.lParam)].ticked = row_is_ticked(list, row);
        }
    }
    sort_rows(list, column, descending);
    show_sort_arrow(list);
}

void sort_by_column_click(HWND list, int column)
{
    sort_image_list(list, column, column == g_sort_column ? !g_sort_descending : false);
}

int count_ticked_rows(HWND list)
{
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    int ticked = 0;
    for (int row = 0; row < rows; ++row)
        ticked += row_is_ticked(list, row);
    return ticked;
}

int tick_rows_named(HWND list, const std::vector<std::string>& names)
{
    const std::set<std::string> wanted(names.begin(), names.end());
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    int first = -1;
    for (int row = 0; row < rows && !wanted.empty(); ++row) {
        const std::string* name = row_name(list, row);
        if (!name || !wanted.count(*name))
            continue;
        set_row_state(list, row, ROW_TICKED);
        if (first < 0)
            first = row;
    }
    if (first >= 0)
        SendMessageA(list, LVM_ENSUREVISIBLE, first, FALSE);
    return first;
}

// ---- A target's verdicts ----

const target_rule* shown_target()
{
    return g_target;
}

void show_target_column(HWND list, const target_rule* target)
{
    const bool shown = g_target != nullptr;
    g_target = target;
    for (row_record& record : g_rows)
        record.verdict = -1;
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    if (target && !shown) {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = verdict_column.alignment;
        column.cx = verdict_column_width(list, g_list_dpi);
        column.pszText = const_cast<char*>(tr(verdict_column.title));
        column.iSubItem = VERDICT_COLUMN;
        SendMessageA(list, LVM_INSERTCOLUMNA, VERDICT_COLUMN, reinterpret_cast<LPARAM>(&column));
        SendMessageA(list, LVM_SETCOLUMNORDERARRAY, std::size(column_order),
                     reinterpret_cast<LPARAM>(column_order));
        for (int row = 0; row < rows; ++row)
            set_cell_text(list, row, VERDICT_COLUMN, LPSTR_TEXTCALLBACKA);
    } else if (!target && shown) {
        SendMessageA(list, LVM_DELETECOLUMN, VERDICT_COLUMN, 0);
    }
    InvalidateRect(list, nullptr, TRUE);
}

int tick_rows_not_loading(HWND list)
{
    if (!g_target)
        return 0;
    const int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    int ticked = 0, first = -1;
    for (int row = 0; row < rows; ++row) {
        const row_record* record = judged_row(list, row);
        if (!record ||
            (record->verdict != VERDICT_REFUSED && record->verdict != VERDICT_LOSES_ON_SAVE))
            continue;
        set_row_state(list, row, ROW_TICKED);
        first = first < 0 ? row : first;
        ++ticked;
    }
    if (first >= 0)
        SendMessageA(list, LVM_ENSUREVISIBLE, first, FALSE);
    return ticked;
}

// Gives each row its folder's rank among the list's folders, as Explorer
// orders them, so that a sort compares numbers.
static void rank_folders()
{
    std::vector<const std::wstring*> folders;
    for (const row_record& record : g_rows)
        folders.push_back(&record.folder);
    std::sort(folders.begin(), folders.end(),
              [](const std::wstring* a, const std::wstring* b) { return *a < *b; });
    folders.erase(
        std::unique(folders.begin(), folders.end(),
                    [](const std::wstring* a, const std::wstring* b) { return *a == *b; }),
        folders.end());
    std::stable_sort(folders.begin(), folders.end(),
                     [](const std::wstring* a, const std::wstring* b) {
                         return StrCmpLogicalW(a->c_str(), b->c_str()) < 0;
                     });
    std::map<std::wstring, int> rank;
    for (size_t i = 0; i < folders.size(); ++i)
        rank.emplace(*folders[i], static_cast<int>(i));
    for (row_record& record : g_rows)
        record.folder_rank = rank[record.folder];
}
