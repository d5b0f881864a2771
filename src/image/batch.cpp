#include "batch.h"

#include "../ui/control_ids.h"
#include "file_io.h"
#include "status_log.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

static const batch_command batch_commands[] = {
    {IDC_CUT_ZEROS, "Cutting zeros from ", cut_zeros},
    {IDC_CUT_FREE_SECTORS, "Cutting free sectors from ", cut_free_sectors},
    {IDC_RESTORE_SIZE, "Restoring size for ", restore_size},
};

const batch_command* find_batch_command(unsigned command)
{
    for (const batch_command& entry : batch_commands)
        if (entry.id == command)
            return &entry;
    return nullptr;
}

// Opens, checks, operates on and closes one file; every outcome is told
// through the status log, and the file is closed before the next is opened.
static void process_image_file(const char* name, image_operation operation)
{
    FILE* image = open_stream(name, "r+b");
    if (!image) {
        status_print_errno();
        return;
    }
    if (check_trd_image(image) == 0)
        operation(image);
    close_stream(image);
}

void run_batch(unsigned command, char** names)
{
    const batch_command* entry = find_batch_command(command);
    if (!names)
        return;
    for (char** name = names; *name; ++name) {
        if (entry) {
            // The line is cut to the buffer here and to a slot by the log;
            // the file is always opened by its full name.
            char line[BATCH_LINE_SIZE];
            std::snprintf(line, sizeof line, "%s%s", entry->prefix, *name);
            status_print(line);
            process_image_file(*name, entry->operation);
            status_print("Done");
        }
        std::free(*name);
    }
    std::free(names);
}
