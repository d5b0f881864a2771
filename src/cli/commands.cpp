// What korvat-cli's commands do to one file: the reports (info, list,
// verify), the dry run, and the operations through the window's own batch.
#include "cli.h"

#include "control_ids.h"
#include "file_io.h"
#include "status_log.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

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

// Where the non-zero bytes past the first free sector lie.
std::string loss_place(const image_survey& survey)
{
    std::string where;
    const struct {
        int64_t count;
        const char* place;
    } parts[] = {
        {loses_outside(survey), "outside every entry"},
        {survey.loses_in_deleted, "inside deleted files"},
        {survey.loses_in_files, "inside files"},
    };
    int places = 0;
    for (const auto& part : parts)
        places += part.count > 0;
    for (const auto& part : parts) {
        if (part.count == 0)
            continue;
        if (!where.empty())
            where += ", ";
        where += places > 1 ? number(part.count) + " " + part.place : part.place;
    }
    return where;
}

// What a cut at the first free sector would discard and where it lies, said
// the same way in every place that says it.
std::string loss_text(const image_survey& survey)
{
    return counted(survey.cut_free_loses, "non-zero byte lies", "non-zero bytes lie") +
           " past the first free sector, " + loss_place(survey);
}

std::vector<std::string> problem_texts(const image_survey& survey)
{
    image_problem problems[TRD_MAX_PROBLEMS];
    const int count =
        find_image_problems(survey.catalogue, survey.length, problems, TRD_MAX_PROBLEMS);
    std::vector<std::string> texts;
    for (int i = 0; i < count && i < TRD_MAX_PROBLEMS; ++i) {
        char text[256];
        describe_image_problem(survey.catalogue, problems[i], text, sizeof text);
        texts.push_back(text);
    }
    return texts;
}

std::string joined(const std::vector<std::string>& texts)
{
    std::string all;
    for (const std::string& text : texts)
        all += (all.empty() ? "" : "; ") + text;
    return all.empty() ? "-" : all;
}

std::string label_of(const trd_catalogue& catalogue)
{
    char label[4 * TRD_LABEL_SIZE + 1];
    return escape_disk_text(catalogue.label, TRD_LABEL_SIZE, label, sizeof label);
}

// Surveys a file for a report, with the status line of a failure.
survey_verdict survey_for_report(const std::string& name, survey_depth depth, image_survey* survey,
                                 char* why = nullptr, size_t why_size = 0)
{
    const survey_verdict verdict = survey_file(name.c_str(), depth, survey, why, why_size);
    if (verdict == SURVEY_NOT_IMAGE)
        status_print(TRD_NOT_IMAGE_TEXT);
    else if (verdict == SURVEY_ERROR)
        status_print_errno();
    return verdict;
}

} // namespace

const char* table_header(cli_command command)
{
    switch (command) {
    case COMMAND_INFO:
        return "path\tlength\tverdict\tdisk_type\tfiles\tfirst_free\tcut_zeros\tcut_free\trestore\t"
               "cut_free_loses\terror\tlabel\tlive_files\tdeleted_files\tproblems\tproblem_list\t"
               "check_failure";
    case COMMAND_LIST:
        return "path\tentry\tname\ttype\tstart\tlength\tsectors\ttrack\tsector\tdeleted";
    case COMMAND_VERIFY:
        return "path\tlength\tverdict\tproblems\tloses_outside\tloses_in_deleted\tdetails";
    default:
        return nullptr;
    }
}

