// A small Windows program that the end-to-end tests run beside korvat.exe,
// under the same Wine, to drive and read what the keyboard cannot: the
// file-open dialog, the quit question, the status pane, the list's rows and
// the main window's frame. Every wait is bounded. Texts are printed as UTF-8.
//
//   probe wait-open-dialog MS       wait for the file-open dialog to appear
//   probe wait-dialog TITLE MS      wait for a dialog (class #32770) to appear
//   probe wait-gone TITLE MS        wait for it to go
//   probe pick FOLDER NAME...       in the Open dialog: go to FOLDER, pick NAMEs
//   probe timed-pick FOLDER LIST    the same with names from a file; prints the time
//                                   from the click to the filled list
//   probe timed-key HEX             post a key press to the main window; prints the
//                                   time until the window answers again
//   probe timed-batch HEX TEXT      the same, until the status pane ends with TEXT
//                                   ("\n" a line feed) and the title is plain
//   probe cancel                    press Cancel in the Open dialog
//   probe main-window               "visible" or "hidden", or fails when absent
//   probe window                    frame, styles and screen size of the main window
//   probe status                    the status pane's text, line feeds as "\n"
//   probe status-lines              the status pane's lines, one per line, as they are
//   probe rows                      one line per list row: state|name|time|size
//   probe question [TITLE]          a question's text and default button (the
//                                   quit question, "Notify", by default)
//   probe answer yes|no|cancel [TITLE]  press a button of that question
//   probe close                     close the main window as its title bar does
//   probe title-during-batch MS     the main window's title once it shows progress
//   probe close-during-batch HEX MS post a key press to the main window, wait for the
//                                   title to show a batch's progress, then close it
//   probe focus                     the identifier of the control with the focus
//   probe memory                    korvat.exe's committed bytes and working set
//   probe acp                       the ANSI code page
//   probe clipboard                 the clipboard's Unicode text, line feeds as they are
//   probe controls                  id, place and size of each control
//   probe during-batch              read the status pane twice during a batch, then
//                                   close; prints what changed (see during_batch)
//   probe hold FILE MS              open FILE for reading and writing, sharing nothing,
//                                   as an emulator holds a mounted image; prints "held"
//                                   and keeps it MS milliseconds
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <vector>

namespace
{

void print_utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fputc('\n', stdout);
}

// Newlines shown as \n so that a cell stays on one line.
std::wstring escaped(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\n')
            out += L"\\n";
        else
            out += c;
    }
    return out;
}

std::wstring window_text(HWND window)
{
    wchar_t text[8192] = L"";
    SendMessageW(window, WM_GETTEXT, sizeof text / sizeof text[0], reinterpret_cast<LPARAM>(text));
    return text;
}

HWND find_dialog(const wchar_t* title)
{
    return FindWindowW(L"#32770", title);
}

HWND wait_for_dialog(const wchar_t* title, DWORD ms)
{
    for (DWORD waited = 0;; waited += 50) {
        HWND dialog = find_dialog(title);
        if (dialog && IsWindowVisible(dialog))
            return dialog;
        if (waited >= ms)
            return nullptr;
        Sleep(50);
    }
}

bool wait_until_gone(HWND window, DWORD ms)
{
    for (DWORD waited = 0; IsWindow(window); waited += 50) {
        if (waited >= ms)
            return false;
        Sleep(50);
    }
    return true;
}

// The main window, whatever its title says (a batch shows its progress there).
HWND main_window()
{
    return FindWindowW(L"MainWClass", nullptr);
}

// The Open dialog's file-name box: a combo box (with an edit inside) on
// Windows, an edit on Wine.
HWND file_name_box(HWND dialog)
{
    HWND box = GetDlgItem(dialog, 0x47C); // cmb13
    if (box) {
        HWND edit = FindWindowExW(box, nullptr, L"Edit", nullptr);
        return edit ? edit : box;
    }
    return GetDlgItem(dialog, 0x480); // edt1
}

bool submit_name(HWND dialog, const std::wstring& text)
{
    HWND box = file_name_box(dialog);
    if (!box)
        return false;
    SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    return true;
}

