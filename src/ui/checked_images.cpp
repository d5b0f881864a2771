// The list's ticked rows to the batch, and the question the window asks
// before a cut at the first free sector that would lose data.
#include "batch.h"

#include "control_ids.h"
#include "file_io.h"
#include "image_list.h"
#include "messages.h"
#include "status_log.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

// Surveys each name read-only, as the cut's guard will, and keeps those
// that would lose non-zero bytes. A file that cannot be surveyed is left to
// the batch, which reports it.
std::vector<loss_record> find_losses(char** names, const checked_images_hooks* hooks)
{
    std::vector<loss_record> lost;
    for (size_t i = 0; names[i]; ++i) {
        loss_record record;
        if (survey_loss(names[i], &record))
            lost.push_back(record);
        if (hooks && hooks->between_files)
            hooks->between_files();
        if (g_batch_stop)
            break;
    }
    return lost;
}

size_t count_names(char** names)
{
    size_t count = 0;
    while (names && names[count])
        ++count;
    return count;
}

void free_names(char** names)
{
    for (size_t i = 0; names && names[i]; ++i)
        std::free(names[i]);
    std::free(names);
}

// A count, grouped, in its text in the plural form the language gives it.
std::string counted(long long count, const char* one, const char* many)
{
    return formatted(trn(one, many, count), grouped(count).c_str());
}

// The question: how many images would lose data and how many bytes in
// all, naming the first few.
std::string cut_free_question(char** names, const std::vector<loss_record>& lost)
{
    constexpr size_t named = 5;
    long long total = 0;
    for (const loss_record& image : lost)
        total += image.bytes;
    const long long ticked = static_cast<long long>(count_names(names));
    std::string text =
        formatted(trn("%s of the %s ticked image would lose data: ",
                      "%s of the %s ticked images would lose data: ", ticked),
                  grouped(static_cast<long long>(lost.size())).c_str(), grouped(ticked).c_str()) +
        counted(total, "%s non-zero byte in all lies past ", "%s non-zero bytes in all lie past ") +
        (lost.size() == 1 ? tr("its first free sector.") : tr("their first free sectors.")) +
        "\n\n";
    for (size_t k = 0; k < lost.size() && k < named; ++k)
        text += lost[k].name + " (" + counted(lost[k].bytes, "%s byte", "%s bytes") + ")\n";
    if (lost.size() > named)
        text += formatted(tr("and %s more"),
                          grouped(static_cast<long long>(lost.size() - named)).c_str()) +
                "\n";
    text += std::string("\n") + tr("Yes cuts every ticked image.") + "\n" +
            tr("No cuts only the images that lose nothing.") + "\n" + tr("Cancel cuts nothing.");
    return text;
}

} // namespace

bool process_checked_images(unsigned command, HWND list, batch_totals* totals,
                            const checked_images_hooks* hooks)
{
    if (!find_batch_command(command))
        return true;
    // Each file is planned on a read-only stream and opened for update only
    // to be changed, so that one needing no change may be read-only.
    g_batch_read_first = true;
    char** names = collect_checked_names(list);
    if (command != IDC_CUT_FREE_SECTORS || !names || !hooks || !hooks->ask) {
        run_batch(command, names, totals);
        return true;
    }

    // Every cut surveys its file again as it is opened for the cut, and
    // cuts away only what the user was shown and agreed to.
    g_loss_consent.lossy = find_losses(names, hooks);
    g_loss_consent.answer = LOSS_NOT_ASKED;
    if (g_batch_stop) {
        free_names(names);
        return true;
    }
    if (!g_loss_consent.lossy.empty()) {
        const int answer = hooks->ask(cut_free_question(names, g_loss_consent.lossy).c_str());
        if (answer != IDYES && answer != IDNO) {
            // Cancel, or a question that could not be asked: nothing is done.
            free_names(names);
            g_loss_consent.lossy.clear();
            return false;
        }
        g_loss_consent.answer = answer == IDYES ? LOSS_CUT : LOSS_KEEP;
    }
    g_batch_guard = guard_by_consent;
    run_batch(command, names, totals);
    g_batch_guard = nullptr;
    g_loss_consent.lossy.clear();
    return true;
}
