// The list's ticked rows to the batch, and the question the window asks
// before a cut at the first free sector that would lose data.
#include "batch.h"

#include "control_ids.h"
#include "file_io.h"
#include "image_list.h"
#include "status_log.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

// A ticked image whose cut at the first free sector would discard data.
struct lost_image {
    size_t index; // in the name array
    int64_t bytes;
};

// Surveys each name read-only, as the cut's guard would, and lists those
// that would lose non-zero bytes. A file that cannot be surveyed is left to
// the batch, which reports it.
std::vector<lost_image> find_losses(char** names, const checked_images_hooks* hooks)
{
    std::vector<lost_image> lost;
    for (size_t i = 0; names[i]; ++i) {
        image_survey survey;
        if (survey_file(names[i], SURVEY_CUT_FREE, &survey, nullptr, 0) == SURVEY_IMAGE &&
            survey.free_offset >= TRD_TRACK_SIZE && survey.cut_free_loses > 0)
            lost.push_back({i, survey.cut_free_loses});
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

// The question: how many images would lose data and how many bytes in
// all, naming the first few.
std::string cut_free_question(char** names, const std::vector<lost_image>& lost)
{
    constexpr size_t named = 5;
    int64_t total = 0;
    for (const lost_image& image : lost)
        total += image.bytes;
    char line[256];
    std::snprintf(line, sizeof line,
                  "%zu of the %zu ticked images would lose data: %" PRId64
                  " non-zero bytes in all lie past their first free sectors.\n\n",
                  lost.size(), count_names(names), total);
    std::string text = line;
    for (size_t k = 0; k < lost.size() && k < named; ++k) {
        std::snprintf(line, sizeof line, " (%" PRId64 " bytes)\n", lost[k].bytes);
        text += names[lost[k].index] + std::string(line);
    }
    if (lost.size() > named) {
        std::snprintf(line, sizeof line, "and %zu more\n", lost.size() - named);
        text += line;
    }
    text += "\nYes cuts every ticked image.\nNo cuts only the images that lose nothing.\n"
            "Cancel cuts nothing.";
    return text;
}

} // namespace

void process_checked_images(unsigned command, HWND list, batch_totals* totals,
                            const checked_images_hooks* hooks)
{
    if (!find_batch_command(command))
        return;
    char** names = collect_checked_names(list);
    if (command != IDC_CUT_FREE_SECTORS || !names || !hooks || !hooks->ask) {
        run_batch(command, names, totals);
        return;
    }

    const std::vector<lost_image> lost = find_losses(names, hooks);
    if (lost.empty() || g_batch_stop) {
        run_batch(command, names, totals);
        return;
    }
    const int answer = hooks->ask(cut_free_question(names, lost).c_str());
    if (answer == IDYES) {
        run_batch(command, names, totals);
        return;
    }
    if (answer == IDNO) {
        // The images that would lose data are left, each said so; the
        // rest are cut as the batch always cuts them.
        char** kept = static_cast<char**>(std::calloc(count_names(names) + 1, sizeof *kept));
        size_t next = 0, kept_count = 0;
        for (size_t i = 0; names[i]; ++i) {
            if (next < lost.size() && lost[next].index == i) {
                char line[STATUS_LINE_SIZE];
                std::snprintf(line, sizeof line,
                              "Not cut, %" PRId64 " non-zero bytes past its first free sector: %s",
                              lost[next].bytes, names[i]);
                status_print(line);
                if (totals) {
                    const int64_t length = length_of_file(names[i]);
                    count_batch_file(totals, true, length, length);
                }
                ++next;
                std::free(names[i]);
            } else if (kept) {
                kept[kept_count++] = names[i];
            } else {
                std::free(names[i]);
            }
        }
        std::free(names);
        run_batch(command, kept, totals);
        return;
    }
    // Cancel, or a question that could not be asked: nothing is cut.
    for (size_t i = 0; names[i]; ++i)
        std::free(names[i]);
    std::free(names);
}
