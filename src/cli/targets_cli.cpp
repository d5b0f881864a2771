// korvat-cli targets and repair: each file's verdict on each emulator and
// machine, with the command that makes it load; and the disk-info sector
// put in order from the catalogue, in place.
#include "cli.h"

#include "batch.h"
#include "file_io.h"
#include "status_log.h"
#include "targets.h"

#include <cerrno>
#include <memory>

targets_totals g_targets_totals;
repair_totals g_repair_totals;

namespace
{

const char* shown_verdict(target_verdict verdict)
{
    switch (verdict) {
    case VERDICT_LOADS:
        return tr("loads");
    case VERDICT_LOSES_ON_SAVE:
        return tr("loads, saving loses data");
    case VERDICT_READ_ONLY:
        return tr("loads read-only");
    case VERDICT_REFUSED:
    default:
        return tr("refused");
    }
}

} // namespace

std::vector<const target_rule*> chosen_targets()
{
    std::vector<const target_rule*> chosen;
    if (g_options.targets.empty()) {
        for (const target_rule& rule : target_rules())
            chosen.push_back(&rule);
        return chosen;
    }
    for (const std::string& name : g_options.targets)
        chosen.push_back(find_target(name));
    return chosen;
}

bool show_targets(const std::string& name)
{
    // A table's fields, which programs read, are English in every language.
    std::unique_ptr<english_texts> table_texts(g_options.table ? new english_texts : nullptr);
    const std::vector<const target_rule*> targets = chosen_targets();
    if (g_targets_totals.counts.size() != targets.size())
        g_targets_totals.counts.assign(targets.size(), {0, 0, 0, 0});
    ++g_targets_totals.files;
    std::vector<unsigned char> bytes;
    int64_t length = 0;
    if (!read_target_file(name.c_str(), &bytes, &length)) {
        ++g_targets_totals.unreadable;
        report(name, error_message(errno));
        return false;
    }
    target_disk disk;
    read_target_disk(bytes.data(), bytes.size(), length, &disk);
    bool everywhere = true;
    if (!g_options.table && !g_options.quiet)
        print_line(name);
    for (size_t i = 0; i < targets.size(); ++i) {
        const target_finding finding = judge_for_target(*targets[i], disk);
        ++g_targets_totals.counts[i][finding.verdict];
        everywhere = everywhere && finding.verdict == VERDICT_LOADS;
        const std::string command = fix_command_text(finding.fix, name);
        if (g_options.table) {
            print_row({name, targets[i]->name, verdict_word(finding.verdict),
                       finding.reason.empty() ? "-" : finding.reason,
                       command.empty() ? "-" : command});
            continue;
        }
        if (g_options.quiet && finding.verdict == VERDICT_LOADS)
            continue;
        std::string line = std::string(g_options.quiet ? name + ": " : "  ") +
                           padded(targets[i]->name, 12) + shown_verdict(finding.verdict);
        if (!finding.reason.empty())
            line += ": " + finding.reason;
        if (!command.empty())
            line += formatted(tr("; %s makes it load"), command.c_str());
        else if (finding.fix == FIX_IMPOSSIBLE)
            line += tr("; no command changes this");
        print_line(line);
    }
    if (!everywhere)
        ++g_targets_totals.not_everywhere;
    return everywhere;
}

std::string targets_summary()
{
    const std::vector<const target_rule*> targets = chosen_targets();
    std::string summary;
    for (size_t i = 0; i < targets.size() && i < g_targets_totals.counts.size(); ++i) {
        const auto& count = g_targets_totals.counts[i];
        summary += padded(targets[i]->name, 12) +
                   formatted(tr("%lld load, %lld lose data on save, %lld read-only, %lld refused"),
                             count[VERDICT_LOADS], count[VERDICT_LOSES_ON_SAVE],
                             count[VERDICT_READ_ONLY], count[VERDICT_REFUSED]) +
                   "\n";
    }
    const targets_totals& t = g_targets_totals;
    return summary + counted(t.files, "%lld file", "%lld files") + ", " +
           formatted(tr("%lld loading everywhere asked"),
                     t.files - t.not_everywhere - t.unreadable) +
           ", " + formatted(tr("%lld unreadable"), t.unreadable);
}