bool show_info(const std::string& name)
{
    const int64_t before = length_of_file(name.c_str());
    if (!g_options.table && !g_options.quiet)
        print_line(name);
    image_survey survey;
    char why[160] = "";
    const survey_verdict verdict = survey_for_report(name, SURVEY_WHOLE, &survey, why, sizeof why);
    const bool measured = verdict == SURVEY_IMAGE;
    count_batch_file(&g_totals, measured, before, before);
    // The problems' texts, only where they are shown.
    const bool shown = g_options.table || !g_options.quiet;
    const std::vector<std::string> problems =
        measured && shown ? problem_texts(survey) : std::vector<std::string>();
    const trd_catalogue& catalogue = survey.catalogue;

    if (g_options.table) {
        std::vector<std::string> row = {name, before >= 0 ? number(before) : "-"};
        if (measured) {
            char type[8];
            std::snprintf(type, sizeof type, "0x%02X", catalogue.disk_type);
            const bool refused = cut_free_refusal(survey.free_offset, survey.length) != nullptr;
            row.insert(row.end(),
                       {"trd", type, number(catalogue.file_count), number(survey.free_offset),
                        number(survey.cut_zeros), refused ? "-" : number(survey.free_offset),
                        number(survey.restore), refused ? "-" : number(survey.cut_free_loses), "-",
                        label_of(catalogue),
                        number(catalogue.entry_count - catalogue.deleted_entries),
                        number(catalogue.deleted_entries), number(problems.size()),
                        joined(problems), "-"});
        } else {
            const bool not_image = verdict == SURVEY_NOT_IMAGE;
            row.insert(row.end(), {not_image ? "not-trd" : "error", "-", "-", "-", "-", "-", "-",
                                   "-", not_image ? "-" : last_status_line(), "-", "-", "-", "-",
                                   "-", not_image && why[0] ? why : "-"});
        }
        print_row(row);
        return measured;
    }
    if (!measured || g_options.quiet)
        return measured;
    show("  length            %" PRId64, survey.length);
    show("  disk type         0x%02X: %s, %d tracks", catalogue.disk_type,
         disk_description(catalogue.disk_type), int{g_track_count});
    show("  label             \"%s\"", label_of(catalogue).c_str());
    show("  files             %u (%d live, %d deleted)", unsigned{catalogue.file_count},
         catalogue.entry_count - catalogue.deleted_entries, catalogue.deleted_entries);
    show("  first free        track %u, sector %u, offset %" PRId64,
         unsigned{catalogue.first_free_track}, unsigned{catalogue.first_free_sector},
         survey.free_offset);
    if (survey.data_end > TRD_TRACK_SIZE)
        show("  last non-zero     %" PRId64, survey.data_end - 1);
    else
        show("  last non-zero     none beyond track 0");
    show("  cut-zeros gives   %" PRId64, survey.cut_zeros);
    if (survey.free_offset < TRD_TRACK_SIZE) {
        show("  cut-free gives    %" PRId64 " (refused: first free sector in track 0)",
             survey.length);
    } else if (cut_free_refusal(survey.free_offset, survey.length)) {
        show("  cut-free gives    %" PRId64
             " (refused: first free sector past the end of the disk)",
             survey.length);
    } else {
        show("  cut-free gives    %" PRId64, survey.free_offset);
        if (survey.cut_free_loses == 0)
            show("  cut-free loses    0 non-zero bytes");
        else
            show("  cut-free loses    %s, %s",
                 counted(survey.cut_free_loses, "non-zero byte", "non-zero bytes").c_str(),
                 loss_place(survey).c_str());
    }
    show("  restore gives     %" PRId64, survey.restore);
    if (problems.empty())
        show("  problems          none");
    for (const std::string& problem : problems)
        show("  problem           %s", problem.c_str());
    return true;
}

