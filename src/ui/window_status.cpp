// The status pane as the window shows it: the last nine status lines, each
// on one line of its own, a line longer than the pane shortened in its
// middle so that the file's own name and the line's end stay in sight; and
// the whole lines of the last batch, which Ctrl+C copies.
#include "main_window.h"

#include "status_log.h"
#include "system_path.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

// The lines the pane shows, whole, as the status log wrote them (its own
// slots keep 255 characters), each with its text as last shown, shortened
// to the pane's width.
struct pane_line {
    std::wstring whole;
    std::wstring shown;
};
static std::deque<pane_line> g_pane_lines;
// Every line since the last batch began (or since the start), whole.
static std::vector<std::string> g_batch_lines;
// The pane's width and font when the shown texts were made.
static int g_shown_width = -1;
static HFONT g_shown_font;

// The width of each first 1, 2, ... characters of a text, in the font
// selected into dc.
static std::vector<int> prefix_widths(HDC dc, const std::wstring& text)
{
    std::vector<int> widths(text.size());
    SIZE total;
    int fit = 0;
    if (!text.empty() && !GetTextExtentExPointW(dc, text.c_str(), static_cast<int>(text.size()), 0,
                                                &fit, widths.data(), &total))
        std::fill(widths.begin(), widths.end(), 0);
    return widths;
}

static bool is_low_surrogate(wchar_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// A line as it fits the width: whole, or with "…" in its middle. The part
// from its last backslash on (the file's own name, which ends most lines)
// is kept whole where it fits, and the end of it where it does not; the start
// of the line then takes what room is left. Where nothing names a file, the
// ellipsis goes to the middle.
static std::wstring fit_line(HDC dc, const std::wstring& line, int width)
{
    const std::vector<int> whole = prefix_widths(dc, line);
    if (line.empty() || whole.back() <= width)
        return line;
    const std::wstring ellipsis = L"\x2026";
    const int ellipsis_width = prefix_widths(dc, ellipsis).back();
    const size_t backslash = line.rfind(L'\\');
    const size_t split = backslash == std::wstring::npos ? line.size() / 2 : backslash;

    // The tail: from split on, less its first characters while it is too wide.
    size_t tail = split;
    auto tail_width = [&](size_t from) { return whole.back() - (from > 0 ? whole[from - 1] : 0); };
    while (tail < line.size() && ellipsis_width + tail_width(tail) > width)
        ++tail;
    if (tail < line.size() && is_low_surrogate(line[tail]))
        ++tail;
    // The head: the start of the line, as much as fits before them.
    size_t head = split;
    while (head > 0 && whole[head - 1] + ellipsis_width + tail_width(tail) > width)
        --head;
    if (head > 0 && head < line.size() && is_low_surrogate(line[head]))
        --head;
    return line.substr(0, head) + ellipsis + line.substr(tail);
}

// Sets the pane's text to the lines as they fit it; only the new lines are
// measured, unless the pane's width or font changed.
void show_status_lines()
{
    if (!g_status_pane)
        return;
    RECT inside;
    GetClientRect(g_status_pane, &inside);
    // A pixel or two of room on the right, as the static control leaves it.
    const int width = inside.right - inside.left - 2;
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(g_status_pane, WM_GETFONT, 0, 0));
    const bool again = width != g_shown_width || font != g_shown_font;
    HDC dc = GetDC(g_status_pane);
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    std::wstring text;
    for (pane_line& line : g_pane_lines) {
        if (again || line.shown.empty())
            line.shown = fit_line(dc, line.whole, width);
        text += line.shown + L"\n";
    }
    SelectObject(dc, old);
    ReleaseDC(g_status_pane, dc);
    g_shown_width = width;
    g_shown_font = font;
    SetWindowTextA(g_status_pane, narrow_text(text).c_str());
}

// Each new status line is announced: the pane's text has changed.
static void announce_status_line()
{
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, g_status_pane, OBJID_CLIENT, CHILDID_SELF);
    NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, g_status_pane, OBJID_CLIENT, CHILDID_SELF);
}

void note_status_line(const char* line)
{
    g_batch_lines.push_back(line);
    g_pane_lines.push_back({wide_text(line), std::wstring()});
    if (g_pane_lines.size() > STATUS_LINE_COUNT)
        g_pane_lines.pop_front();
    show_status_lines();
    announce_status_line();
}

void begin_batch_lines()
{
    g_batch_lines.clear();
}

bool copy_status_lines(HWND window)
{
    std::wstring text;
    for (const std::string& line : g_batch_lines)
        text += wide_text(line.c_str()) + L"\r\n";
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory)
        return false;
    void* place = GlobalLock(memory);
    if (place) {
        std::memcpy(place, text.c_str(), bytes);
        GlobalUnlock(memory);
    }
    if (!place || !OpenClipboard(window)) {
        GlobalFree(memory);
        return false;
    }
    EmptyClipboard();
    const bool copied = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    CloseClipboard();
    if (!copied)
        GlobalFree(memory);
    return copied;
}
