#include "batch.h"

#include "control_ids.h"
#include "file_io.h"
#include "status_log.h"

#include <cstdio>
#include <cstdlib>

// The zero-tail scan reads a block at a time; the cut at the first free
// sector reads track 0 only; the restore writes up to a whole disk.
static const batch_command batch_commands[] = {
    {IDC_CUT_ZEROS, "Cutting zeros from ", cut_zeros, TRD_SCAN_BLOCK_SIZE},
    {IDC_CUT_FREE_SECTORS, "Cutting free sectors from ", cut_free_sectors, TRD_TRACK_SIZE},
    {IDC_RESTORE_SIZE, "Restoring size for ", restore_size, BATCH_STREAM_BUFFER_SIZE},
};

bool (*g_batch_guard)(const batch_command* command, const char* name, FILE* image);
void (*g_batch_file_done)();

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

const batch_command* find_batch_command(unsigned command)
{
    for (const batch_command& entry : batch_commands)
        if (entry.id == command)
            return &entry;
    return nullptr;
}

// Opens, checks, operates on and closes one file; every outcome is told
// through the status log, and the file is closed before the next is opened.
// False when the file could not be opened, is no image or the operation failed.
static bool process_image_file(const char* name, const batch_command* entry)
{
    FILE* image = open_image(name, "r+b", entry->stream_buffer_size);
    if (!image) {
        status_print_errno();
        return false;
    }
    bool done = false;
    if (check_trd_image(image) == 0 && (!g_batch_guard || g_batch_guard(entry, name, image)))
        done = entry->operation(image) >= 0;
    close_stream(image);
    return done;
}

int run_batch(unsigned command, char** names)
{
    const batch_command* entry = find_batch_command(command);
    int failed = 0;
    if (!names)
        return 0;
    for (char** name = names; *name; ++name) {
        if (entry) {
            // The line is cut to the buffer here and to a slot by the log;
            // the file is always opened by its full name.
            char line[BATCH_LINE_SIZE];
            std::snprintf(line, sizeof line, "%s%s", entry->prefix, *name);
            status_print(line);
            failed += !process_image_file(*name, entry);
            status_print("Done");
            if (g_batch_file_done)
                g_batch_file_done();
        }
        std::free(*name);
    }
    std::free(names);
    return failed;
}