bool show_list(const std::string& name)
{
    const int64_t length = length_of_file(name.c_str());
    if (!g_options.table && !g_options.quiet)
        print_line(name);
    image_survey survey;
    const bool image = survey_for_report(name, SURVEY_CATALOGUE, &survey) == SURVEY_IMAGE;
    count_batch_file(&g_totals, image, length, length);
    if (!image)
        return false;
    const trd_catalogue& catalogue = survey.catalogue;
    // Names and types as text any output carries; the columns are as wide
    // as the widest of this disk's, escapes and all.
    std::vector<std::string> names, types;
    int name_width = TRD_NAME_SIZE, type_width = 1;
    for (int i = 0; i < catalogue.entry_count; ++i) {
        char shown[4 * TRD_NAME_SIZE + 1], type[5];
        names.push_back(
            escape_disk_text(catalogue.entries[i].name, TRD_NAME_SIZE, shown, sizeof shown));
        types.push_back(escape_disk_text(&catalogue.entries[i].type, 1, type, sizeof type));
        name_width = std::max(name_width, static_cast<int>(names.back().size()));
        type_width = std::max(type_width, static_cast<int>(types.back().size()));
    }
    char line[256];
    if (!g_options.table) {
        if (g_options.quiet)
            return true;
        const int live = catalogue.entry_count - catalogue.deleted_entries;
        std::snprintf(line, sizeof line, "  label \"%s\", %d file%s, %d deleted",
                      label_of(catalogue).c_str(), live, live == 1 ? "" : "s",
                      catalogue.deleted_entries);
        print_line(line);
        std::snprintf(line, sizeof line, "    #  %-*s  start  length  sectors  track  sector",
                      name_width + type_width + 3, "name");
        print_line(line);
    }
    for (int i = 0; i < catalogue.entry_count; ++i) {
        const trd_entry& entry = catalogue.entries[i];
        if (g_options.table) {
            print_row({name, number(i + 1), names[size_t(i)], types[size_t(i)], number(entry.start),
                       number(entry.length), number(entry.sectors), number(entry.first_track),
                       number(entry.first_sector), entry.deleted ? "deleted" : "-"});
            continue;
        }
        const std::string type = "<" + types[size_t(i)] + ">";
        std::snprintf(line, sizeof line, "  %3d  %-*s %-*s  %5u  %6u  %7u  %5u  %6u%s", i + 1,
                      name_width, names[size_t(i)].c_str(), type_width + 2, type.c_str(),
                      unsigned{entry.start}, unsigned{entry.length}, unsigned{entry.sectors},
                      unsigned{entry.first_track}, unsigned{entry.first_sector},
                      entry.deleted ? "  deleted" : "");
        print_line(line);
    }
    if (!g_options.table) {
        std::snprintf(line, sizeof line, "  %s",
                      counted(catalogue.free_sectors, "free sector", "free sectors").c_str());
        print_line(line);
    }
    return true;
}

bool verify_image(const std::string& name)
{
    image_survey survey;
    char why[160];
    const int64_t length = length_of_file(name.c_str());
    const survey_verdict verdict =
        survey_file(name.c_str(), SURVEY_WHOLE, &survey, why, sizeof why);
    ++g_verify_totals.files;
    std::vector<std::string> problems;
    std::string verdict_word, details;
    if (verdict == SURVEY_ERROR) {
        ++g_verify_totals.unreadable;
        verdict_word = "error";
        details = errno == ERROR_NOT_REGULAR_FILE ? NOT_REGULAR_FILE_TEXT : std::strerror(errno);
        report(name, details);
    } else if (verdict == SURVEY_NOT_IMAGE) {
        ++g_verify_totals.not_images;
        verdict_word = "not-trd";
        details = std::string("not a TR-DOS image: ") + why;
        if (!g_options.table)
            print_line(name + ": " + details);
    } else {
        problems = problem_texts(survey);
        details = joined(problems);
        verdict_word = problems.empty() ? "whole" : "problems";
        ++(problems.empty() ? g_verify_totals.whole : g_verify_totals.with_problems);
        if (!g_options.table) {
            if (problems.empty() && !g_options.quiet)
                print_line(name + ": whole");
            for (const std::string& problem : problems)
                print_line(name + ": " + problem);
            if (loses_outside(survey) > 0 && !g_options.quiet)
                print_line(name + ": note: " +
                           counted(loses_outside(survey), "non-zero byte", "non-zero bytes") +
                           " past the first free sector " +
                           (loses_outside(survey) == 1 ? "belongs" : "belong") +
                           " to no file (a loader's data, or leftovers)");
            if (survey.loses_in_deleted > 0 && !g_options.quiet)
                print_line(name + ": note: " +
                           counted(survey.loses_in_deleted, "non-zero byte", "non-zero bytes") +
                           " past the first free sector " +
                           (survey.loses_in_deleted == 1 ? "lies" : "lie") + " in deleted files");
        }
    }
    if (g_options.table) {
        const bool image = verdict == SURVEY_IMAGE;
        print_row({name, length >= 0 ? number(length) : "-", verdict_word,
                   image ? number(problems.size()) : "-",
                   image ? number(loses_outside(survey)) : "-",
                   image ? number(survey.loses_in_deleted) : "-", details});
    }
    return verdict == SURVEY_IMAGE && problems.empty();
}

