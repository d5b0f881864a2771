#include "main_window.h"

#include "batch.h"
#include "control_ids.h"
#include "dll_search.h"
#include "image_list.h"
#include "messages.h"
#include "status_log.h"
#include "system_path.h"

#include <commctrl.h>
#include <oleacc.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// Size and title of the main window, which cannot be resized.
constexpr int MAIN_WIDTH = 640;
constexpr int MAIN_HEIGHT = 480;
constexpr DWORD MAIN_STYLE = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
static const char main_class_name[] = "MainWClass";
// The window's title, in the user's language.
static const char* main_title()
{
    return tr("KORVAT for Windows");
}

struct key_command {
    WPARAM key;
    unsigned command;
};

// Single keys and the commands they send; Shift and Ctrl are not consulted.
// The keypad and function keys have the codes of lower-case e, f, n, r, s, z.
static const key_command key_commands[] = {
    {'E', IDC_SELECT_ALL},          {'F', IDC_FILES},
    {'N', IDC_UNSELECT_ALL},        {'R', IDC_RESTORE_SIZE},
    {'S', IDC_CUT_FREE_SECTORS},    {'Z', IDC_CUT_ZEROS},
    {VK_NUMPAD5, IDC_SELECT_ALL},   {VK_NUMPAD6, IDC_FILES},
    {VK_DECIMAL, IDC_UNSELECT_ALL}, {VK_F3, IDC_RESTORE_SIZE},
    {VK_F4, IDC_CUT_FREE_SECTORS},  {VK_F11, IDC_CUT_ZEROS},
};

struct control_spec {
    unsigned id;
    const char* window_class;
    const char* text;
    int x, y, width, height;
};

// The buttons in their order of creation, then the status pane.
static const control_spec buttons[] = {
    // TRANSLATORS: each button's letter after "&" is its key, which stays
    // the same in every language: "Отметить все (&E)".
    {IDC_SELECT_ALL, "button", text_to_translate("S&elect all"), 10, 250, 80, 24},
    {IDC_UNSELECT_ALL, "button", text_to_translate("U&nselect all"), 100, 250, 100, 24},
    {IDC_FILES, "button", text_to_translate("&Files"), 210, 250, 70, 24},
    {IDC_CUT_ZEROS, "button", text_to_translate("Cut &zeros"), 290, 250, 80, 24},
    {IDC_CUT_FREE_SECTORS, "button", text_to_translate("Cut free &sectors"), 380, 250, 120, 24},
    {IDC_RESTORE_SIZE, "button", text_to_translate("&Restore size"), 510, 250, 110, 24},
};
static const control_spec status_pane = {IDC_STATUS, "static", nullptr, 10, 290, 610, 150};

// While a batch runs the window is modal: it repaints and can be moved, but
// takes no command, key or drop, and a close waits for the batch to end;
// Escape asks whether to stop after the file in hand.
static bool g_batch_running;
static bool g_close_deferred;
static DWORD g_last_pump;
// Files the batch has and has reached, for the title and the stop line;
// those it changed or found right, so that every other ticked row (failed,
// left, or not reached after a stop) stays ticked after the rebuild.
static size_t g_batch_total;
static size_t g_batch_done;
static std::set<std::string> g_finished_names;
// The taskbar button's progress, where the system has it (Windows 7 and
// later); null otherwise. Made once with the window: the first call loads
// the shell's components, which a batch should not wait for.
static ITaskbarList3* g_taskbar;

// The main window, for the questions it owns.
static HWND g_main_window;

static void focus_first_row_if_none();
static void focus_row(int row);

// ---- Progress ----

static void connect_taskbar()
{
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&g_taskbar))))
        g_taskbar = nullptr;
    if (g_taskbar && FAILED(g_taskbar->HrInit())) {
        g_taskbar->Release();
        g_taskbar = nullptr;
    }
}

static void disconnect_taskbar()
{
    if (g_taskbar)
        g_taskbar->Release();
    g_taskbar = nullptr;
}

// The title says how far the batch has gone, and so does the taskbar button.
static void show_progress()
{
    const std::string title =
        formatted(tr("%s - %s of %s"), main_title(), grouped(g_batch_done).c_str(),
                  grouped(g_batch_total).c_str());
    SetWindowTextA(g_main_window, title.c_str());
    if (g_taskbar)
        g_taskbar->SetProgressValue(g_main_window, g_batch_done, g_batch_total);
}

