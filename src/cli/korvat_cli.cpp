// korvat-cli: the window's batch run from a terminal, for collections of
// images and for systems without the window. Each file goes through the same
// check and operations as in the window; the status lines are printed as
// they happen.
#include "batch.h"
#include "file_io.h"
#include "status_log.h"
#include "trd_image.h"

#include "../ui/control_ids.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
// The runtime expands wildcard arguments (*.trd) itself, as a shell would.
int _dowildcard = -1;
#endif

#ifndef KORVAT_VERSION
#define KORVAT_VERSION "unknown"
#endif

namespace
{

const char usage_text[] = "usage: korvat-cli COMMAND [--dry-run] FILE...\n"
                          "       korvat-cli --help | --version\n";

const char help_text[] =
    "Trims and restores ZX Spectrum TR-DOS disk images (.trd) in place, after\n"
    "checking that each file is one.\n"
    "\n"
    "Commands:\n"
    "  cut-zeros   cut the zero tail beyond track 0, to a whole sector\n"
    "  cut-free    cut the image at the first free sector its disk-info sector records\n"
    "  restore     pad the image with zeros to the full size of its disk\n"
    "  info        show what the check and each operation find, change nothing\n"
    "\n"
    "Options:\n"
    "  --dry-run   say what the command would do to each file, change nothing\n"
    "  --help      show this text\n"
    "  --version   show the version\n"
    "\n"
    "Exit status: 0 when every file passed its check and its operation reported no\n"
    "failure, 1 when any did not (the run still goes on to the end), 2 for a usage error.\n";

void print_line(const char* message)
{
    std::printf("%s\n", message);
    std::fflush(stdout);
}

const char* disk_description(unsigned char type)
{
    switch (type) {
    case 0x16:
        return "80 cylinders, two sides";
    case 0x17:
        return "40 cylinders, two sides";
    case 0x18:
        return "80 cylinders, one side";
    default:
        return "40 cylinders, one side";
    }
}

// What each operation would make of a checked image, measured with the same
// code the operations use. False when the scan failed.
struct prediction {
    int64_t length;
    int64_t data_end;
    int64_t cut_zeros;
    int64_t free_offset; // below 4,096: cut-free refuses
    int64_t restore;
};

bool predict(FILE* image, prediction* result)
{
    result->free_offset = free_sector_offset();
    zero_tail tail;
    const int scanned = scan_zero_tail(image, &tail);
    if (scanned < 0)
        return false;
    result->length = tail.length;
    result->data_end = tail.data_end;
    result->cut_zeros = scanned == 1 ? zero_cut_length(&tail) : tail.length;
    result->restore = restored_length(tail.length);
    return true;
}

// Opens a file read-only and checks it: the stream, or null after the
// status line that says why.
FILE* open_checked(const char* name)
{
    FILE* image = open_stream(name, "rb");
    if (!image) {
        status_print_errno();
        return nullptr;
    }
    if (check_trd_image(image) != 0) {
        close_stream(image);
        return nullptr;
    }
    return image;
}

// info: one block of lines for each file. False when it is no image.
bool show_info(const char* name)
{
    std::printf("%s\n", name);
    FILE* image = open_checked(name);
    if (!image)
        return false;
    const unsigned char type = g_io_buffer[TRD_DISK_TYPE];
    const unsigned files = g_io_buffer[TRD_FILE_COUNT];
    const unsigned free_track = g_io_buffer[TRD_FIRST_FREE_TRACK];
    const unsigned free_sector = g_io_buffer[TRD_FIRST_FREE_SECTOR];
    prediction p;
    const bool measured = predict(image, &p);
    if (!measured)
        status_print_errno();
    close_stream(image);
    if (!measured)
        return false;
    std::printf("  length            %" PRId64 "\n", p.length);
    std::printf("  disk type         0x%02X: %s, %d tracks\n", type, disk_description(type),
                g_track_count);
    std::printf("  files             %u\n", files);
    std::printf("  first free        track %u, sector %u, offset %" PRId64 "\n", free_track,
                free_sector, p.free_offset);
    if (p.data_end > TRD_TRACK_SIZE)
        std::printf("  last non-zero     %" PRId64 "\n", p.data_end - 1);
    else
        std::printf("  last non-zero     none beyond track 0\n");
    std::printf("  cut-zeros gives   %" PRId64 "\n", p.cut_zeros);
    if (p.free_offset < TRD_TRACK_SIZE)
        std::printf("  cut-free gives    %" PRId64 " (refused: first free sector in track 0)\n",
                    p.length);
    else
        std::printf("  cut-free gives    %" PRId64 "\n", p.free_offset);
    std::printf("  restore gives     %" PRId64 "\n", p.restore);
    return true;
}

// --dry-run: the lines the command would print, with what it would do in
// place of doing it. False when the file could not be measured.
bool dry_run(const batch_command* command, const char* name)
{
    std::string line = std::string(command->prefix) + name;
    status_print(line.c_str());
    bool ok = false;
    if (FILE* image = open_checked(name)) {
        prediction p;
        if (predict(image, &p)) {
            ok = true;
            int64_t after = p.length;
            if (command->id == IDC_CUT_ZEROS)
                after = p.cut_zeros;
            else if (command->id == IDC_RESTORE_SIZE)
                after = p.restore;
            else if (p.free_offset >= TRD_TRACK_SIZE)
                after = p.free_offset;
            if (command->id == IDC_CUT_FREE_SECTORS && p.free_offset < TRD_TRACK_SIZE) {
                ok = false;
                status_print("First free sector is in track 0, file not cut !");
            }
            char text[128];
            std::snprintf(text, sizeof text, "Dry run: %" PRId64 " bytes would become %" PRId64,
                          p.length, after);
            status_print(text);
        } else {
            status_print_errno();
        }
        close_stream(image);
    }
    status_print("Done");
    return ok;
}

int usage_error(const char* problem)
{
    std::fprintf(stderr, "korvat-cli: %s\n%s", problem, usage_text);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s%s", usage_text, help_text);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("korvat-cli %s\n", KORVAT_VERSION);
        return 0;
    }
    if (argc < 2)
        return usage_error("no command given");

    const std::string command = argv[1];
    unsigned id = 0;
    if (command == "cut-zeros")
        id = IDC_CUT_ZEROS;
    else if (command == "cut-free")
        id = IDC_CUT_FREE_SECTORS;
    else if (command == "restore")
        id = IDC_RESTORE_SIZE;
    else if (command != "info")
        return usage_error(("unknown command " + command).c_str());

    bool dry = false;
    std::vector<const char*> files;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dry-run") == 0)
            dry = true;
        else if (argv[i][0] == '-' && argv[i][1] == '-')
            return usage_error((std::string("unknown option ") + argv[i]).c_str());
        else
            files.push_back(argv[i]);
    }
    if (files.empty())
        return usage_error("no file given");

    g_status_echo = print_line;
    int failed = 0;
    if (id == 0) {
        for (const char* file : files)
            failed += !show_info(file);
    } else if (dry) {
        for (const char* file : files)
            failed += !dry_run(find_batch_command(id), file);
    } else {
        // The window's batch run itself, over heap copies of the names.
        char** names = static_cast<char**>(std::calloc(files.size() + 1, sizeof(char*)));
        if (!names)
            return 1;
        for (size_t i = 0; i < files.size(); ++i) {
            names[i] = static_cast<char*>(std::malloc(std::strlen(files[i]) + 1));
            if (!names[i])
                break;
            std::strcpy(names[i], files[i]);
        }
        failed = run_batch(id, names);
    }
    return failed == 0 ? 0 : 1;
}