// ---- repair ----

bool repair_image(const std::string& name)
{
    ++g_repair_totals.files;
    status_print((tr("Repairing the disk-info sector of ") + name).c_str());
    auto finish = [](bool ok, bool changed) {
        status_print(tr("Done"));
        ++(!ok       ? g_repair_totals.failed
           : changed ? g_repair_totals.repaired
                     : g_repair_totals.unchanged);
        return ok;
    };
    form_contents form;
    if (read_form_file(name.c_str(), &form) != FORM_NONE) {
        status_print(form.form == FORM_SCL ? tr("An SCL archive: repair works on disk images")
                                           : tr("A Hobeta file: repair works on disk images"));
        return finish(false, false);
    }
    // Decided on the stream that makes the change: opened for update (only
    // for reading in a dry run), leased, read, planned and written.
    FILE* image = open_stream(name.c_str(), g_options.dry_run ? "rb" : "r+b");
    if (!image) {
        status_print_errno();
        return finish(false, false);
    }
    std::unique_ptr<FILE, int (*)(FILE*)> closing(image, close_stream);
    if (!g_options.dry_run && !lease_for_change(image))
        return finish(false, false);
    unsigned char track0[TRD_TRACK_SIZE] = {};
    const size_t count = read_stream(track0, 1, sizeof track0, image);
    if (stream_failed(image)) {
        status_print_errno();
        return finish(false, false);
    }
    if (count < static_cast<size_t>(TRD_MIN_CHECKED_LENGTH)) {
        status_print(formatted(tr("Too short for a disk-info sector: %lld bytes"),
                               static_cast<long long>(count))
                         .c_str());
        return finish(false, false);
    }
    std::vector<info_change> changes;
    std::string why;
    if (!plan_info_repair(track0, length_of_file(name.c_str()), &changes, &why)) {
        status_print(formatted(tr("Not repaired: %s"), why.c_str()).c_str());
        return finish(false, false);
    }
    for (const info_change& change : changes) {
        const std::string format =
            std::string(g_options.dry_run ? tr("Dry run: ") : "") +
            (change.width == 1 ? tr("0x%03X %s: 0x%02X -> 0x%02X") : tr("0x%03X %s: %u -> %u"));
        status_print(formatted(format.c_str(), change.offset, tr(change.field), change.old_value,
                               change.new_value)
                         .c_str());
    }
    if (changes.empty()) {
        status_print(tr("Nothing to repair"));
        return finish(true, false);
    }
    if (g_options.dry_run) {
        // A change the run could not make is a failure already.
        if (FILE* writable = open_stream(name.c_str(), "r+b")) {
            close_stream(writable);
            return finish(true, true);
        }
        status_print_errno();
        return finish(false, false);
    }
    if (!still_leased())
        return finish(false, false);
    apply_info_changes(track0, changes);
    for (const info_change& change : changes)
        if (seek_stream(image, change.offset, SEEK_SET) != 0 ||
            write_stream(track0 + change.offset, 1, size_t(change.width), image) !=
                size_t(change.width)) {
            status_print_errno();
            return finish(false, false);
        }
    if (flush_stream(image) != 0) {
        status_print_errno();
        return finish(false, false);
    }
    return finish(true, true);
}

std::string repair_summary()
{
    const repair_totals& t = g_repair_totals;
    return counted(t.files, "%lld file", "%lld files") + ", " +
           formatted(g_options.dry_run ? tr("%lld would be repaired") : tr("%lld repaired"),
                     t.repaired) +
           ", " + formatted(tr("%lld unchanged"), t.unchanged) + ", " +
           formatted(tr("%lld failed"), t.failed);
}