// The file-open dialog, whatever the language of its title: the dialog
// window that holds a file-name box.
HWND find_open_dialog()
{
    HWND found = nullptr;
    EnumWindows(
        [](HWND window, LPARAM result) -> BOOL {
            wchar_t name[64] = L"";
            GetClassNameW(window, name, 64);
            if (std::wcscmp(name, L"#32770") == 0 && IsWindowVisible(window) &&
                (GetDlgItem(window, 0x47C) || GetDlgItem(window, 0x480))) {
                *reinterpret_cast<HWND*>(result) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND wait_for_open_dialog(DWORD ms)
{
    for (DWORD waited = 0;; waited += 50) {
        if (HWND dialog = find_open_dialog())
            return dialog;
        if (waited >= ms)
            return nullptr;
        Sleep(50);
    }
}

// Goes to the folder (the dialog may open in the last folder it was used
// in), then picks the names there, quoted when there are several. With
// `timed`, prints the milliseconds from the click that picks them to the
// moment the program answers again with its list filled, and the row count.
int pick_names(HWND dialog, const std::wstring& folder, const std::vector<std::wstring>& picked,
               bool timed)
{
    std::wstring names;
    if (picked.size() == 1) {
        names = picked[0];
    } else {
        for (size_t i = 0; i < picked.size(); ++i)
            names += (i > 0 ? L" \"" : L"\"") + picked[i] + L"\"";
    }
    // Let the dialog finish filling itself before a name goes in. It
    // empties the name box once it shows the folder; a click that came too
    // early, or found the dialog in that folder already, leaves the box as
    // it was, and the names then go in all the same.
    Sleep(300);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!submit_name(dialog, folder))
            return 1;
        DWORD waited = 0;
        while (!window_text(file_name_box(dialog)).empty() && waited < 3000) {
            Sleep(50);
            waited += 50;
        }
        if (waited < 3000)
            break;
    }
    Sleep(300);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!submit_name(dialog, names))
            return 1;
        if (wait_until_gone(dialog, timed ? 600000 : 5000))
            break;
        if (attempt == 2)
            return 1;
    }
    if (timed) {
        // The program answers once it is back in its message loop, after the fill.
        HWND list = nullptr;
        while (!(list = GetDlgItem(main_window(), 1)))
            Sleep(1);
        const LRESULT rows = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
        QueryPerformanceCounter(&end);
        std::printf("%.1f ms %ld rows\n",
                    1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart,
                    static_cast<long>(rows));
    }
    return 0;
}

int pick(int argc, wchar_t** argv)
{
    HWND dialog = wait_for_open_dialog(20000);
    if (!dialog || argc < 4)
        return 1;
    return pick_names(dialog, argv[2], std::vector<std::wstring>(argv + 3, argv + argc), false);
}

// The names, one per line in a UTF-8 file, for selections too long for a command line.
int timed_pick(const wchar_t* folder, const wchar_t* list_file)
{
    HWND dialog = wait_for_open_dialog(20000);
    FILE* file = _wfopen(list_file, L"rb");
    if (!dialog || !file)
        return 1;
    std::vector<std::wstring> names;
    char line[1024];
    while (std::fgets(line, sizeof line, file)) {
        line[std::strcspn(line, "\r\n")] = '\0';
        wchar_t wide[1024];
        if (line[0] && MultiByteToWideChar(CP_UTF8, 0, line, -1, wide, 1024) > 0)
            names.push_back(wide);
    }
    std::fclose(file);
    return pick_names(dialog, folder, names, true);
}

// Posts a key press to the main window, as the keyboard would, and prints the
// milliseconds until the program answers again (its command has run).
int timed_key(const wchar_t* key)
{
    HWND main = main_window();
    HWND list = GetDlgItem(main, 1);
    if (!main || !list)
        return 1;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    PostMessageW(main, WM_KEYDOWN, std::wcstoul(key, nullptr, 16), 0);
    const LRESULT rows = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
    QueryPerformanceCounter(&end);
    std::printf("%.1f ms %ld rows\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart,
                static_cast<long>(rows));
    return 0;
}

// Posts a key press to the main window and prints the time until the
// status pane ends with TEXT ("\n" in it stands for a line feed) and the
// title is plain again: a whole batch as the user sees it end.
int timed_batch(const wchar_t* key, const std::wstring& text)
{
    std::wstring wanted;
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] == L'\\' && at + 1 < text.size() && text[at + 1] == L'n') {
            wanted += L'\n';
            ++at;
        } else {
            wanted += text[at];
        }
    }
    HWND main = main_window();
    HWND pane = GetDlgItem(main, 2);
    if (!main || !pane)
        return 1;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    PostMessageW(main, WM_KEYDOWN, std::wcstoul(key, nullptr, 16), 0);
    for (int waited = 0; waited < 600000; waited += 2) {
        const std::wstring shown = window_text(pane);
        if (shown.size() >= wanted.size() &&
            shown.compare(shown.size() - wanted.size(), wanted.size(), wanted) == 0 &&
            window_text(main) == L"KORVAT for Windows") {
            QueryPerformanceCounter(&end);
            std::printf("%.1f ms\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart);
            return 0;
        }
        Sleep(2);
    }
    return 1;
}