static void end_progress()
{
    SetWindowTextA(g_main_window, main_title());
    if (g_taskbar)
        g_taskbar->SetProgressState(g_main_window, TBPF_NOPROGRESS);
}

// ---- The batch, with the window alive ----

// Escape during a batch: stop after the file in hand? No is the default.
static void ask_to_stop()
{
    if (MessageBoxA(g_main_window,
                    tr("Stop after the current file?\n\nThe files after it are left untouched."),
                    tr("Stop"), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
        g_batch_stop = true;
}

// Between two files of a batch: handles what is waiting for the window, at
// most every 30 ms, so that it repaints, moves, shows the status lines and
// its progress while the batch goes on. Input for the window's contents is
// dropped, but Escape asks whether to stop.
static void pump_during_batch()
{
    const DWORD now = GetTickCount();
    if (now - g_last_pump < 30)
        return;
    g_last_pump = now;
    show_progress();
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Not ours to take: the message loop ends the program after the batch.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE && !g_batch_stop) {
            ask_to_stop();
            continue;
        }
        if ((message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) ||
            (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

static void file_done(const char* name, batch_outcome outcome)
{
    ++g_batch_done;
    if (outcome == FILE_DONE)
        g_finished_names.insert(name);
    pump_during_batch();
}

// Input that came while the batch ran is dropped, as the batch drops it
// between files: an Escape pressed to stop a short batch must not ask to
// quit once it is over.
static void drop_queued_input()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE))
        continue;
    while (PeekMessageA(&message, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE))
        continue;
}

// Asked before a cut at the first free sector that would lose data; No,
// the default, keeps every such image.
static int ask_before_losing_data(const char* question)
{
    return MessageBoxA(g_main_window, question, tr("Cut free sectors"),
                       MB_YESNOCANCEL | MB_ICONWARNING | MB_DEFBUTTON2);
}

// One of the three operations over the ticked rows, then its summary and
// the list rebuilt, every row not done still ticked; a close that came
// meanwhile is carried out now. With no row ticked nothing is written, and
// a question answered Cancel leaves the list and its ticks as they were.
static void run_batch_command(HWND window, unsigned command)
{
    const std::vector<std::string> ticked = ticked_names(g_image_list);
    g_batch_total = ticked.size();
    g_batch_done = 0;
    g_finished_names.clear();
    batch_totals totals = {};
    bool ran = true;
    if (g_batch_total > 0) {
        g_batch_running = true;
        g_batch_stop = false;
        g_last_pump = GetTickCount();
        g_batch_file_done = file_done;
        const checked_images_hooks hooks = {ask_before_losing_data, pump_during_batch};
        ran = process_checked_images(command, g_image_list, &totals, &hooks);
        if (ran && g_batch_stop) {
            const std::string line =
                formatted(trn("Stopped: %s of %s file done", "Stopped: %s of %s files done",
                              static_cast<long long>(g_batch_total)),
                          grouped(totals.files).c_str(),
                          grouped(static_cast<long long>(g_batch_total)).c_str());
            status_print(line.c_str());
        }
        if (ran) {
            char summary[STATUS_LINE_SIZE];
            format_batch_summary(&totals, false, summary, sizeof summary);
            status_print(summary);
        }
        end_progress();
        drop_queued_input();
        g_batch_file_done = nullptr;
        g_batch_stop = false;
        g_batch_running = false;
    }
    if (ran) {
        fill_image_list(nullptr, g_image_list);
        std::vector<std::string> kept;
        for (const std::string& name : ticked)
            if (!g_finished_names.count(name))
                kept.push_back(name);
        // The keyboard starts from the first row still ticked.
        const int first_kept = tick_rows_named(g_image_list, kept);
        if (first_kept >= 0)
            focus_row(first_kept);
        else
            focus_first_row_if_none();
    }
    if (g_close_deferred) {
        g_close_deferred = false;
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
}

unsigned command_for_key(WPARAM virtual_key)
{
    for (const key_command& entry : key_commands)
        if (entry.key == virtual_key)
            return entry.command;
    return 0;
}

// ---- Display scaling ----
// Every figure above is for 96 DPI; the window scales them to its own DPI
// and uses the system's message font made for that DPI. The per-monitor
// calls are looked up at run time: Windows before 10 version 1607 has none,
// and then the system DPI and the plain metrics serve.

// The message font for g_font_dpi; made once per DPI, deleted at exit or
// when the DPI changes.
static HFONT g_font;
static UINT g_font_dpi;

template <typename Function> static Function user32_call(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name)));
}

