// The main window's controls and their places: the figures for 96 DPI,
// scaled to the window's own DPI, the system's message font for it, and
// buttons and a window that grow where a language's texts need more room.
#include "main_window.h"

#include "control_ids.h"
#include "image_list.h"
#include "messages.h"
#include "status_log.h"
#include "system_path.h"

#include <algorithm>
#include <iterator>
#include <string>

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
// The list's left edge, as create_image_list places it.
constexpr int image_list_x = 10;
static const control_spec status_pane = {IDC_STATUS, "static", nullptr, 10, 290, 610, 150};

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
UINT system_dpi()
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

void create_buttons_and_status_pane(HWND window)
{
    for (const control_spec& button : buttons)
        create_control(window, button, WS_TABSTOP);
    // The pane shows names as they are: "&" is no mnemonic there; and one
    // line for each line, never wrapped (each is shortened to fit).
    g_status_pane = create_control(window, status_pane, SS_LEFTNOWORDWRAP | SS_NOPREFIX);
}

void release_window_font()
{
    if (g_font)
        DeleteObject(g_font);
    g_font = nullptr;
}

void center_window(HWND window)
{
    // In the middle of its monitor's work area: a taskbar or a docked bar
    // covers none of it. The whole screen where no monitor can be told.
    RECT frame, area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    GetWindowRect(window, &frame);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor))
        area = monitor.rcWork;
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
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

// The height of a line of text in a font, as a static control draws it.
static int line_height(HFONT font)
{
    HDC context = GetDC(nullptr);
    HGDIOBJ old =
        SelectObject(context, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW metrics = {};
    GetTextMetricsW(context, &metrics);
    SelectObject(context, old);
    ReleaseDC(nullptr, context);
    return metrics.tmHeight;
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
    // The buttons are as tall as their text needs, and the pane holds nine
    // lines of its font and its margins, however large the system's text.
    const int line = line_height(g_font);
    const int button_height = std::max(scaled_for_dpi(buttons[0].height, dpi), line + gap);
    const int pane_y = scaled_for_dpi(buttons[0].y, dpi) + button_height + scaled_for_dpi(16, dpi);
    const int pane_height =
        std::max(scaled_for_dpi(status_pane.height, dpi),
                 static_cast<int>(STATUS_LINE_COUNT) * line + 2 * GetSystemMetrics(SM_CYBORDER) +
                     scaled_for_dpi(4, dpi));
    int row_end = scaled_for_dpi(status_pane.x + status_pane.width, dpi);
    // The right edge the buttons' row and the list's columns need.
    int wanted = scaled_for_dpi(image_list_x, dpi) + image_list_wanted_width(g_image_list, dpi);
    if (grown) {
        int x = scaled_for_dpi(buttons[0].x, dpi);
        for (size_t k = 0; k < std::size(buttons); ++k)
            x += widths[k] + (k + 1 < std::size(buttons) ? gap : 0);
        wanted = std::max(wanted, x);
    }
    bool wider = false; // than the figures: the list and the pane follow
    // The window's inside takes the row and the pane, and the margins after them.
    RECT frame, inside;
    GetWindowRect(window, &frame);
    GetClientRect(window, &inside);
    int missing_width = 0;
    if (wanted > row_end) {
        missing_width = std::max<int>(0, wanted + gap - (inside.right - inside.left));
        row_end = wanted;
        wider = true;
    }
    const int missing_height =
        std::max<int>(0, pane_y + pane_height + gap - (inside.bottom - inside.top));
    if (missing_width > 0 || missing_height > 0)
        SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + missing_width,
                     frame.bottom - frame.top + missing_height,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    layout_image_list(g_image_list, dpi, wider ? row_end - scaled_for_dpi(10, dpi) : 0);
    int x = scaled_for_dpi(buttons[0].x, dpi);
    for (size_t k = 0; k < std::size(buttons); ++k) {
        const control_spec& button = buttons[k];
        SetWindowPos(GetDlgItem(window, static_cast<int>(button.id)), nullptr,
                     grown ? x : scaled_for_dpi(button.x, dpi), scaled_for_dpi(button.y, dpi),
                     widths[k], button_height, SWP_NOZORDER | SWP_NOACTIVATE);
        x += widths[k] + gap;
    }
    SetWindowPos(g_status_pane, nullptr, scaled_for_dpi(status_pane.x, dpi), pane_y,
                 wider ? row_end - scaled_for_dpi(status_pane.x, dpi)
                       : scaled_for_dpi(status_pane.width, dpi),
                 pane_height, SWP_NOZORDER | SWP_NOACTIVATE);
    show_status_lines();
}
