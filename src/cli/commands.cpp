// What korvat-cli's commands do to one file: the reports (info, list,
// verify), the dry run, and the operations through the window's own batch.
#include "cli.h"
#include "disk_forms.h"

#include "control_ids.h"
#include "file_io.h"
#include "status_log.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace
{

const char* disk_description(unsigned char type)
{
    switch (type) {
    case 0x16:
        return tr("80 cylinders, two sides");
    case 0x17:
        return tr("40 cylinders, two sides");
    case 0x18:
        return tr("80 cylinders, one side");
    default:
        return tr("40 cylinders, one side");
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
        {loses_outside(survey), tr("outside every entry")},
        {survey.loses_in_deleted, tr("inside deleted files")},
        {survey.loses_in_files, tr("inside files")},
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
    return formatted(trn("%lld non-zero byte lies past the first free sector, %s",
                         "%lld non-zero bytes lie past the first free sector, %s",
                         survey.cut_free_loses),
                     static_cast<long long>(survey.cut_free_loses), loss_place(survey).c_str());
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
                                 char* why = nullptr, size_t why_size = 0,
                                 bool full_catalogue_too = false)
{
    const survey_verdict verdict =
        survey_file(name.c_str(), depth, survey, why, why_size, nullptr, full_catalogue_too);
    if (verdict == SURVEY_NOT_IMAGE)
        status_print(not_image_text());
    else if (verdict == SURVEY_ERROR)
        status_print_errno();
    return verdict;
}

// What a form says of itself in info's table and lines.
const char* form_word(disk_form form)
{
    return form == FORM_SCL ? "scl" : "hobeta";
}

const char* form_description(disk_form form)
{
    return form == FORM_SCL ? tr("an SCL archive (to-trd makes a disk of it)")
                            : tr("a Hobeta file (to-trd makes a disk of it)");
}

std::vector<std::string> form_problem_texts(const form_contents& form)
{
    std::vector<std::string> texts;
    for (const form_problem& problem : form.problems)
        texts.push_back(describe_form_problem(form, problem));
    return texts;
}

bool show_form_info(const std::string& name, const form_contents& form)
{
    std::unique_ptr<english_texts> table_texts(g_options.table ? new english_texts : nullptr);
    const int64_t length = static_cast<int64_t>(form.bytes.size());
    count_batch_file(&g_totals, true, length, length);
    trd_catalogue catalogue;
    catalogue_of_form(form, &catalogue);
    const std::vector<std::string> problems = form_problem_texts(form);
    const int live = catalogue.entry_count - catalogue.deleted_entries;
    if (g_options.table) {
        print_row({name, number(length), form_word(form.form), "-",
                   number(static_cast<int64_t>(form.files.size())), "-", "-", "-", "-", "-", "-",
                   "-", number(live), number(catalogue.deleted_entries),
                   number(static_cast<int64_t>(problems.size())), joined(problems), "-"});
        return true;
    }
    if (g_options.quiet)
        return true;
    show(tr("  form              %s"), form_description(form.form));
    show(tr("  length            %lld"), static_cast<long long>(length));
    show(tr("  files             %u (%d live, %d deleted)"),
         static_cast<unsigned>(form.files.size()), live, catalogue.deleted_entries);
    // The files' own sectors, however many: more than a new disk holds too.
    int sectors = 0;
    for (const form_file& file : form.files)
        sectors += file.entry[13];
    show(tr("  sectors           %d"), sectors);
    if (problems.empty())
        show("%s", tr("  problems          none"));
    for (const std::string& problem : problems)
        show(tr("  problem           %s"), problem.c_str());
    return true;
}

bool verify_form(const std::string& name, const form_contents& form)
{
    std::unique_ptr<english_texts> table_texts(g_options.table ? new english_texts : nullptr);
    ++g_verify_totals.files;
    const std::vector<std::string> problems = form_problem_texts(form);
    ++(problems.empty() ? g_verify_totals.whole : g_verify_totals.with_problems);
    if (g_options.table) {
        print_row({name, number(static_cast<int64_t>(form.bytes.size())),
                   problems.empty() ? "whole" : "problems",
                   number(static_cast<int64_t>(problems.size())), "-", "-", joined(problems)});
    } else {
        if (problems.empty() && !g_options.quiet)
            print_line(name + ": " + tr("whole"));
        for (const std::string& problem : problems)
            print_line(name + ": " + problem);
    }
    return problems.empty();
}

// A file in another form, read for a report; false for a disk image or no
// image, which the TR-DOS check then judges.
bool read_other_form(const std::string& name, form_contents* form)
{
    return read_form_file(name.c_str(), form) != FORM_NONE;
}

// Why the cut and restore commands refuse a file in another form.
const char* form_refusal(disk_form form)
{
    return form == FORM_SCL
               ? tr("An SCL archive: cut and restore work on disk images (to-trd makes one)")
               : tr("A Hobeta file: cut and restore work on disk images (to-trd makes one)");
}

// The cut and restore commands' lines for a file in another form, which is
// no disk image: the check's line, then why.
bool refuse_other_form(const batch_command* command, const std::string& name,
                       const form_contents& form)
{
    const int64_t length = static_cast<int64_t>(form.bytes.size());
    status_print((tr(command->prefix) + name).c_str());
    status_print(not_image_text());
    status_print(form_refusal(form.form));
    status_print(tr("Done"));
    count_batch_file(&g_totals, false, length, length);
    return false;
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
    case COMMAND_TARGETS:
        return "path\ttarget\tverdict\treason\tcommand";
    default:
        return nullptr;
    }
}

static void print_problems_of_info(const std::vector<std::string>& problems)
{
    if (problems.empty())
        show("%s", tr("  problems          none"));
    for (const std::string& problem : problems)
        show(tr("  problem           %s"), problem.c_str());
}

bool show_info(const std::string& name)
{
    // A table's fields, which programs read, are English in every language.
    std::unique_ptr<english_texts> table_texts(g_options.table ? new english_texts : nullptr);
    const int64_t before = length_of_file(name.c_str());
    if (!g_options.table && !g_options.quiet)
        print_line(name);
    form_contents form;
    if (read_other_form(name, &form))
        return show_form_info(name, form);
    image_survey survey;
    char why[160] = "";
    const survey_verdict verdict =
        survey_for_report(name, SURVEY_WHOLE, &survey, why, sizeof why, true);
    const bool measured = verdict == SURVEY_IMAGE;
    // A disk of 128 files is read, but no operation changes it.
    const bool full = measured && survey.catalogue.file_count == TRD_MAX_ENTRIES;
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
            const bool refused =
                full || cut_free_refusal(survey.free_offset, survey.length) != nullptr;
            row.insert(row.end(),
                       {"trd", type, number(catalogue.file_count), number(survey.free_offset),
                        full ? "-" : number(survey.cut_zeros),
                        refused ? "-" : number(survey.free_offset),
                        full ? "-" : number(survey.restore),
                        refused ? "-" : number(survey.cut_free_loses), "-", label_of(catalogue),
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
    const long long length = survey.length;
    show(tr("  length            %lld"), length);
    show(tr("  disk type         0x%02X: %s, %d tracks"), catalogue.disk_type,
         disk_description(catalogue.disk_type), int{g_track_count});
    show(tr("  label             \"%s\""), label_of(catalogue).c_str());
    show(tr("  files             %u (%d live, %d deleted)"), unsigned{catalogue.file_count},
         catalogue.entry_count - catalogue.deleted_entries, catalogue.deleted_entries);
    show(tr("  first free        track %u, sector %u, offset %lld"),
         unsigned{catalogue.first_free_track}, unsigned{catalogue.first_free_sector},
         static_cast<long long>(survey.free_offset));
    if (survey.data_end > TRD_TRACK_SIZE)
        show(tr("  last non-zero     %lld"), static_cast<long long>(survey.data_end - 1));
    else
        show("%s", tr("  last non-zero     none beyond track 0"));
    if (full) {
        show("%s", tr("  128 files         the cut commands and restore leave such a disk"));
        print_problems_of_info(problems);
        return true;
    }
    show(tr("  cut-zeros gives   %lld"), static_cast<long long>(survey.cut_zeros));
    if (survey.free_offset < TRD_TRACK_SIZE) {
        show(tr("  cut-free gives    %lld (refused: first free sector in track 0)"), length);
    } else if (cut_free_refusal(survey.free_offset, survey.length)) {
        show(tr("  cut-free gives    %lld (refused: first free sector past the end of the disk)"),
             length);
    } else {
        show(tr("  cut-free gives    %lld"), static_cast<long long>(survey.free_offset));
        if (survey.cut_free_loses == 0)
            show("%s", tr("  cut-free loses    0 non-zero bytes"));
        else
            show("  %s",
                 formatted(trn("cut-free loses    %lld non-zero byte, %s",
                               "cut-free loses    %lld non-zero bytes, %s", survey.cut_free_loses),
                           static_cast<long long>(survey.cut_free_loses),
                           loss_place(survey).c_str())
                     .c_str());
    }
    show(tr("  restore gives     %lld"), static_cast<long long>(survey.restore));
    print_problems_of_info(problems);
    return true;
}

namespace
{

// A catalogue as TR-DOS's CAT lists it: a disk's, or an archive's as its
// files would lie on a new disk.
bool print_catalogue(const std::string& name, const trd_catalogue& catalogue)
{
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
    // The numbers' columns are as wide as their titles, in the user's
    // language, and as the widest number.
    const char* titles[] = {tr("start"), tr("length"), tr("sectors"), tr("track"), tr("sector")};
    int widths[5];
    for (int k = 0; k < 5; ++k)
        widths[k] = std::max(display_width(titles[k]), k == 0 || k == 1 ? 5 : 3);
    if (!g_options.table) {
        if (g_options.quiet)
            return true;
        const int live = catalogue.entry_count - catalogue.deleted_entries;
        print_line("  " + formatted(tr("label \"%s\""), label_of(catalogue).c_str()) + ", " +
                   counted(live, "%lld file", "%lld files") + ", " +
                   formatted(tr("%d deleted"), catalogue.deleted_entries));
        std::string header = "    #  " + padded(tr("name"), name_width + type_width + 3);
        for (int k = 0; k < 5; ++k)
            header += "  " + padded(titles[k], widths[k], true);
        print_line(header);
    }
    for (int i = 0; i < catalogue.entry_count; ++i) {
        const trd_entry& entry = catalogue.entries[i];
        if (g_options.table) {
            print_row({name, number(i + 1), names[size_t(i)], types[size_t(i)], number(entry.start),
                       number(entry.length), number(entry.sectors), number(entry.first_track),
                       number(entry.first_sector), entry.deleted ? "deleted" : "-"});
            continue;
        }
        const unsigned values[5] = {entry.start, entry.length, entry.sectors, entry.first_track,
                                    entry.first_sector};
        std::string line = formatted("  %3d  ", i + 1) + padded(names[size_t(i)], name_width) +
                           " " + padded("<" + types[size_t(i)] + ">", type_width + 2);
        for (int k = 0; k < 5; ++k)
            line += "  " + padded(std::to_string(values[k]), widths[k], true);
        print_line(line + (entry.deleted ? tr("  deleted") : ""));
    }
    if (!g_options.table)
        print_line("  " + counted(catalogue.free_sectors, "%lld free sector", "%lld free sectors"));
    return true;
}

} // namespace

bool show_list(const std::string& name)
{
    const int64_t length = length_of_file(name.c_str());
    if (!g_options.table && !g_options.quiet)
        print_line(name);
    form_contents form;
    if (read_other_form(name, &form)) {
        trd_catalogue catalogue;
        catalogue_of_form(form, &catalogue);
        count_batch_file(&g_totals, true, length, length);
        return print_catalogue(name, catalogue);
    }
    image_survey survey;
    const bool image =
        survey_for_report(name, SURVEY_CATALOGUE, &survey, nullptr, 0, true) == SURVEY_IMAGE;
    count_batch_file(&g_totals, image, length, length);
    if (!image)
        return false;
    return print_catalogue(name, survey.catalogue);
}

bool verify_image(const std::string& name)
{
    // A table's fields, which programs read, are English in every language.
    std::unique_ptr<english_texts> table_texts(g_options.table ? new english_texts : nullptr);
    form_contents form;
    if (read_other_form(name, &form))
        return verify_form(name, form);
    image_survey survey;
    char why[160];
    const int64_t length = length_of_file(name.c_str());
    const survey_verdict verdict =
        survey_file(name.c_str(), SURVEY_WHOLE, &survey, why, sizeof why, nullptr, true);
    ++g_verify_totals.files;
    std::vector<std::string> problems;
    std::string verdict_word, details;
    if (verdict == SURVEY_ERROR) {
        ++g_verify_totals.unreadable;
        verdict_word = "error";
        details = error_message(errno);
        report(name, details);
    } else if (verdict == SURVEY_NOT_IMAGE) {
        ++g_verify_totals.not_images;
        verdict_word = "not-trd";
        details = formatted(tr("not a TR-DOS image: %s"), why);
        if (!g_options.table)
            print_line(name + ": " + details);
    } else {
        problems = problem_texts(survey);
        details = joined(problems);
        verdict_word = problems.empty() ? "whole" : "problems";
        ++(problems.empty() ? g_verify_totals.whole : g_verify_totals.with_problems);
        if (!g_options.table) {
            if (problems.empty() && !g_options.quiet)
                print_line(name + ": " + tr("whole"));
            if (survey.catalogue.file_count == TRD_MAX_ENTRIES && !g_options.quiet)
                print_line(name + ": " +
                           tr("note: 128 files, a full catalogue: the cut commands and restore "
                              "leave such a disk"));
            for (const std::string& problem : problems)
                print_line(name + ": " + problem);
            if (loses_outside(survey) > 0 && !g_options.quiet)
                print_line(name + ": " +
                           counted(loses_outside(survey),
                                   "note: %lld non-zero byte past the first free sector belongs "
                                   "to no file (a loader's data, or leftovers)",
                                   "note: %lld non-zero bytes past the first free sector belong "
                                   "to no file (a loader's data, or leftovers)"));
            if (survey.loses_in_deleted > 0 && !g_options.quiet)
                print_line(name + ": " +
                           counted(survey.loses_in_deleted,
                                   "note: %lld non-zero byte past the first free sector lies in "
                                   "deleted files",
                                   "note: %lld non-zero bytes past the first free sector lie in "
                                   "deleted files"));
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
    form_contents form;
    if (read_other_form(name, &form))
        return refuse_other_form(command, name, form);
    const int64_t before = length_of_file(name.c_str());
    status_print((tr(command->prefix) + name).c_str());
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
        std::string text = counted(survey.length, "Dry run: %lld byte would become ",
                                   "Dry run: %lld bytes would become ") +
                           number(after);
        if (refusal) {
            ok = false;
            status_print(refusal);
        } else if (cut_free && survey.cut_free_loses > 0 && !g_options.force) {
            ok = false;
            after = survey.length;
            text = formatted(tr("Dry run: Not cut: %s (--force cuts anyway)"),
                             loss_text(survey).c_str());
        } else if (cut_free && survey.cut_free_loses > 0) {
            text += counted(survey.cut_free_loses, ", losing %lld non-zero byte",
                            ", losing %lld non-zero bytes");
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
            report(name,
                   formatted(tr("Not cut: %s (--force cuts anyway)"), loss_text(survey).c_str()));
    }
    status_print(tr("Done"));
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
        status_print(
            formatted(tr("Not cut: %s (--force cuts anyway)"), loss_text(survey).c_str()).c_str());
        return GUARD_FAIL;
    }
    report(name, counted(survey.cut_free_loses,
                         "warning: %lld non-zero byte past the first free sector is cut away "
                         "(--force)",
                         "warning: %lld non-zero bytes past the first free sector are cut away "
                         "(--force)"));
    return GUARD_GO;
}

bool run_operation(const batch_command* command, const std::string& name)
{
    form_contents form;
    if (read_other_form(name, &form))
        return refuse_other_form(command, name, form);
    char** names = static_cast<char**>(std::calloc(2, sizeof(char*)));
    char* copy = static_cast<char*>(std::malloc(name.size() + 1));
    if (!names || !copy) {
        std::free(names);
        std::free(copy);
        report(name, error_message(ENOMEM));
        count_batch_file(&g_totals, false, -1, -1);
        return false;
    }
    std::memcpy(copy, name.c_str(), name.size() + 1);
    names[0] = copy;
    return run_batch(command->id, names, &g_totals) == 0;
}
