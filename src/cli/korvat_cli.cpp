// korvat-cli: the window's batch run from a terminal, for collections of
// images and for systems without the window. Each file goes through the same
// check and operations as in the window; the status lines are printed as
// they happen, and a summary closes every run.
#include "batch.h"
#include "control_ids.h"
#include "file_io.h"
#include "operands.h"
#include "status_log.h"
#include "trd_image.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// The runtime expands wildcard arguments (*.trd) itself, as a shell would.
int _dowildcard = -1;
#define korvat_isatty _isatty
#define korvat_fileno _fileno
#else
#include <unistd.h>
#define korvat_isatty isatty
#define korvat_fileno fileno
#endif

#ifndef KORVAT_VERSION
#define KORVAT_VERSION "unknown"
#endif

namespace
{

const char usage_text[] =
    "usage: korvat-cli COMMAND [-r] [-q] [--dry-run] [--force] [--] FILE|FOLDER...\n"
    "       korvat-cli info [-r] [--table] [--] FILE|FOLDER...\n"
    "       korvat-cli --help | --version\n";

const char help_text[] =
    "Trims and restores ZX Spectrum TR-DOS disk images (.trd) in place, after\n"
    "checking that each file is one.\n"
    "\n"
    "Commands:\n"
    "  cut-zeros   cut the zero tail beyond track 0, to a whole sector\n"
    "  cut-free    cut the image at the first free sector its disk-info sector records;\n"
    "              refused when non-zero bytes lie past that point, unless --force\n"
    "  restore     pad the image with zeros to the full size of its disk\n"
    "  info        show what the check and each operation find, change nothing\n"
    "\n"
    "Options:\n"
    "  -r, --recursive  walk folders to any depth, taking the files named *.trd (any\n"
    "                   case) in path order; links to folders are not followed\n"
    "  -q, --quiet      print only failures, warnings and the summary\n"
    "  --dry-run        say what the command would do to each file, change nothing\n"
    "  --force          cut-free: cut even where non-zero bytes would be lost\n"
    "  --table          info: one tab-separated line per file under a header line\n"
    "  --               end of options: every later argument is a file\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "info --table columns: path, length, verdict (trd, not-trd or error), disk type,\n"
    "files, first-free offset, length after cut-zeros, after cut-free, after restore,\n"
    "non-zero bytes cut-free would discard, and the system's text for an error;\n"
    "'-' where a column does not apply. The summary then goes to standard error.\n"
    "\n"
    "Every run ends with a summary on standard output:\n"
    "  N files, C changed, U unchanged, F failed; BEFORE -> AFTER bytes\n"
    "\n"
    "Exit status: 0 when every file passed its check and its operation reported no\n"
    "failure, 1 when any did not or a folder could not be read (the run still goes on\n"
    "to the end), 2 for a usage error.\n";

// ---- Options and the run's totals ----

struct options {
    unsigned command = 0; // 0: info
    bool dry_run = false;
    bool force = false;
    bool table = false;
    bool quiet = false;
    bool recursive = false;
};

options g_options;

struct totals {
    long long files = 0, changed = 0, unchanged = 0, failed = 0;
    long long before = 0, after = 0;
};

totals g_totals;

// The status lines of the file in hand, for its failure report.
std::vector<std::string> g_file_lines;

// ---- Progress, on a terminal only ----

bool g_progress_enabled;
bool g_progress_shown;
std::chrono::steady_clock::time_point g_progress_start;
std::chrono::steady_clock::time_point g_progress_drawn;

void clear_progress()
{
    if (!g_progress_shown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    g_progress_shown = false;
}

// Redraws the one progress line in place, at most ten times a second.
void show_progress(size_t done, size_t total, const std::string& name)
{
    if (!g_progress_enabled)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (g_progress_shown && now - g_progress_drawn < std::chrono::milliseconds(100))
        return;
    g_progress_drawn = now;
    const double seconds = std::chrono::duration<double>(now - g_progress_start).count();
    const double rate = seconds > 0 ? static_cast<double>(g_totals.before) / seconds : 0;
    // The name's tail, so that the line fits an 80-column terminal; the cut
    // is moved to the start of a UTF-8 character.
    std::string shown = name;
    if (name.size() > 40) {
        size_t from = name.size() - 37;
        while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80)
            ++from;
        shown = "..." + name.substr(from);
    }
    std::fprintf(stderr, "\r\033[K%zu/%zu files, %.1f MB/s, %s", done, total, rate / 1e6,
                 shown.c_str());
    std::fflush(stderr);
    g_progress_shown = true;
}

// ---- Output ----

// Status lines, as they happen; in quiet mode, and under a table, only kept
// for a failure report.
void echo_status(const char* message)
{
    g_file_lines.push_back(message);
    if (g_options.quiet || g_options.table)
        return;
    clear_progress();
    std::printf("%s\n", message);
    std::fflush(stdout);
}

void print_out(const char* format, ...) __attribute__((format(printf, 1, 2)));
void print_out(const char* format, ...)
{
    clear_progress();
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

// A diagnostic: the program's name, the file and the message.
void report(const std::string& name, const std::string& message)
{
    clear_progress();
    std::fflush(stdout);
    std::fprintf(stderr, "korvat-cli: %s: %s\n", name.c_str(), message.c_str());
}

// After a failed file: what its status lines said, on standard error, less
// the command's own first line and the closing "Done".
void report_failure(const std::string& name)
{
    for (size_t i = 0; i < g_file_lines.size(); ++i) {
        const std::string& line = g_file_lines[i];
        if ((i == 0 && line.size() > name.size() &&
             line.compare(line.size() - name.size(), name.size(), name) == 0) ||
            line == "Done" || line.rfind("Dry run:", 0) == 0)
            continue;
        report(name, line);
    }
}

// ---- Measuring ----

// A file's length by name, -1 when it has none (gone, or no file at all).
int64_t length_of(const std::string& name)
{
#ifdef _WIN32
    struct _stat64 status;
    if (_stat64(name.c_str(), &status) != 0)
        return -1;
#else
    struct stat status;
    if (stat(name.c_str(), &status) != 0)
        return -1;
#endif
    return static_cast<int64_t>(status.st_size);
}

// Opens a file read-only and checks it: the stream, or null after the
// status line that says why.
FILE* open_checked(const char* name)
{
    FILE* image = open_image(name, "rb", TRD_SCAN_BLOCK_SIZE);
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

// What a cut at the first free sector would discard, said the same way in
// every place that says it.
std::string loss_text(int64_t lost)
{
    return std::to_string(lost) + " non-zero bytes lie past the first free sector";
}

// The length after the command, as the survey predicts it.
int64_t predicted_length(unsigned command, const image_survey& survey)
{
    if (command == IDC_CUT_ZEROS)
        return survey.cut_zeros;
    if (command == IDC_RESTORE_SIZE)
        return survey.restore;
    return survey.free_offset >= TRD_TRACK_SIZE ? survey.free_offset : survey.length;
}

// ---- Commands ----

// Adds one file to the totals.
void count_file(bool ok, int64_t before, int64_t after)
{
    ++g_totals.files;
    g_totals.before += before > 0 ? before : 0;
    g_totals.after += after > 0 ? after : 0;
    if (!ok)
        ++g_totals.failed;
    else if (before != after)
        ++g_totals.changed;
    else
        ++g_totals.unchanged;
}

// info: one block of lines, or one table row, for each file.
bool show_info(const std::string& name)
{
    const int64_t before = length_of(name);
    if (!g_options.table)
        print_out("%s\n", name.c_str());
    FILE* image = open_checked(name.c_str());
    image_survey survey;
    bool measured = false;
    const unsigned char type = g_io_buffer[TRD_DISK_TYPE];
    const unsigned files = g_io_buffer[TRD_FILE_COUNT];
    const unsigned free_track = g_io_buffer[TRD_FIRST_FREE_TRACK];
    const unsigned free_sector = g_io_buffer[TRD_FIRST_FREE_SECTOR];
    const int16_t tracks = g_track_count;
    if (image) {
        measured = survey_image(image, &survey) == 0;
        if (!measured)
            status_print_errno();
        close_stream(image);
    }
    count_file(measured, before, before);

    if (g_options.table) {
        std::string row = name + "\t" + (before >= 0 ? std::to_string(before) : "-") + "\t";
        if (measured) {
            char cells[256];
            const bool refused = survey.free_offset < TRD_TRACK_SIZE;
            std::snprintf(cells, sizeof cells,
                          "trd\t0x%02X\t%u\t%" PRId64 "\t%" PRId64 "\t%s\t%" PRId64 "\t%s\t-", type,
                          files, survey.free_offset, survey.cut_zeros,
                          refused ? "-" : std::to_string(survey.free_offset).c_str(),
                          survey.restore,
                          refused ? "-" : std::to_string(survey.cut_free_loses).c_str());
            row += cells;
        } else if (image == nullptr && !g_file_lines.empty() &&
                   g_file_lines.back() == "File is not TRD image !") {
            row += "not-trd\t-\t-\t-\t-\t-\t-\t-\t-";
        } else {
            row += "error\t-\t-\t-\t-\t-\t-\t-\t" +
                   (g_file_lines.empty() ? std::string("-") : g_file_lines.back());
        }
        print_out("%s\n", row.c_str());
        return measured;
    }
    if (!measured)
        return false;
    print_out("  length            %" PRId64 "\n", survey.length);
    print_out("  disk type         0x%02X: %s, %d tracks\n", type, disk_description(type), tracks);
    print_out("  files             %u\n", files);
    print_out("  first free        track %u, sector %u, offset %" PRId64 "\n", free_track,
              free_sector, survey.free_offset);
    if (survey.data_end > TRD_TRACK_SIZE)
        print_out("  last non-zero     %" PRId64 "\n", survey.data_end - 1);
    else
        print_out("  last non-zero     none beyond track 0\n");
    print_out("  cut-zeros gives   %" PRId64 "\n", survey.cut_zeros);
    if (survey.free_offset < TRD_TRACK_SIZE) {
        print_out("  cut-free gives    %" PRId64 " (refused: first free sector in track 0)\n",
                  survey.length);
    } else {
        print_out("  cut-free gives    %" PRId64 "\n", survey.free_offset);
        print_out("  cut-free loses    %" PRId64 " non-zero bytes\n", survey.cut_free_loses);
    }
    print_out("  restore gives     %" PRId64 "\n", survey.restore);
    return true;
}

// --dry-run: the lines the command would print, with what it would do in
// place of doing it. False when the command would fail on the file.
bool dry_run(const batch_command* command, const std::string& name)
{
    const int64_t before = length_of(name);
    status_print((command->prefix + name).c_str());
    bool ok = false;
    int64_t after = before;
    if (FILE* image = open_checked(name.c_str())) {
        image_survey survey;
        if (survey_image(image, &survey) == 0) {
            ok = true;
            after = predicted_length(command->id, survey);
            const bool cut_free = command->id == IDC_CUT_FREE_SECTORS;
            std::string text = "Dry run: " + std::to_string(survey.length) +
                               " bytes would become " + std::to_string(after);
            if (cut_free && survey.free_offset < TRD_TRACK_SIZE) {
                ok = false;
                status_print("First free sector is in track 0, file not cut !");
            } else if (cut_free && survey.cut_free_loses > 0 && !g_options.force) {
                ok = false;
                after = survey.length;
                text = "Dry run: not cut, " + loss_text(survey.cut_free_loses) +
                       " (--force cuts anyway)";
            } else if (cut_free && survey.cut_free_loses > 0) {
                text += ", losing " + std::to_string(survey.cut_free_loses) + " non-zero bytes";
            }
            status_print(text.c_str());
            if (!ok && survey.cut_free_loses > 0)
                report(name,
                       "not cut: " + loss_text(survey.cut_free_loses) + " (--force cuts anyway)");
        } else {
            status_print_errno();
        }
        close_stream(image);
    }
    status_print("Done");
    count_file(ok, before, after);
    return ok;
}

// Before cut-free changes a file: counts what the cut would discard.
// Without --force a loss refuses the cut; with it, it is a warning.
bool guard_cut_free(const batch_command*, const char* name, FILE* image)
{
    const int64_t offset = free_sector_offset();
    if (offset < TRD_TRACK_SIZE)
        return true; // cut_free_sectors refuses such a disk itself
    int64_t lost = 0, data_end = 0;
    if (count_data_from(image, offset, &lost, &data_end) != 0) {
        status_print_errno();
        return false;
    }
    if (lost == 0)
        return true;
    if (!g_options.force) {
        status_print(("Not cut: " + loss_text(lost) + " (--force cuts anyway)").c_str());
        return false;
    }
    report(name, "warning: " + std::to_string(lost) +
                     " non-zero bytes past the first free sector are cut away (--force)");
    return true;
}

// The window's batch run itself, one file at a time so that each can be
// measured before and after.
bool run_command(unsigned command, const std::string& name)
{
    const int64_t before = length_of(name);
    char** names = static_cast<char**>(std::calloc(2, sizeof(char*)));
    char* copy = static_cast<char*>(std::malloc(name.size() + 1));
    if (!names || !copy) {
        std::free(names);
        std::free(copy);
        report(name, std::strerror(ENOMEM));
        count_file(false, before, before);
        return false;
    }
    std::memcpy(copy, name.c_str(), name.size() + 1);
    names[0] = copy;
    const bool ok = run_batch(command, names) == 0;
    count_file(ok, before, length_of(name));
    return ok;
}

int usage_error(const std::string& problem)
{
    std::fprintf(stderr, "korvat-cli: %s\n%s", problem.c_str(), usage_text);
    return 2;
}

// Restores the console's output code page at exit.
#ifdef _WIN32
UINT g_console_code_page;
void restore_console_code_page()
{
    if (g_console_code_page)
        SetConsoleOutputCP(g_console_code_page);
}
#endif

} // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // Names come and go as UTF-8 where the program's code page is UTF-8;
    // the console is told so for this run only.
    g_console_code_page = GetConsoleOutputCP();
    if (g_console_code_page && GetACP() == CP_UTF8) {
        SetConsoleOutputCP(CP_UTF8);
        std::atexit(restore_console_code_page);
    }
#endif
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
    if (command == "cut-zeros")
        g_options.command = IDC_CUT_ZEROS;
    else if (command == "cut-free")
        g_options.command = IDC_CUT_FREE_SECTORS;
    else if (command == "restore")
        g_options.command = IDC_RESTORE_SIZE;
    else if (command != "info")
        return usage_error("unknown command " + command);

    std::vector<std::string> operands;
    bool options_ended = false;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (options_ended || argument.size() < 2 || argument[0] != '-') {
            operands.push_back(argument);
        } else if (argument == "--") {
            options_ended = true;
        } else if (argument == "--dry-run" && g_options.command != 0) {
            g_options.dry_run = true;
        } else if (argument == "--force" && g_options.command == IDC_CUT_FREE_SECTORS) {
            g_options.force = true;
        } else if (argument == "--table" && g_options.command == 0) {
            g_options.table = true;
        } else if (argument == "--quiet" || argument == "-q") {
            g_options.quiet = true;
        } else if (argument == "--recursive" || argument == "-r") {
            g_options.recursive = true;
        } else {
            return usage_error("unknown option " + argument + " for " + command);
        }
    }
    if (operands.empty())
        return usage_error("no file given");

