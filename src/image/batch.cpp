#include "batch.h"

#include "control_ids.h"
#include "file_io.h"
#include "messages.h"
#include "status_log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

// The stream's buffer takes the check's read of track 0 and nothing more:
// the zero-tail scan reads whole blocks and the restore writes its zeros
// in one piece, both past the buffer, straight to and from the file.
static const batch_command batch_commands[] = {
    {IDC_CUT_ZEROS, text_to_translate("Cutting zeros from "), cut_zeros, plan_cut_zeros,
     apply_cut_zeros, screen_cut_zeros, TRD_TRACK_SIZE},
    {IDC_CUT_FREE_SECTORS, text_to_translate("Cutting free sectors from "), cut_free_sectors,
     plan_cut_free, apply_cut_free, plan_cut_free, TRD_TRACK_SIZE},
    {IDC_RESTORE_SIZE, text_to_translate("Restoring size for "), restore_size, plan_restore,
     apply_restore, plan_restore, TRD_TRACK_SIZE},
};

guard_verdict (*g_batch_guard)(const batch_command* command, const char* name, FILE* image);
void (*g_batch_file_done)(const char* name, batch_outcome outcome);
volatile bool g_batch_stop;
bool g_batch_read_first;
bool g_lease_required;

// The buffer of the one image stream open at a time.
alignas(4096) static char g_stream_buffer[BATCH_STREAM_BUFFER_SIZE];

FILE* open_image(const char* name, const char* mode, size_t buffer_size)
{
    FILE* image = open_stream(name, mode);
    // A stream left with the runtime's own buffer still works, only slower.
    if (image && buffer_size > 0 && buffer_size <= sizeof g_stream_buffer)
        set_stream_buffer(image, g_stream_buffer, buffer_size);
    return image;
}

bool lease_for_change(FILE* image)
{
    if (lease_stream(image) == 0)
        return true;
    if (errno == ERROR_FILE_IN_USE) {
        status_print(tr(FILE_IN_USE_TEXT));
        return false;
    }
    if (g_lease_required) {
        status_print(
            tr("Left as it is: no lease can be had here to keep other programs out (--strict)"));
        return false;
    }
    status_print(tr("Not kept from other programs while it changes: no lease can be had here"));
    return true;
}

bool still_leased()
{
    if (!lease_wanted())
        return true;
    status_print(tr(FILE_IN_USE_TEXT));
    return false;
}

const batch_command* find_batch_command(unsigned command)
{
    for (const batch_command& entry : batch_commands)
        if (entry.id == command)
            return &entry;
    return nullptr;
}

// What the guard says of a stream the check has just passed.
static guard_verdict ask_guard(const batch_command* entry, const char* name, FILE* image)
{
    return g_batch_guard ? g_batch_guard(entry, name, image) : GUARD_GO;
}

static batch_outcome refused(guard_verdict verdict)
{
    return verdict == GUARD_LEAVE ? FILE_LEFT : FILE_FAILED;
}

// Checks a stream open for update, plans the operation on it, asks the
// guard and makes the change: every decision is taken on the bytes this
// stream reads, so a write made to the file before it was opened is seen,
// and no other program can write to it until it is closed (on Windows by
// the stream's share mode, on Linux by the lease taken before the check).
// *before and *after: the lengths the plan found and gave, -1 when unknown.
static batch_outcome check_and_operate(const char* name, const batch_command* entry, FILE* image,
                                       int64_t* before, int64_t* after)
{
    if (check_trd_image(image) != 0)
        return FILE_FAILED;
    length_plan plan = {-1, -1};
    const int planned = entry->plan(image, &plan);
    *before = plan.length;
    if (planned < 0)
        return FILE_FAILED;
    if (plan.new_length != plan.length) {
        const guard_verdict verdict = ask_guard(entry, name, image);
        if (verdict != GUARD_GO)
            return refused(verdict);
        if (!still_leased())
            return FILE_FAILED;
        if (entry->apply(image, &plan) < 0)
            return FILE_FAILED;
    }
    *after = plan.new_length;
    return FILE_DONE;
}

// Opens, checks, operates on and closes one file; every outcome is told
// through the status log, and the file is closed before the next is opened.
static batch_outcome process_image_file(const char* name, const batch_command* entry,
                                        int64_t* before, int64_t* after)
{
    FILE* image = open_image(name, "r+b", entry->stream_buffer_size);
    if (!image) {
        status_print_errno();
        return FILE_FAILED;
    }
    const batch_outcome outcome = lease_for_change(image)
                                      ? check_and_operate(name, entry, image, before, after)
                                      : FILE_FAILED;
    close_stream(image);
    return outcome;
}