// The system DPI: the one every window starts with on a single display.
static UINT system_dpi()
{
    if (auto get_dpi_for_system = user32_call<UINT(WINAPI*)()>("GetDpiForSystem"))
        return get_dpi_for_system();
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT window_dpi(HWND window)
{
    if (auto get_dpi_for_window = user32_call<UINT(WINAPI*)(HWND)>("GetDpiForWindow")) {
        const UINT dpi = get_dpi_for_window(window);
        if (dpi > 0)
            return dpi;
    }
    return system_dpi();
}

// The system's message font for a DPI; null when the metrics cannot be read.
static HFONT make_message_font(UINT dpi)
{
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    typedef BOOL(WINAPI * metrics_for_dpi)(UINT, UINT, void*, UINT, UINT);
    if (auto for_dpi = user32_call<metrics_for_dpi>("SystemParametersInfoForDpi")) {
        NONCLIENTMETRICSW wide = {};
        wide.cbSize = sizeof wide;
        if (for_dpi(SPI_GETNONCLIENTMETRICS, sizeof wide, &wide, 0, dpi))
            return CreateFontIndirectW(&wide.lfMessageFont);
    }
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return nullptr;
    return CreateFontIndirectA(&metrics.lfMessageFont);
}

// The buttons are tab stops, the status pane is not.
static HWND create_control(HWND parent, const control_spec& control, DWORD style)
{
    return CreateWindowExA(0, control.window_class, control.text ? tr(control.text) : nullptr,
                           WS_CHILD | WS_VISIBLE | WS_BORDER | style, control.x, control.y,
                           control.width, control.height, parent,
                           reinterpret_cast<HMENU>(uintptr_t{control.id}), g_instance, nullptr);
}

void center_window(HWND window)
{
    RECT frame;
    GetWindowRect(window, &frame);
    const int screen_width = GetSystemMetrics(SM_CXSCREEN);
    const int screen_height = GetSystemMetrics(SM_CYSCREEN);
    SetWindowPos(window, nullptr, (screen_width - frame.right) / 2,
                 (screen_height - frame.bottom) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// The width a button's text takes in a font, in pixels; its "&" shows no
// character.
static int text_width(HFONT font, const char* text)
{
    const std::wstring wide = wide_text(text);
    HDC context = GetDC(nullptr);
    HGDIOBJ old =
        SelectObject(context, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    RECT area = {0, 0, 0, 0};
    DrawTextW(context, wide.c_str(), -1, &area, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(context, old);
    ReleaseDC(nullptr, context);
    return area.right - area.left;
}

void layout_main_window(HWND window, UINT dpi)
{
    if (!g_font || g_font_dpi != dpi) {
        if (HFONT font = make_message_font(dpi)) {
            for (const control_spec& button : buttons)
                SendMessageA(GetDlgItem(window, static_cast<int>(button.id)), WM_SETFONT,
                             reinterpret_cast<WPARAM>(font), TRUE);
            SendMessageA(g_status_pane, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
            if (g_font)
                DeleteObject(g_font);
            g_font = font;
            g_font_dpi = dpi;
        } // else the controls keep the font they have
    }

    // Each button as the figures say, scaled, unless its text (in the
    // user's language) needs more: then the buttons grow, each after the
    // one before, and the window with them when they need more than its
    // width.
    const int gap = scaled_for_dpi(10, dpi);
    int widths[std::size(buttons)];
    bool grown = false;
    for (size_t k = 0; k < std::size(buttons); ++k) {
        const int figure = scaled_for_dpi(buttons[k].width, dpi);
        widths[k] =
            std::max(figure, text_width(g_font, tr(buttons[k].text)) + scaled_for_dpi(16, dpi));
        grown = grown || widths[k] != figure;
    }
    int row_end = scaled_for_dpi(status_pane.x + status_pane.width, dpi);
    bool wider = false; // than the figures: the list and the pane follow the buttons
    if (grown) {
        int x = scaled_for_dpi(buttons[0].x, dpi);
        for (size_t k = 0; k < std::size(buttons); ++k)
            x += widths[k] + (k + 1 < std::size(buttons) ? gap : 0);
        if (x > row_end) {
            // The window's inside takes the row and the margin after it.
            RECT frame, inside;
            GetWindowRect(window, &frame);
            GetClientRect(window, &inside);
            const int missing = x + scaled_for_dpi(10, dpi) - (inside.right - inside.left);
            if (missing > 0)
                SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + missing,
                             frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
            row_end = x;
            wider = true;
        }
    }
    layout_image_list(g_image_list, dpi, wider ? row_end - scaled_for_dpi(10, dpi) : 0);
    int x = scaled_for_dpi(buttons[0].x, dpi);
    for (size_t k = 0; k < std::size(buttons); ++k) {
        const control_spec& button = buttons[k];
        SetWindowPos(GetDlgItem(window, static_cast<int>(button.id)), nullptr,
                     grown ? x : scaled_for_dpi(button.x, dpi), scaled_for_dpi(button.y, dpi),
                     widths[k], scaled_for_dpi(button.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
        x += widths[k] + gap;
    }
    SetWindowPos(g_status_pane, nullptr, scaled_for_dpi(status_pane.x, dpi),
                 scaled_for_dpi(status_pane.y, dpi),
                 wider ? row_end - scaled_for_dpi(status_pane.x, dpi)
                       : scaled_for_dpi(status_pane.width, dpi),
                 scaled_for_dpi(status_pane.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- The keyboard and screen readers ----

// The control that had the focus when the window was last active.
static HWND g_focused_control;

// Gives a row the list's focus, in view.
static void focus_row(int row)
{
    LVITEMA item = {};
    item.stateMask = LVIS_FOCUSED;
    item.state = LVIS_FOCUSED;
    SendMessageA(g_image_list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
    SendMessageA(g_image_list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

// A row to start from: the first, when no row has the focus.
static void focus_first_row_if_none()
{
    if (SendMessageA(g_image_list, LVM_GETITEMCOUNT, 0, 0) <= 0 ||
        SendMessageA(g_image_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED) >= 0)
        return;
    focus_row(0);
}

// Space on the list ticks or unticks the focused row.
static void toggle_focused_row()
{
    const LRESULT row =
        SendMessageA(g_image_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED);
    if (row < 0)
        return;
    const UINT state = static_cast<UINT>(
        SendMessageA(g_image_list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), ROW_STATE_MASK));
    LVITEMA item = {};
    item.stateMask = ROW_STATE_MASK;
    item.state = (state & ROW_STATE_MASK) == ROW_TICKED ? ROW_UNTICKED : ROW_TICKED;
    SendMessageA(g_image_list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
}

// The name a screen reader announces for a control whose text is not its
// name, through the system's annotation service where it has one. The list
// shows no text of its own, so its text is its name as well.
static void name_for_screen_readers(HWND control, const wchar_t* name)
{
    if (control == g_image_list)
        SetWindowTextW(control, name);
    IAccPropServices* services = nullptr;
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IAccPropServices, reinterpret_cast<void**>(&services))))
        return;
    services->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                             PROPID_ACC_NAME, name);
    if (control == g_status_pane) {
        // A live region, politely read out when it changes (UI Automation's
        // LiveSetting, Windows 8 and later; its GUID is not in every SDK).
        static const GUID live_setting = {
            0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
        VARIANT polite = {};
        polite.vt = VT_I4;
        polite.lVal = 1;
        services->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, live_setting,
                              polite);
    }
    services->Release();
}

// Each new status line is announced: the pane's text has changed.
static void announce_status_line(const char*)
{
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, g_status_pane, OBJID_CLIENT, CHILDID_SELF);
    NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, g_status_pane, OBJID_CLIENT, CHILDID_SELF);
}

// The paths the program was started with, read by WinMain before the
// window is made; none when it was started without any.
static std::vector<std::string> g_given_paths;

// The paths on the program's command line, each whole in the program's
// code page: the system's wide form is read, so that names in any script
// arrive as they are.
static std::vector<std::string> command_line_paths()
{
    std::vector<std::string> paths;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments)
        return paths;
    for (int i = 1; i < count; ++i) {
        // A relative name is taken in the folder the program started in.
        std::wstring wide = arguments[i];
        const DWORD full_length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
        if (full_length > 0) {
            std::wstring full(full_length, L'\0');
            const DWORD written = GetFullPathNameW(wide.c_str(), full_length, &full[0], nullptr);
            if (written > 0 && written < full_length)
                wide = full.substr(0, written);
        }
        const int length =
            WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
        if (length <= 1)
            continue;
        std::string path(size_t(length), '\0');
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &path[0], length, nullptr, nullptr);
        path.resize(size_t(length) - 1);
        paths.push_back(path);
    }
    LocalFree(arguments);
    return paths;
}

// Builds the window's contents and opens the file-open dialog, or lists
// the paths given on the command line; a dialog that yields nothing closes
// the window during its own creation.
static void create_main_window_contents(HWND window)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    g_image_list = create_image_list(window);
    for (const control_spec& button : buttons)
        create_control(window, button, WS_TABSTOP);
    // The pane shows names as they are: "&" is no mnemonic there.
    g_status_pane = create_control(window, status_pane, SS_NOPREFIX);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    name_for_screen_readers(g_image_list, wide_text(tr("Images")).c_str());
    name_for_screen_readers(g_status_pane, wide_text(tr("Status")).c_str());
    g_status_echo = announce_status_line;
    add_about_item(window);
    connect_taskbar();
    // The window was made for the system DPI; on a display of another it
    // takes that one's size, then everything is laid out for it.
    const UINT dpi = window_dpi(window);
    if (dpi != system_dpi())
        SetWindowPos(window, nullptr, 0, 0, scaled_for_dpi(MAIN_WIDTH, dpi),
                     scaled_for_dpi(MAIN_HEIGHT, dpi), SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    layout_main_window(window, dpi);
    center_window(window);
    DragAcceptFiles(window, TRUE);
    // Files and folders given on the command line (dropped on the program's
    // icon, "Send to", "Open with") are listed as a drop is, with no dialog.
    if (!g_given_paths.empty()) {
        select_paths(g_given_paths);
        fill_image_list(nullptr, g_image_list, true);
    } else if (fill_image_list(window, g_image_list) == 0) {
        SendMessageA(window, WM_CLOSE, 0, 0);
        return;
    }
    // The keyboard starts in the list, on its first row, with the focus
    // rectangle shown.
    g_focused_control = g_image_list;
    SetFocus(g_image_list);
    focus_first_row_if_none();
    SendMessageA(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
}

static void set_all_rows(UINT state)
{
    LVITEMA item = {};
    item.stateMask = ROW_STATE_MASK;
    item.state = state;
    SendMessageA(g_image_list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(&item));
}

static void run_command(HWND window, unsigned command)
{
    switch (command) {
    case IDC_SELECT_ALL:
        set_all_rows(ROW_TICKED);
        break;
    case IDC_UNSELECT_ALL:
        set_all_rows(ROW_UNTICKED);
        break;
    case IDC_CUT_ZEROS:
    case IDC_CUT_FREE_SECTORS:
    case IDC_RESTORE_SIZE:
        run_batch_command(window, command);
        break;
    case IDC_FILES:
        fill_image_list(window, g_image_list);
        focus_first_row_if_none();
        break;
    default:
        break;
    }
}

// Asks before quitting; the question has no owner, so No leaves all as it was.
static void confirm_quit(HWND window)
{
    if (MessageBoxW(nullptr, wide_text(tr("Are you sure to quit ?")).c_str(),
                    wide_text(tr("Notify")).c_str(),
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
        SendMessageA(window, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (g_batch_running) {
        switch (message) {
        case WM_CLOSE:
            // The batch stops after the file in hand, sums up, and then
            // the window closes.
            g_close_deferred = true;
            g_batch_stop = true;
            return 0;
        case WM_DROPFILES:
            DragFinish(reinterpret_cast<HDROP>(wparam));
            return 0;
        case WM_COMMAND:
        case WM_KEYDOWN:
            return 0;
        case WM_NOTIFY:
            // The list keeps its order while the batch works through it.
            if (reinterpret_cast<const NMHDR*>(lparam)->code == LVN_COLUMNCLICK)
                return 0;
            break;
        default:
            break;
        }
    }
    switch (message) {
    case WM_DROPFILES:
        // The dropped images replace the list, as if picked in the dialog.
        select_dropped_files(reinterpret_cast<HDROP>(wparam));
        DragFinish(reinterpret_cast<HDROP>(wparam));
        fill_image_list(nullptr, g_image_list, true);
        focus_first_row_if_none();
        return 0;
    case WM_CREATE:
        g_main_window = window;
        create_main_window_contents(window);
        break;
    case WM_DESTROY:
        if (g_font)
            DeleteObject(g_font);
        g_font = nullptr;
        g_status_echo = nullptr;
        disconnect_taskbar();
        CoUninitialize();
        PostQuitMessage(0);
        break;
    case WM_NOTIFY: {
        // A click on a column's title sorts by it.
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header->hwndFrom == g_image_list && header->code == LVN_COLUMNCLICK)
            sort_by_column_click(g_image_list,
                                 reinterpret_cast<const NMLISTVIEW*>(lparam)->iSubItem);
        break;
    }
    case WM_SYSCOMMAND:
        if (show_about(window, wparam))
            return 0;
        break;
    case WM_ACTIVATE:
        // The focus goes back to the control that had it, as in a dialog.
        if (LOWORD(wparam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(window, focus))
                g_focused_control = focus;
        } else if (g_focused_control && IsWindow(g_focused_control)) {
            const LRESULT result = DefWindowProcA(window, message, wparam, lparam);
            SetFocus(g_focused_control);
            return result;
        }
        break;
    case WM_DPICHANGED: {
        // Moved to a display of another scale: the size Windows suggests,
        // then the controls, columns and fonts laid out again.
        const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
        SetWindowPos(window, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        layout_main_window(window, HIWORD(wparam));
        return 0;
    }
    case WM_KEYDOWN:
        if (wparam == VK_ESCAPE)
            confirm_quit(window);
        break;
    case WM_COMMAND:
        run_command(window, LOWORD(wparam));
        break;
    default:
        break;
    }
    // Every message, handled or not, also gets the default handling; so
    // WM_CLOSE, from any source, destroys the window without a question.
    return DefWindowProcA(window, message, wparam, lparam);
}

bool handle_focus_key(HWND main_window, const MSG& message)
{
    HWND focus = GetFocus();
    const bool in_window = focus && (focus == main_window || IsChild(main_window, focus));
    if (!in_window)
        return false;
    switch (message.wParam) {
    case VK_TAB: {
        const bool back = GetKeyState(VK_SHIFT) < 0;
        HWND from = focus == main_window ? nullptr : focus;
        if (HWND next = GetNextDlgTabItem(main_window, from, back))
            SetFocus(next);
        SendMessageA(main_window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        return true;
    }
    case VK_RETURN: {
        const int id = GetDlgCtrlID(focus);
        if (focus == main_window || id < static_cast<int>(IDC_SELECT_ALL) ||
            id > static_cast<int>(IDC_FILES))
            return false;
        SendMessageA(focus, BM_CLICK, 0, 0);
        return true;
    }
    case VK_SPACE:
        if (focus != g_image_list)
            return false;
        toggle_focused_row();
        return true;
    default:
        return false;
    }
}

int run_message_loop(HWND main_window)
{
    MSG message = {};
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;
        if (message.message == WM_KEYDOWN && handle_focus_key(main_window, message))
            continue;
        if (message.message == WM_KEYDOWN) {
            if (message.wParam == VK_ESCAPE) {
                if (message.hwnd != main_window)
                    SendMessageA(main_window, WM_KEYDOWN, VK_ESCAPE, 0);
            } else if (const unsigned command = command_for_key(message.wParam)) {
                SendMessageA(main_window, WM_COMMAND, command, 0);
            } else if (message.wParam >= '1' && message.wParam <= '4' &&
                       (message.hwnd == main_window || IsChild(main_window, message.hwnd))) {
                // 1 to 4 sort by a column, as a click on its title does.
                sort_by_column_click(g_image_list, static_cast<int>(message.wParam - '1'));
            }
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    restrict_dll_search();
    choose_language();
    g_given_paths = command_line_paths();
    g_selection = static_cast<char*>(std::malloc(SELECTION_SIZE));
    if (!g_selection)
        return 1;
    g_selection[0] = '\0';
    g_selection[1] = '\0';

    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    window_class.lpszClassName = main_class_name;
    g_instance = instance;
    RegisterClassA(&window_class);

    const UINT dpi = system_dpi();
    HWND window = CreateWindowExA(0, main_class_name, main_title(), MAIN_STYLE, 0, 0,
                                  scaled_for_dpi(MAIN_WIDTH, dpi), scaled_for_dpi(MAIN_HEIGHT, dpi),
                                  nullptr, nullptr, instance, nullptr);
    const int exit_code = run_message_loop(window);
    std::free(g_selection);
    return exit_code;
}