    operand_list list;
    for (const std::string& operand : operands)
        add_operand(operand, g_options.recursive, &list);

    g_status_echo = echo_status;
    if (g_options.command == IDC_CUT_FREE_SECTORS)
        g_batch_guard = guard_cut_free;
    g_progress_enabled = list.files.size() > 1 && korvat_isatty(korvat_fileno(stderr));
    g_progress_start = std::chrono::steady_clock::now();
    if (g_options.table)
        print_out("path\tlength\tverdict\tdisk_type\tfiles\tfirst_free\tcut_zeros\tcut_free\t"
                  "restore\tcut_free_loses\terror\n");

    const batch_command* entry = find_batch_command(g_options.command);
    for (size_t i = 0; i < list.files.size(); ++i) {
        const std::string& name = list.files[i];
        show_progress(i, list.files.size(), name);
        g_file_lines.clear();
        bool ok;
        if (!entry)
            ok = show_info(name);
        else if (g_options.dry_run)
            ok = dry_run(entry, name);
        else
            ok = run_command(g_options.command, name);
        if (!ok)
            report_failure(name);
    }
    clear_progress();

    if (g_totals.files > 0) {
        // With a table the summary goes to standard error, so that standard
        // output holds the header and one line per file only.
        FILE* out = g_options.table ? stderr : stdout;
        std::fprintf(
            out, "%lld files, %lld %s, %lld unchanged, %lld failed; %lld -> %lld bytes%s\n",
            g_totals.files, g_totals.changed, g_options.dry_run ? "would change" : "changed",
            g_totals.unchanged, g_totals.failed, g_totals.before, g_totals.after,
            g_options.dry_run ? " (dry run)" : "");
    }
    if (list.usage_errors > 0)
        return 2;
    return g_totals.failed == 0 && list.unreadable == 0 ? 0 : 1;
}