// The same outcomes, but the file is first checked and screened on a
// read-only stream, and opened for update only when the screen says its
// length may change, so that a file that needs no change is never opened
// for writing (it may be read-only). The screen decides nothing that is
// cut: the stream opened for the change checks, plans and guards afresh.
static batch_outcome process_read_first(const char* name, const batch_command* entry,
                                        int64_t* before, int64_t* after)
{
    FILE* image = open_image(name, "rb", entry->stream_buffer_size);
    if (!image) {
        status_print_errno();
        return FILE_FAILED;
    }
    length_plan screen = {-1, -1};
    batch_outcome outcome = FILE_FAILED;
    if (check_trd_image(image) == 0 && entry->screen(image, &screen) >= 0) {
        outcome = FILE_DONE;
        *before = *after = screen.length;
    }
    close_stream(image);
    if (outcome != FILE_DONE || screen.new_length == screen.length)
        return outcome;
    *before = *after = -1;
    return process_image_file(name, entry, before, after);
}

void count_batch_file(batch_totals* totals, bool ok, int64_t before, int64_t after)
{
    ++totals->files;
    totals->before += before > 0 ? before : 0;
    totals->after += after > 0 ? after : 0;
    if (!ok)
        ++totals->failed;
    else if (before != after)
        ++totals->changed;
    else
        ++totals->unchanged;
}

void count_left_file(batch_totals* totals, int64_t length)
{
    ++totals->files;
    ++totals->left;
    totals->before += length > 0 ? length : 0;
    totals->after += length > 0 ? length : 0;
}

// A text made with plain numbers, the counts in it (in their order) given
// way to grouped ones, so that the translations keep their one form.
static std::string grouped_counts(std::string text, std::initializer_list<long long> counts)
{
    size_t at = 0;
    for (long long count : counts) {
        const std::string plain = std::to_string(count), shown = grouped(count);
        at = text.find(plain, at);
        if (at == std::string::npos)
            break;
        text.replace(at, plain.size(), shown);
        at += shown.size();
    }
    return text;
}

void format_batch_summary(const batch_totals* totals, bool would_change, char* text, size_t size,
                          bool group_digits)
{
    auto count = [group_digits](const char* format, long long value) {
        const std::string made = formatted(format, value);
        return group_digits ? grouped_counts(made, {value}) : made;
    };
    std::string summary =
        count(trn("%lld file", "%lld files", totals->files), totals->files) + ", " +
        count(would_change ? tr("%lld would change") : tr("%lld changed"), totals->changed) + ", " +
        count(tr("%lld unchanged"), totals->unchanged) + ", " +
        count(tr("%lld failed"), totals->failed);
    if (totals->left != 0)
        summary += ", " + count(tr("%lld left"), totals->left);
    const std::string bytes =
        formatted(trn("%lld -> %lld byte", "%lld -> %lld bytes", totals->after), totals->before,
                  totals->after);
    summary +=
        "; " + (group_digits ? grouped_counts(bytes, {totals->before, totals->after}) : bytes);
    std::snprintf(text, size, "%s", summary.c_str());
}

int run_batch(unsigned command, char** names, batch_totals* totals)
{
    const batch_command* entry = find_batch_command(command);
    int failed = 0;
    if (!names)
        return 0;
    for (char** name = names; *name; ++name) {
        if (entry && !g_batch_stop) {
            // The log cuts the line to a slot; the file is always opened
            // by its full name.
            status_print((std::string(tr(entry->prefix)) + *name).c_str());
            // The lengths come from the plan; a file that fails before
            // it is planned is asked for its length by name.
            int64_t before = -1, after = -1;
            const batch_outcome outcome = g_batch_read_first
                                              ? process_read_first(*name, entry, &before, &after)
                                              : process_image_file(*name, entry, &before, &after);
            failed += outcome == FILE_FAILED;
            if (totals && before < 0)
                before = length_of_file(*name);
            if (totals && after < 0)
                after = length_of_file(*name);
            if (totals && outcome == FILE_LEFT)
                count_left_file(totals, before);
            else if (totals)
                count_batch_file(totals, outcome == FILE_DONE, before, after);
            status_print(tr("Done"));
            if (g_batch_file_done)
                g_batch_file_done(*name, outcome);
        }
        std::free(*name);
    }
    std::free(names);
    return failed;
}
