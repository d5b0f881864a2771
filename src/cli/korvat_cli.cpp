// korvat-cli: the window's batch run from a terminal, for collections of
// images and for systems without the window. Each file goes through the same
// check and operations as in the window; the status lines are printed as
// they happen, and a summary closes every run. This file reads the command
// line and runs the command over its files.
#include "cli.h"
#include "control_ids.h"
#include "file_io.h"
#include "korvat_version.h"
#include "operands.h"
#include "status_log.h"
#include "targets.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include "dll_search.h"
#include "system_path.h"
#include <windows.h>
// The runtime expands wildcard arguments (*.trd) itself, as a shell would.
int _dowildcard = -1;
#endif

cli_options g_options;
batch_totals g_totals;
verify_totals g_verify_totals;

namespace
{

const char* const usage_text = text_to_translate(
    "usage: korvat-cli cut-zeros|cut-free|restore [-r] [-q] [--dry-run] [--force]\n"
    "                  [--strict] [--] FILE|FOLDER...\n"
    "       korvat-cli info|list|verify [-r] [-q] [--table] [--] FILE|FOLDER...\n"
    "       korvat-cli identify [-r] [-q] [--table] [--dat LIST]...\n"
    "                  [--] FILE|FOLDER...\n"
    "       korvat-cli conform --dat LIST... [--prefer LIST]... [-r] [-q] [--dry-run]\n"
    "                  [--strict] [--] FILE|FOLDER...\n"
    "       korvat-cli dupes [-r] [-q] [--table] [--] FILE|FOLDER...\n"
    "       korvat-cli to-trd|to-scl|to-hobeta [-o OUT] [--label TEXT] [-r] [-q]\n"
    "                  [--dry-run] [--force] [--strict] [--] FILE|FOLDER...\n"
    "       korvat-cli targets [--for NAME[,NAME...]] [-r] [-q] [--table]\n"
    "                  [--] FILE|FOLDER...\n"
    "       korvat-cli repair [-r] [-q] [--dry-run] [--strict] [--] FILE|FOLDER...\n"
    "       korvat-cli dat [--name NAME] [--content] [-o FILE] [--force] [-r] [-q]\n"
    "                  [--] FILE|FOLDER...\n"
    "       korvat-cli rename --dat LIST... [-r] [-q] [--dry-run] [--] FILE|FOLDER...\n"
    "       korvat-cli have --dat LIST... [--missing] [-r] [-q] [--table]\n"
    "                  [--] FILE|FOLDER...\n"
    "       korvat-cli --help | --version\n");

const char* const help_text = text_to_translate(
    "Trims and restores ZX Spectrum TR-DOS disk images (.trd) in place, after\n"
    "checking that each file is one, and shows what each disk holds. Reads SCL\n"
    "archives and Hobeta files too, told apart by their content, and converts\n"
    "between the three forms.\n"
    "\n"
    "Commands:\n"
    "  cut-zeros   set the length to just past the last non-zero byte beyond track 0,\n"
    "              raised to a whole sector (a file that ends inside a sector grows)\n"
    "  cut-free    set the length to the first free sector the disk-info sector\n"
    "              records (a shorter file grows); refused when non-zero bytes lie\n"
    "              past that point, unless --force\n"
    "  restore     pad the image with zeros to the full size of its disk\n"
    "  info        show what the check and each operation find, change nothing\n"
    "  list        show each image's catalogue as TR-DOS shows it\n"
    "  verify      check each image's catalogue beyond the five bytes of the check\n"
    "  identify    which entries of the lists given with --dat each file is, as it\n"
    "              is or after a change of its zero tail; without --dat, its\n"
    "              content end and its SHA-1 and MD5 as it is and restored\n"
    "  conform     set each image to the length of the entry it is, so that its\n"
    "              bytes are exactly the list's (zeros added or cut, nothing else)\n"
    "  dupes       the files that hold the same disk, whatever their lengths\n"
    "  to-trd      an SCL archive or a Hobeta file as a new disk beside it (with -o,\n"
    "              every source's files on one disk)\n"
    "  to-scl      a disk's files as an SCL archive; refused when non-zero bytes lie\n"
    "              outside every file, unless --force\n"
    "  to-hobeta   each file of a disk or an archive as a Hobeta file NAME.$T\n"
    "  targets     whether each file loads on each emulator and machine, and if not,\n"
    "              why and the command that makes it load\n"
    "  repair      put the disk-info sector in order from the catalogue: identifier,\n"
    "              type, first free sector, free count, file and deleted counts\n"
    "  dat         a list of the files (a Logiqx datafile, as TOSEC writes them):\n"
    "              each file's size, CRC-32, MD5 and SHA-1\n"
    "  rename      give each file the name of the list entry it is, with the\n"
    "              extension of its form, in its own folder\n"
    "  have        what the files hold of each list, what they miss, and the files\n"
    "              no list knows\n"
    "\n"
    "Options:\n"
    "  -r, --recursive  walk folders to any depth, taking the files named *.trd (and\n"
    "                   for the commands that read them *.scl and *.$?), in any\n"
    "                   case, in path order; no link is followed in a walk\n"
    "  -q, --quiet      print only failures, problems and the summary\n"
    "  --dry-run        say what the command would do to each file, change nothing\n"
    "  --force          cut-free: cut even where non-zero bytes would be lost;\n"
    "                   conversions: write over an existing file, convert an\n"
    "                   archive whose sum is wrong, or leave bytes behind\n"
    "  --strict         leave a file that this system cannot keep other programs\n"
    "                   out of while it changes (Linux: a file system without\n"
    "                   leases, or another owner's file)\n"
    "  -o OUT           to-trd, to-scl, dat: the file to write; to-hobeta: the folder\n"
    "  --name NAME      dat: the list's name (the first operand's own otherwise)\n"
    "  --content        dat: for each disk, a second entry at its content end, the\n"
    "                   length cut-zeros gives\n"
    "  --missing        have: the missing entries alone\n"
    "  --label TEXT     to-trd: the disk's label (the source's name otherwise)\n"
    "  --for NAMES      targets: only these, by comma: mame, fuse, zesarux, usp,\n"
    "                   unreal, xpeccy, flashfloppy, hxc, mister, zxevo,\n"
    "                   espectrum, speccy2010\n"
    "  --prefer LIST    conform: where a disk's entries give it two lengths, the list\n"
    "                   (its file, or its name) whose length wins; may be repeated\n"
    "  --dat LIST       identify, conform, rename, have: a list of known disks (a\n"
    "                   Logiqx datafile as TOSEC publishes, or a MAME software\n"
    "                   list), or a folder of them (.dat, .xml); may be repeated\n"
    "  --table          info, list, verify, identify, dupes, targets, have: tab-\n"
    "                   separated lines under a header line;\n"
    "                   tab, line feed, return and backslash as \\t \\n \\r \\\\\n"
    "  --               end of options: every later argument is a file\n"
    "  -h, --help       show this text\n"
    "  --version        show the version\n"
    "\n"
    "info --table columns: path, length, verdict (trd, scl, hobeta, not-trd or\n"
    "error), disk type, files, first-free offset, length after cut-zeros, after\n"
    "cut-free, after restore, non-zero bytes cut-free would discard, the system's\n"
    "text for an error, label, live files, deleted files, problems and their\n"
    "texts, and which test of the check a file that is no image fails; '-' where\n"
    "none applies.\n"
    "targets --table columns: path, target, verdict (loads, loses-on-save,\n"
    "read-only or refused), reason, the command that makes it load ('-' for none).\n"
    "have --table columns: list, entry, status (held, missing or unknown), path,\n"
    "form (trd, scl, hobeta), length, how (as-is, after-change, files-as-scl,\n"
    "file-as-hobeta:NAME).\n"
    "Under --table the summary goes to standard error.\n"
    "\n"
    "Every run ends with a summary:\n"
    "  N files, C changed, U unchanged, F failed; BEFORE -> AFTER bytes\n"
    "    (the operations and conform; \", L left\" after F counts the files that\n"
    "    cut-free or conform left as they are)\n"
    "  verify: N files, W whole, P with problems, X not images, U unreadable\n"
    "  identify: N files, A known as they are, C known after a size change,\n"
    "            U unknown, R unreadable\n"
    "  identify without --dat: N files, H hashed, R unreadable\n"
    "  to-trd, to-scl, to-hobeta: N files, W written, F failed; B bytes written\n"
    "  dupes: N files, D disks held more than once, B bytes in copies beyond the\n"
    "         first, R unreadable\n"
    "  targets: a line per target (L load, S lose data on save, R read-only,\n"
    "           X refused), then N files, E loading everywhere asked, U unreadable\n"
    "  repair: N files, R repaired, U unchanged, F failed\n"
    "  dat: N files, L listed, F failed\n"
    "  rename: N files, R renamed, K named so already, T left (the name taken),\n"
    "          U in no list, F failed\n"
    "  have: a line per list (H of E held), then N files, K in a list, U in no\n"
    "        list, R unreadable\n"
    "\n"
    "Exit status: 0 when every file passed, 1 when any failed, is damaged, is not\n"
    "known to identify, was left by conform, does not load on every target asked\n"
    "for, or a folder or an output could not be written or read (the run still goes\n"
    "on to the end), or a list could not be read (nothing is done), 2 for a usage\n"
    "error (nothing is done), 130 or 143 when interrupted.\n");

// The signal that asked the run to stop, 0 while none has.
volatile std::sig_atomic_t g_signal;

// The file in hand is finished; no further one is begun.
extern "C" void stop_after_file(int signal)
{
    g_signal = signal;
    g_batch_stop = true;
}

void handle_signals()
{
#ifdef _WIN32
    std::signal(SIGINT, stop_after_file);
    std::signal(SIGTERM, stop_after_file);
#else
    struct sigaction action = {};
    action.sa_handler = stop_after_file;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A write past the file-size limit fails with "File too large" instead
    // of ending the run.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

int usage_error(const std::string& problem)
{
    std::fprintf(stderr, "korvat-cli: %s\n%s", problem.c_str(), tr(usage_text));
    return 2;
}

int show_help()
{
    std::printf("%s\n%s", tr(usage_text), tr(help_text));
    return finish_output() ? 0 : 1;
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

struct command_name {
    const char* name;
    cli_command command;
    unsigned operation;
    conversion_kind conversion;
};

const command_name command_names[] = {
    {"cut-zeros", COMMAND_OPERATION, IDC_CUT_ZEROS, CONVERT_NONE},
    {"cut-free", COMMAND_OPERATION, IDC_CUT_FREE_SECTORS, CONVERT_NONE},
    {"restore", COMMAND_OPERATION, IDC_RESTORE_SIZE, CONVERT_NONE},
    {"info", COMMAND_INFO, 0, CONVERT_NONE},
    {"list", COMMAND_LIST, 0, CONVERT_NONE},
    {"verify", COMMAND_VERIFY, 0, CONVERT_NONE},
    {"identify", COMMAND_IDENTIFY, 0, CONVERT_NONE},
    {"conform", COMMAND_CONFORM, 0, CONVERT_NONE},
    {"dupes", COMMAND_DUPES, 0, CONVERT_NONE},
    {"to-trd", COMMAND_CONVERT, 0, CONVERT_TO_TRD},
    {"to-scl", COMMAND_CONVERT, 0, CONVERT_TO_SCL},
    {"to-hobeta", COMMAND_CONVERT, 0, CONVERT_TO_HOBETA},
    {"targets", COMMAND_TARGETS, 0, CONVERT_NONE},
    {"repair", COMMAND_REPAIR, 0, CONVERT_NONE},
    {"dat", COMMAND_DAT, 0, CONVERT_NONE},
    {"rename", COMMAND_RENAME, 0, CONVERT_NONE},
    {"have", COMMAND_HAVE, 0, CONVERT_NONE},
};

// Whether a command's walk takes SCL archives and Hobeta files as well as
// disk images: every command that reads them; the cut and restore commands
// and conform change disks only.
bool forms_walked(cli_command command)
{
    return command != COMMAND_OPERATION && command != COMMAND_CONFORM && command != COMMAND_REPAIR;
}

// Reads the options and operands after the command; 0 when they stand, 2
// after a usage error, -1 when help was asked for.
int read_arguments(int argc, char** argv, const std::string& command,
                   std::vector<std::string>* operands)
{
    const cli_command command_kind = g_options.command;
    const bool conversion = command_kind == COMMAND_CONVERT;
    const bool operation = command_kind == COMMAND_OPERATION || command_kind == COMMAND_CONFORM ||
                           command_kind == COMMAND_REPAIR || conversion;
    const bool dat = command_kind == COMMAND_DAT;
    const bool with_table = command_kind != COMMAND_OPERATION && command_kind != COMMAND_CONFORM &&
                            command_kind != COMMAND_REPAIR && !conversion && !dat &&
                            command_kind != COMMAND_RENAME;
    const bool with_lists = command_kind == COMMAND_IDENTIFY || command_kind == COMMAND_CONFORM ||
                            command_kind == COMMAND_RENAME || command_kind == COMMAND_HAVE;
    bool options_ended = false;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (options_ended || argument.size() < 2 || argument[0] != '-') {
            operands->push_back(argument);
        } else if (argument == "--") {
            options_ended = true;
        } else if (argument == "--help") {
            return -1;
        } else if (argument == "--dat" && with_lists) {
            if (i + 1 >= argc)
                return usage_error(tr("--dat needs a list"));
            g_options.lists.push_back(argv[++i]);
        } else if (argument.rfind("--dat=", 0) == 0 && with_lists) {
            g_options.lists.push_back(argument.substr(6));
        } else if (argument == "--prefer" && command_kind == COMMAND_CONFORM) {
            if (i + 1 >= argc)
                return usage_error(tr("--prefer needs a list"));
            g_options.preferred.push_back(argv[++i]);
        } else if (argument == "--name" && dat) {
            if (i + 1 >= argc)
                return usage_error(tr("--name needs a name"));
            g_options.list_name = argv[++i];
        } else if (argument == "--content" && dat) {
            g_options.content = true;
        } else if (argument == "--missing" && command_kind == COMMAND_HAVE) {
            g_options.missing = true;
        } else if (argument == "--dry-run" && (operation || command_kind == COMMAND_RENAME)) {
            g_options.dry_run = true;
        } else if (argument == "--force" &&
                   (g_options.operation == IDC_CUT_FREE_SECTORS || conversion || dat)) {
            g_options.force = true;
        } else if ((argument == "--for" || argument.rfind("--for=", 0) == 0) &&
                   command_kind == COMMAND_TARGETS) {
            std::string names = argument == "--for" ? "" : argument.substr(6);
            if (argument == "--for") {
                if (i + 1 >= argc)
                    return usage_error(tr("--for needs a target"));
                names = argv[++i];
            }
            for (size_t at = 0; at <= names.size();) {
                const size_t comma = std::min(names.find(',', at), names.size());
                const std::string name = names.substr(at, comma - at);
                if (!find_target(name))
                    return usage_error(formatted(tr("unknown target %s (the targets: %s)"),
                                                 name.c_str(), target_names().c_str()));
                g_options.targets.push_back(name);
                at = comma + 1;
            }
        } else if (argument == "--strict" && operation) {
            g_options.strict = true;
        } else if ((argument == "-o" || argument == "--output") && (conversion || dat)) {
            if (i + 1 >= argc)
                return usage_error(tr("-o needs a name"));
            g_options.output = argv[++i];
        } else if (argument == "--label" && g_options.conversion == CONVERT_TO_TRD) {
            if (i + 1 >= argc)
                return usage_error(tr("--label needs a text"));
            g_options.label = argv[++i];
            g_options.label_given = true;
            // A disk's label is eight bytes of plain ASCII: anything else
            // would be lost or changed unseen.
            for (const char c : g_options.label)
                if (c < 0x20 || c > 0x7E)
                    return usage_error(formatted(
                        tr("--label %s: a disk's label holds plain ASCII letters, digits and "
                           "signs only"),
                        g_options.label.c_str()));
            if (g_options.label.size() > TRD_LABEL_SIZE)
                return usage_error(formatted(tr("--label %s: a disk's label holds 8 characters "
                                                "at most"),
                                             g_options.label.c_str()));
        } else if (argument == "--table" && with_table) {
            g_options.table = true;
        } else if (argument == "--quiet") {
            g_options.quiet = true;
        } else if (argument == "--recursive") {
            g_options.recursive = true;
        } else if (argument[1] != '-') {
            // Short options, alone or together: -r, -q, -rq, -h.
            for (size_t k = 1; k < argument.size(); ++k) {
                if (argument[k] == 'r')
                    g_options.recursive = true;
                else if (argument[k] == 'q')
                    g_options.quiet = true;
                else if (argument[k] == 'h')
                    return -1;
                else
                    return usage_error(formatted(tr("unknown option %s for %s"),
                                                 ("-" + argument.substr(k, 1)).c_str(),
                                                 command.c_str()));
            }
        } else {
            return usage_error(
                formatted(tr("unknown option %s for %s"), argument.c_str(), command.c_str()));
        }
    }
    if ((command_kind == COMMAND_CONFORM || command_kind == COMMAND_RENAME ||
         command_kind == COMMAND_HAVE) &&
        g_options.lists.empty())
        return usage_error(formatted(tr("%s needs a list: --dat LIST"), command.c_str()));
    return 0;
}

// Runs the command over every file; stops early only when asked to.
void run_files(const operand_list& list)
{
    const batch_command* entry = find_batch_command(g_options.operation);
    for (size_t i = 0; i < list.files.size() && !g_batch_stop; ++i) {
        const operand_file& file = list.files[i];
        show_progress(i, list.files.size(), file.name);
        begin_file();
        g_open_no_follow = file.walked;
        bool ok = false;
        switch (g_options.command) {
        case COMMAND_INFO:
            ok = show_info(file.name);
            break;
        case COMMAND_LIST:
            ok = show_list(file.name);
            break;
        case COMMAND_VERIFY:
            ok = verify_image(file.name);
            break;
        case COMMAND_OPERATION:
            ok = g_options.dry_run ? dry_run(entry, file.name) : run_operation(entry, file.name);
            break;
        case COMMAND_IDENTIFY:
            ok = identify_image(file.name);
            break;
        case COMMAND_CONFORM:
            ok = conform_image(file.name);
            break;
        case COMMAND_DUPES:
            ok = note_dupe(file.name, file.other_names);
            break;
        case COMMAND_CONVERT:
            ok = convert_file(file.name);
            break;
        case COMMAND_TARGETS:
            ok = show_targets(file.name);
            break;
        case COMMAND_REPAIR:
            ok = repair_image(file.name);
            break;
        case COMMAND_DAT:
            ok = add_to_dat(file.name);
            break;
        case COMMAND_RENAME:
            ok = rename_to_entry(file.name);
            break;
        case COMMAND_HAVE:
            ok = note_held(file.name);
            break;
        }
        // identify and dupes report what they found themselves.
        const bool reported =
            g_options.command == COMMAND_VERIFY || g_options.command == COMMAND_IDENTIFY ||
            g_options.command == COMMAND_DUPES || g_options.command == COMMAND_TARGETS ||
            g_options.command == COMMAND_DAT || g_options.command == COMMAND_RENAME ||
            g_options.command == COMMAND_HAVE;
        if (!ok && !reported)
            report_failure(file.name);
    }
    clear_progress();
}

std::string summary_line()
{
    char line[256];
    if (g_options.command == COMMAND_IDENTIFY)
        return identify_summary();
    if (g_options.command == COMMAND_DUPES)
        return dupes_summary();
    if (g_options.command == COMMAND_CONVERT)
        return conversion_summary() + (g_options.dry_run ? tr(" (dry run)") : "");
    if (g_options.command == COMMAND_TARGETS)
        return targets_summary();
    if (g_options.command == COMMAND_REPAIR)
        return repair_summary() + (g_options.dry_run ? tr(" (dry run)") : "");
    if (g_options.command == COMMAND_DAT || g_options.command == COMMAND_RENAME ||
        g_options.command == COMMAND_HAVE)
        return collection_summary() + (g_options.dry_run ? tr(" (dry run)") : "");
    if (g_options.command == COMMAND_VERIFY) {
        const verify_totals& t = g_verify_totals;
        return counted(t.files, "%lld file", "%lld files") + ", " +
               formatted(tr("%lld whole"), t.whole) + ", " +
               formatted(tr("%lld with problems"), t.with_problems) + ", " +
               counted(t.not_images, "%lld not an image", "%lld not images") + ", " +
               formatted(tr("%lld unreadable"), t.unreadable);
    }
    format_batch_summary(&g_totals, g_options.dry_run, line, sizeof line);
    return std::string(line) + (g_options.dry_run ? tr(" (dry run)") : "");
}

bool run_failed(const operand_list& list)
{
    if (list.unreadable > 0)
        return true;
    if (g_options.command == COMMAND_VERIFY)
        return g_verify_totals.files != g_verify_totals.whole;
    if (g_options.command == COMMAND_IDENTIFY)
        return g_identify_totals.unreadable > 0 || g_identify_totals.not_disks > 0 ||
               (!g_options.lists.empty() && g_identify_totals.unknown > 0);
    if (g_options.command == COMMAND_DUPES)
        return g_identify_totals.unreadable > 0 || g_identify_totals.not_disks > 0;
    if (g_options.command == COMMAND_CONVERT)
        return g_conversion_totals.failed > 0;
    if (g_options.command == COMMAND_TARGETS)
        return g_targets_totals.not_everywhere > 0;
    if (g_options.command == COMMAND_REPAIR)
        return g_repair_totals.failed > 0;
    if (g_options.command == COMMAND_DAT || g_options.command == COMMAND_RENAME ||
        g_options.command == COMMAND_HAVE)
        return g_collection_totals.failed > 0;
    return g_totals.failed > 0 || g_totals.left > 0;
}

// The run, with its arguments in the program's code page.
int run_program(int argc, char** argv)
{
#ifdef _WIN32
    restrict_dll_search();
#endif
    guard_standard_streams();
    choose_language();
#ifdef _WIN32
    // Names and texts are written in the program's code page (UTF-8 where
    // Windows gives it, else the ANSI one, 1251 for Russian, whose console
    // shows 866): the console is told so for this run only.
    g_console_code_page = GetConsoleOutputCP();
    if (g_console_code_page && g_console_code_page != GetACP()) {
        SetConsoleOutputCP(GetACP());
        std::atexit(restore_console_code_page);
    }
#endif
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
        return show_help();
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("korvat-cli %s (commit %s)\n", KORVAT_VERSION, KORVAT_COMMIT);
        return finish_output() ? 0 : 1;
    }
    if (argc < 2)
        return usage_error(tr("no command given"));

    const std::string command = argv[1];
    bool known = false;
    for (const command_name& entry : command_names) {
        if (command == entry.name) {
            g_options.command = entry.command;
            g_options.operation = entry.operation;
            g_options.conversion = entry.conversion;
            known = true;
        }
    }
    if (!known)
        return usage_error(formatted(tr("unknown command %s"), command.c_str()));

    std::vector<std::string> operands;
    const int read = read_arguments(argc, argv, command, &operands);
    if (read < 0)
        return show_help();
    if (read > 0)
        return read;
    if (operands.empty())
        return usage_error(tr("no file given"));
    // Nothing is touched until every operand is known to be usable.
    if (!check_operands(operands, g_options.recursive))
        return usage_error(tr("no file was touched"));

    // A list that cannot be read stops the run before any file is touched.
    if (!g_options.lists.empty() && !load_known_lists())
        return 1;
    handle_signals();
    operand_list list;
    for (const std::string& operand : operands)
        add_operand(operand, g_options.recursive, &list, forms_walked(g_options.command));

    g_status_echo = echo_status;
    g_batch_read_first = true;
    g_lease_required = g_options.strict;
    if (g_options.operation == IDC_CUT_FREE_SECTORS)
        g_batch_guard = guard_cut_free;
    start_output(list.files.size());
    if (g_options.table && g_options.command != COMMAND_DUPES && g_options.command != COMMAND_HAVE)
        print_line(g_options.command == COMMAND_IDENTIFY ? identify_header()
                                                         : table_header(g_options.command));
    run_files(list);
    if (!g_batch_stop)
        finish_conversions();
    if (!g_batch_stop && g_options.command == COMMAND_DAT)
        finish_dat(operands.front());
    if (!g_batch_stop && g_options.command == COMMAND_HAVE)
        show_holdings();
    if (!output_pipe_closed())
        print_summary(summary_line());

    const bool written = finish_output();
    if (g_signal != 0)
        return 128 + g_signal;
    return written && !run_failed(list) ? 0 : 1;
}

} // namespace

#ifdef _WIN32
// The arguments as the system has them, wide, each whole in the program's
// code page (UTF-8 where Windows gives it): names in any script arrive as
// they are, as the window's do.
int wmain(int argc, wchar_t** wide)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(narrow_text(wide[i]));
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    return run_program(argc, argv.data());
}
#else
int main(int argc, char** argv)
{
    return run_program(argc, argv);
}
#endif
