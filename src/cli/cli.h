// korvat-cli's parts: the options of a run, what the commands do to each
// file (commands.cpp) and how the tool writes to its two streams
// (output.cpp). The operands and the folder walk are in operands.h.
#pragma once

#include "batch.h"
#include "known_disks.h"
#include "messages.h"
#include "trd_image.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

// ---- The run ----

enum cli_command {
    COMMAND_INFO,
    COMMAND_LIST,
    COMMAND_VERIFY,
    COMMAND_OPERATION,
    COMMAND_IDENTIFY,
    COMMAND_CONFORM,
    COMMAND_DUPES,
    COMMAND_CONVERT,
    COMMAND_TARGETS,
    COMMAND_REPAIR,
    COMMAND_DAT,
    COMMAND_RENAME,
    COMMAND_HAVE,
};

// What a conversion makes of each file.
enum conversion_kind { CONVERT_NONE, CONVERT_TO_TRD, CONVERT_TO_SCL, CONVERT_TO_HOBETA };

struct cli_options {
    cli_command command = COMMAND_INFO;
    unsigned operation = 0; // the batch command, for COMMAND_OPERATION
    bool dry_run = false;
    bool force = false;
    bool strict = false; // leave a file that no lease can keep other programs from
    bool table = false;
    bool quiet = false;
    bool recursive = false;
    std::vector<std::string> lists;     // --dat, in the order given
    std::vector<std::string> preferred; // --prefer: lists whose lengths win, in order
    conversion_kind conversion = CONVERT_NONE;
    std::string output; // -o: the file, or for to-hobeta the folder, written
    std::string label;  // --label, for to-trd
    bool label_given = false;
    std::vector<std::string> targets; // --for: the targets asked for, in order
    std::string list_name;            // dat --name
    bool content = false;             // dat --content: a disk's content end too
    bool missing = false;             // have --missing: the missing entries alone
};

extern cli_options g_options;

// What the operations and info did, for the summary.
extern batch_totals g_totals;

// What verify found, for its own summary.
struct verify_totals {
    long long files, whole, with_problems, not_images, unreadable;
};
extern verify_totals g_verify_totals;

// What identify and dupes found, for their summaries.
struct identify_totals {
    long long files, as_is, after_change, by_files, unknown, unreadable, hashed;
    long long not_disks; // in none of the three forms: a failure of the run
};
extern identify_totals g_identify_totals;

// The status lines of the file in hand, for its failure report.
void begin_file();

// ---- Commands (commands.cpp); each false when the file failed ----

bool show_info(const std::string& name);
bool show_list(const std::string& name);
bool verify_image(const std::string& name);
bool dry_run(const batch_command* command, const std::string& name);
bool run_operation(const batch_command* command, const std::string& name);

// ---- Known disks (known.cpp); each false when the file is not known or
// could not be read ----

// Reads every list given with --dat (a folder stands for its .dat and .xml
// files); false after reporting the first that cannot be read.
bool load_known_lists();
// The lists read, each entry's in the order the lists and their entries came.
extern known_lists g_known;
bool identify_image(const std::string& name);
// What the lists make of one file, read once as identify reads it.
struct file_matches {
    bool image = false;      // a disk by the check (128 files too)
    bool other_form = false; // an SCL archive or a Hobeta file
    disk_form form = FORM_NONE;
    unsigned char type = 0; // a Hobeta file's type byte
    int64_t length = 0, content_end = 0;
    std::vector<known_match> matches; // by its bytes, then by the files it holds
};
// False with errno set when the file cannot be read.
bool match_file(const std::string& name, file_matches* found);
bool conform_image(const std::string& name);
// dupes notes each file, and says what it found at the end.
// One file of dupes, with the other names it was reached by (one file,
// told once, with every name).
bool note_dupe(const std::string& name, const std::vector<std::string>& other_names = {});
std::string dupes_summary();
std::string identify_summary();
const char* identify_header();

// The table's header line for the command, or null when it has none.
const char* table_header(cli_command command);

// Before cut-free changes a file: refuses a loss of data unless --force.
guard_verdict guard_cut_free(const batch_command* command, const char* name, FILE* image);

// ---- Output (output.cpp) ----

// Before any file is opened: a standard stream that was closed at start is
// given /dev/null, so that no image can take its place, and will fail the run.
void guard_standard_streams();

