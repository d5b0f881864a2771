// The main window's progress and its batches: the title and taskbar button
// as a batch goes on, the window kept alive between files, the question
// before a cut that would lose data, and the list rebuilt afterwards with
// every row not done still ticked.
#include "main_window.h"

#include "batch.h"
#include "image_list.h"
#include "messages.h"
#include "status_log.h"

#include <shobjidl.h>

#include <set>
#include <string>
#include <vector>

bool g_batch_running;
bool g_close_deferred;

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

// ---- Progress ----

void connect_taskbar()
{
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&g_taskbar))))
        g_taskbar = nullptr;
    if (g_taskbar && FAILED(g_taskbar->HrInit())) {
        g_taskbar->Release();
        g_taskbar = nullptr;
    }
}

void disconnect_taskbar()
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
// meanwhile is carried out instead of the rebuild. With no row ticked nothing is written, and
// a question answered Cancel leaves the list and its ticks as they were.
void run_batch_command(HWND window, unsigned command)
{
    const std::vector<std::string> ticked = ticked_names(g_image_list);
    g_batch_total = ticked.size();
    g_batch_done = 0;
    g_finished_names.clear();
    batch_totals totals = {};
    bool ran = true;
    if (g_batch_total > 0) {
        begin_batch_lines();
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
            format_batch_summary(&totals, false, summary, sizeof summary, true);
            status_print(summary);
        }
        end_progress();
        drop_queued_input();
        g_batch_file_done = nullptr;
        g_batch_stop = false;
        g_batch_running = false;
    }
    // A close that came meanwhile closes at once: the list is not built
    // again only to be destroyed.
    if (ran && !g_close_deferred) {
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