// Reads the list of another process through memory allocated in it: each
// row's tick state and the texts of the columns given.
int rows(std::initializer_list<int> columns)
{
    HWND list = GetDlgItem(main_window(), 1);
    if (!list)
        return 1;
    DWORD process_id = 0;
    GetWindowThreadProcessId(list, &process_id);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id);
    if (!process)
        return 1;
    const SIZE_T text_size = 4096;
    char* remote = static_cast<char*>(
        VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + text_size, MEM_COMMIT, PAGE_READWRITE));
    if (!remote)
        return 1;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        UINT state = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, row, 0xF000));
        std::wstring line = std::to_wstring(state >> 12);
        for (int column : columns) {
            LVITEMW item = {};
            item.iSubItem = column;
            item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
            item.cchTextMax = text_size / sizeof(wchar_t);
            WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
            SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote));
            wchar_t text[text_size / sizeof(wchar_t)] = L"";
            ReadProcessMemory(process, remote + sizeof(LVITEMW), text, sizeof text - 2, nullptr);
            line += L"|" + escaped(text);
        }
        print_utf8(line);
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return 0;
}

int window()
{
    HWND main = main_window();
    if (!main)
        return 1;
    RECT frame;
    GetWindowRect(main, &frame);
    std::printf("%ld %ld %ld %ld 0x%08lX 0x%08lX %d %d\n", frame.left, frame.top,
                frame.right - frame.left, frame.bottom - frame.top,
                static_cast<unsigned long>(GetWindowLongW(main, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongW(main, GWL_EXSTYLE)),
                GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    print_utf8(window_text(main));
    std::printf("class icon %s\n", GetClassLongPtrW(main, GCLP_HICON) ? "set" : "none");
    return 0;
}

// The quit question: its text, the button that is the default push button
// and the one with the focus, and whether it has an owner window.
int question(const wchar_t* title)
{
    HWND dialog = wait_for_dialog(title, 10000);
    if (!dialog)
        return 1;
    Sleep(200);
    HWND text = GetDlgItem(dialog, 0xFFFF); // the message box's text
    std::wstring message = text ? window_text(text) : L"";
    int default_button = 0;
    for (int id : {IDYES, IDNO, IDCANCEL}) {
        HWND button = GetDlgItem(dialog, id);
        if (button && (GetWindowLongW(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON)
            default_button = id;
    }
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread);
    const int focused = thread.hwndFocus ? GetDlgCtrlID(thread.hwndFocus) : 0;
    HWND owner = GetWindow(dialog, GW_OWNER);
    print_utf8(message + L"|" + std::to_wstring(default_button) + L"|" + std::to_wstring(focused) +
               L"|" + (owner ? L"owned" : L"no owner"));
    return 0;
}

int answer(const wchar_t* which, const wchar_t* title)
{
    HWND dialog = wait_for_dialog(title, 10000);
    if (!dialog)
        return 1;
    const int id = std::wcscmp(which, L"yes") == 0  ? IDYES
                   : std::wcscmp(which, L"no") == 0 ? IDNO
                                                    : IDCANCEL;
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
    return wait_until_gone(dialog, 10000) ? 0 : 1;
}

// A checksum of the pixels the screen shows in a window's rectangle.
unsigned long long screen_checksum(HWND window)
{
    RECT area;
    GetWindowRect(window, &area);
    const int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    std::vector<unsigned> pixels(static_cast<size_t>(width) * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    unsigned long long sum = 1469598103934665603ull;
    for (unsigned pixel : pixels)
        sum = (sum ^ pixel) * 1099511628211ull;
    return sum;
}

// Each control of the main window, one line each: its id, its place and
// size in the window's client area. (Its font cannot be asked from here:
// Wine refuses WM_GETFONT from another process.)
int controls()
{
    HWND main = main_window();
    if (!main)
        return 1;
    for (int id = 1; id <= 8; ++id) {
        HWND control = GetDlgItem(main, id);
        if (!control)
            return 1;
        RECT area;
        GetWindowRect(control, &area);
        MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&area), 2);

        std::printf("%d %ld %ld %ld %ld\n", id, area.left, area.top, area.right - area.left,
                    area.bottom - area.top);
    }
    return 0;
}

// The buttons' texts, as the window shows them, one per line in the order
// of their identifiers (3 to 8).
int button_texts()
{
    HWND main = main_window();
    if (!main)
        return 1;
    for (int id = 3; id <= 8; ++id) {
        HWND control = GetDlgItem(main, id);
        if (!control)
            return 1;
        print_utf8(window_text(control));
    }
    return 0;
}

// While a batch runs: two readings of the status pane, its text and its
// pixels on screen, 300 ms apart, then a close as the title bar sends it.
// Prints whether the texts and pictures differ, whether the window is
// still there 300 ms after the close, and the second text.
int during_batch()
{
    HWND pane = nullptr;
    for (int waited = 0; waited < 60000; waited += 10) {
        pane = GetDlgItem(main_window(), 2);
        if (pane && window_text(pane).find(L"Cutting zeros from") != std::wstring::npos)
            break;
        pane = nullptr;
        Sleep(10);
    }
    if (!pane)
        return 1;
    const std::wstring first = window_text(pane);
    const unsigned long long first_picture = screen_checksum(pane);
    Sleep(300);
    const std::wstring second = window_text(pane);
    const unsigned long long second_picture = screen_checksum(pane);
    HWND main = main_window();
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    Sleep(300);
    std::printf("texts %s\n", first != second ? "differ" : "same");
    std::printf("pictures %s\n", first_picture != second_picture ? "differ" : "same");
    std::printf("after the close %s\n", IsWindow(main) ? "open" : "gone");
    print_utf8(escaped(second));
    return 0;
}

// The main window's title once a batch shows its progress there, waiting
// at most ms milliseconds.
int title_during_batch(DWORD ms)
{
    for (DWORD waited = 0; waited < ms; waited += 5) {
        const std::wstring title = window_text(main_window());
        if (title.find(L" of ") != std::wstring::npos) {
            print_utf8(title);
            return 0;
        }
        Sleep(5);
    }
    return 1;
}

// The identifier of the control that has the keyboard focus in korvat.exe,
// 0 for the main window itself.
int focused_control()
{
    HWND main = main_window();
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    if (!main || !GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &thread))
        return 1;
    std::printf("%d\n",
                thread.hwndFocus && thread.hwndFocus != main ? GetDlgCtrlID(thread.hwndFocus) : 0);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const std::wstring command = argv[1];
    if (command == L"wait-open-dialog" && argc == 3)
        return wait_for_open_dialog(std::wcstoul(argv[2], nullptr, 10)) ? 0 : 1;
    if (command == L"wait-dialog" && argc == 4)
        return wait_for_dialog(argv[2], std::wcstoul(argv[3], nullptr, 10)) ? 0 : 1;
    if (command == L"wait-gone" && argc == 4) {
        HWND dialog = find_dialog(argv[2]);
        return !dialog || wait_until_gone(dialog, std::wcstoul(argv[3], nullptr, 10)) ? 0 : 1;
    }
    if (command == L"pick")
        return pick(argc, argv);
    if (command == L"timed-pick" && argc == 4)
        return timed_pick(argv[2], argv[3]);
    if (command == L"timed-batch" && argc == 4)
        return timed_batch(argv[2], argv[3]);
    if (command == L"timed-key" && argc == 3)
        return timed_key(argv[2]);
    if (command == L"cancel") {
        HWND dialog = wait_for_open_dialog(20000);
        if (!dialog)
            return 1;
        PostMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        return wait_until_gone(dialog, 20000) ? 0 : 1;
    }
    if (command == L"main-window") {
        HWND main = main_window();
        if (!main)
            return 1;
        std::puts(IsWindowVisible(main) ? "visible" : "hidden");
        return 0;
    }
    if (command == L"window")
        return window();
    if (command == L"status" || command == L"status-lines") {
        HWND pane = GetDlgItem(main_window(), 2);
        if (!pane)
            return 1;
        std::wstring text = window_text(pane);
        if (command == L"status") {
            print_utf8(escaped(text));
        } else if (!text.empty()) {
            text.pop_back(); // every line ends in a line feed
            print_utf8(text);
        }
        return 0;
    }
    if (command == L"rows")
        return rows({1, 2, 3});
    if (command == L"folders")
        return rows({4});
    if (command == L"verdicts")
        return rows({5});
    if (command == L"tooltip") {
        // The text of the main window's tooltip once it shows (a tooltip
        // control gives its text to WM_GETTEXT), waiting up to 10 s.
        DWORD owner = 0;
        GetWindowThreadProcessId(main_window(), &owner);
        for (int waited = 0; waited < 200; ++waited) {
            HWND tip = nullptr;
            while ((tip = FindWindowExW(nullptr, tip, L"tooltips_class32", nullptr))) {
                DWORD process = 0;
                GetWindowThreadProcessId(tip, &process);
                wchar_t text[2048] = L"";
                DWORD_PTR length = 0;
                if (process == owner && IsWindowVisible(tip) &&
                    SendMessageTimeoutW(tip, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text),
                                        SMTO_ABORTIFHUNG, 2000, &length) &&
                    length > 0) {
                    print_utf8(text);
                    return 0;
                }
            }
            Sleep(50);
        }
        return 1;
    }
    if (command == L"syscommand" && argc == 3) {
        // A command of the window's system menu, by its identifier.
        return PostMessageW(main_window(), WM_SYSCOMMAND, std::wcstoul(argv[2], nullptr, 16), 0)
                   ? 0
                   : 1;
    }
    if (command == L"pane-rect") {
        // The status pane's place on the screen: WIDTHxHEIGHT+LEFT+TOP.
        RECT area;
        if (!GetWindowRect(GetDlgItem(main_window(), 2), &area)) // IDC_STATUS
            return 1;
        std::printf("%ldx%ld+%ld+%ld\n", area.right - area.left, area.bottom - area.top, area.left,
                    area.top);
        return 0;
    }
    if (command == L"message-font" && argc == 3) {
        // The system's message font at another height, kept for the
        // programs started after it.
        NONCLIENTMETRICSW metrics = {};
        metrics.cbSize = sizeof metrics;
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
            return 1;
        metrics.lfMessageFont.lfHeight = std::wcstol(argv[2], nullptr, 10);
        return SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof metrics, &metrics,
                                     SPIF_UPDATEINIFILE | SPIF_SENDCHANGE)
                   ? 0
                   : 1;
    }
    if (command == L"title-during-batch" && argc == 3)
        return title_during_batch(std::wcstoul(argv[2], nullptr, 10));
    if (command == L"close-during-batch" && argc == 4) {
        // One program presses, watches and closes: no start of another
        // program comes between them, however short the batch.
        PostMessageW(main_window(), WM_KEYDOWN, std::wcstoul(argv[2], nullptr, 16), 0);
        if (title_during_batch(std::wcstoul(argv[3], nullptr, 10)) != 0)
            return 1;
        PostMessageW(main_window(), WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    if (command == L"focus")
        return focused_control();
    if (command == L"question")
        return question(argc >= 3 ? argv[2] : L"Notify");
    if (command == L"answer" && argc >= 3)
        return answer(argv[2], argc >= 4 ? argv[3] : L"Notify");
    if (command == L"close") {
        HWND main = main_window();
        if (!main)
            return 1;
        PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    if (command == L"memory") {
        DWORD process_id = 0;
        GetWindowThreadProcessId(main_window(), &process_id);
        HANDLE process =
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id);
        PROCESS_MEMORY_COUNTERS_EX counters = {};
        counters.cb = sizeof counters;
        if (!process ||
            !GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                  sizeof counters))
            return 1;
        std::printf("%llu %llu\n", static_cast<unsigned long long>(counters.PagefileUsage),
                    static_cast<unsigned long long>(counters.WorkingSetSize));
        CloseHandle(process);
        return 0;
    }
    if (command == L"controls")
        return controls();
    if (command == L"buttons")
        return button_texts();
    if (command == L"during-batch")
        return during_batch();
    if (command == L"hold" && argc == 4) {
        HANDLE file = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 1;
        std::puts("held");
        std::fflush(stdout);
        Sleep(std::wcstoul(argv[3], nullptr, 10));
        CloseHandle(file);
        return 0;
    }
    if (command == L"clipboard") {
        if (!OpenClipboard(nullptr))
            return 1;
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        const wchar_t* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
        if (text) {
            std::wstring copy = text;
            GlobalUnlock(data);
            print_utf8(copy);
        }
        CloseClipboard();
        return text ? 0 : 1;
    }
    if (command == L"acp") {
        std::printf("%u\n", GetACP());
        return 0;
    }
    return 2;
}