// Sets the streams up: which are terminals, SIGPIPE and the progress line.
void start_output(size_t file_count);

// A line to standard output, ended by a line feed added here; a name in it
// is made safe for a terminal when standard output is one.
void print_line(const std::string& line);
// A diagnostic on standard error: "korvat-cli: NAME: MESSAGE", always made
// safe, one line whatever the name holds.
void report(const std::string& name, const std::string& message);

// The status log's echo: each status line as it happens, unless quiet or
// under a table; kept for the failure report either way.
void echo_status(const char* message);
// The last status line of the file in hand, "-" when there is none.
std::string last_status_line();
// After a failed file: what its status lines said, on standard error, less
// what standard output has just shown on the same terminal.
void report_failure(const std::string& name);

// A field of a --table line: tab, line feed, carriage return and backslash
// as \t, \n, \r and \\.
std::string table_field(const std::string& text);

// A number as digits; a count in its text, in the plural form the
// language gives it: counted(n, "%lld byte", "%lld bytes").
std::string number(int64_t value);
std::string counted(int64_t count, const char* one, const char* many);
// The columns a text takes on a terminal (one per UTF-8 character), and
// the text padded with blanks to a width, on the right or the left.
int display_width(const std::string& text);
std::string padded(const std::string& text, int width, bool right = false);
// One line of standard output, formatted.
void show(const char* format, ...) __attribute__((format(printf, 1, 2)));
// One line of a table, each field made safe.
void print_row(const std::vector<std::string>& fields);

// The progress line, on a terminal only: redrawn at most ten times a
// second; cleared before any other line and at the end.
void show_progress(size_t done, size_t total, const std::string& name);
void clear_progress();

// The summary line: to standard output, or to standard error under a
// table (standard output flushed first, so that a shared log keeps order).
void print_summary(const std::string& line);

// True once a write to standard output met a closed pipe: the run ends
// quietly after the file in hand.
bool output_pipe_closed();

// Flushes and closes the standard streams; false after reporting a write
// that failed. Ends the process quietly, as SIGPIPE would, when standard
// output's reader has gone.
bool finish_output();

// Reads a file whole, up to the largest length a hash is made at (2 MiB);
// false with errno set.
bool read_whole(const std::string& name, std::vector<unsigned char>* bytes);

// ---- Targets and repair (targets_cli.cpp) ----

// What targets found: per target asked, the files of each verdict.
struct targets_totals {
    long long files, not_everywhere, unreadable;
    std::vector<std::array<long long, 4>> counts;
};
extern targets_totals g_targets_totals;

// What repair did.
struct repair_totals {
    long long files, repaired, unchanged, failed;
};
extern repair_totals g_repair_totals;

// Each target's verdict on a file; false when it does not load on every
// target asked for, or cannot be read.
bool show_targets(const std::string& name);
std::string targets_summary();
// The disk-info sector of a disk image put in order from its catalogue.
bool repair_image(const std::string& name);
std::string repair_summary();

// ---- Collections (collection.cpp) ----

struct collection_totals {
    long long files, done, unchanged, taken, unknown, failed;
};
extern collection_totals g_collection_totals;

// dat: one game for each file; the list, written at the end (to -o, or to
// standard output).
bool add_to_dat(const std::string& name);
bool finish_dat(const std::string& first_operand);
// rename: a file given its entry's name.
bool rename_to_entry(const std::string& name);
// have: each file noted; at the end, what each list has held and missed.
bool note_held(const std::string& name);
void show_holdings();
std::string collection_summary();

// ---- Conversions (convert.cpp) ----

// Writes one new file through a temporary name, or says what it would
// write; a status line either way. False after the line of a failure.
bool put_file(const std::string& name, const std::vector<unsigned char>& bytes);

// What the conversions did, for their summary.
struct conversion_totals {
    long long files, written, failed;
    long long bytes_written, would_write;
    long long left_behind; // non-zero bytes an SCL archive made with --force left out
};
extern conversion_totals g_conversion_totals;

// One source of a conversion: its status lines, and its new files written
// (or, with -o for to-trd, its files taken for the one disk).
bool convert_file(const std::string& name);
// Writes the one disk of a to-trd with -o, once every source is read.
bool finish_conversions();
std::string conversion_summary();