bool dry_run(const batch_command* command, const std::string& name)
{
    const int64_t before = length_of_file(name.c_str());
    status_print((command->prefix + name).c_str());
    bool ok = false;
    int64_t after = before;
    image_survey survey;
    const survey_verdict verdict = survey_for_report(name, SURVEY_WHOLE, &survey);
    if (verdict == SURVEY_IMAGE) {
        ok = true;
        const bool cut_free = command->id == IDC_CUT_FREE_SECTORS;
        const char* refusal =
            cut_free ? cut_free_refusal(survey.free_offset, survey.length) : nullptr;
        after = command->id == IDC_CUT_ZEROS      ? survey.cut_zeros
                : command->id == IDC_RESTORE_SIZE ? survey.restore
                : refusal                         ? survey.length
                                                  : survey.free_offset;
        std::string text = "Dry run: " + counted(survey.length, "byte", "bytes") +
                           " would become " + number(after);
        if (refusal) {
            ok = false;
            status_print(refusal);
        } else if (cut_free && survey.cut_free_loses > 0 && !g_options.force) {
            ok = false;
            after = survey.length;
            text = "Dry run: Not cut: " + loss_text(survey) + " (--force cuts anyway)";
        } else if (cut_free && survey.cut_free_loses > 0) {
            text += ", losing " + counted(survey.cut_free_loses, "non-zero byte", "non-zero bytes");
        }
        // A change the run could not make is a failure already.
        if (ok && after != survey.length) {
            if (FILE* writable = open_stream(name.c_str(), "r+b")) {
                close_stream(writable);
            } else {
                status_print_errno();
                ok = false;
                after = survey.length;
                text.clear();
            }
        }
        if (!text.empty())
            status_print(text.c_str());
        if (!ok && cut_free && survey.cut_free_loses > 0 && !g_options.force)
            report(name, "Not cut: " + loss_text(survey) + " (--force cuts anyway)");
    }
    status_print("Done");
    count_batch_file(&g_totals, ok, before, after);
    return ok;
}

guard_verdict guard_cut_free(const batch_command*, const char* name, FILE* image)
{
    image_survey survey;
    if (survey_cut_free(image, &survey) != 0) {
        status_print_errno();
        return GUARD_FAIL;
    }
    if (survey.cut_free_loses == 0)
        return GUARD_GO;
    if (!g_options.force) {
        status_print(("Not cut: " + loss_text(survey) + " (--force cuts anyway)").c_str());
        return GUARD_FAIL;
    }
    report(name, "warning: " + counted(survey.cut_free_loses, "non-zero byte", "non-zero bytes") +
                     " past the first free sector " + (survey.cut_free_loses == 1 ? "is" : "are") +
                     " cut away (--force)");
    return GUARD_GO;
}

bool run_operation(const batch_command* command, const std::string& name)
{
    char** names = static_cast<char**>(std::calloc(2, sizeof(char*)));
    char* copy = static_cast<char*>(std::malloc(name.size() + 1));
    if (!names || !copy) {
        std::free(names);
        std::free(copy);
        report(name, std::strerror(ENOMEM));
        count_batch_file(&g_totals, false, -1, -1);
        return false;
    }
    std::memcpy(copy, name.c_str(), name.size() + 1);
    names[0] = copy;
    return run_batch(command->id, names, &g_totals) == 0;
}
