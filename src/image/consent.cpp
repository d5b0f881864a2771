// Cuts at the first free sector that keep to what the user was asked.
#include "batch.h"

#include "messages.h"
#include "status_log.h"

#include <cstdio>
#include <cstring>

loss_consent g_loss_consent;

bool survey_loss(const char* name, loss_record* record)
{
    image_survey survey;
    const bool lossy =
        survey_file(name, SURVEY_CUT_FREE, &survey, nullptr, 0, record->digest) == SURVEY_IMAGE &&
        survey.free_offset >= TRD_TRACK_SIZE && survey.cut_free_loses > 0;
    if (lossy) {
        record->name = name;
        record->bytes = survey.cut_free_loses;
    }
    return lossy;
}

static const loss_record* find_loss_record(const char* name)
{
    for (const loss_record& record : g_loss_consent.lossy)
        if (record.name == name)
            return &record;
    return nullptr;
}

guard_verdict guard_by_consent(const batch_command*, const char* name, FILE* image)
{
    image_survey survey;
    unsigned char digest[DIGEST_SHA1_SIZE];
    if (survey_cut_free(image, &survey, digest) != 0) {
        status_print_errno();
        return GUARD_FAIL;
    }
    if (survey.cut_free_loses == 0)
        return GUARD_GO;
    const loss_record* shown = find_loss_record(name);
    const bool as_shown = shown && shown->bytes == survey.cut_free_loses &&
                          std::memcmp(shown->digest, digest, sizeof digest) == 0;
    if (as_shown && g_loss_consent.answer == LOSS_CUT)
        return GUARD_GO;

    const long long bytes = survey.cut_free_loses;
    char line[STATUS_LINE_SIZE];
    if (shown && g_loss_consent.answer == LOSS_KEEP)
        std::snprintf(line, sizeof line,
                      trn("Not cut, %lld non-zero byte past its first free sector: %s",
                          "Not cut, %lld non-zero bytes past its first free sector: %s", bytes),
                      bytes, name);
    else if (g_loss_consent.answer == LOSS_NOT_ASKED)
        std::snprintf(line, sizeof line,
                      trn("Not cut, changed since the survey: %lld non-zero byte past its first "
                          "free sector: %s",
                          "Not cut, changed since the survey: %lld non-zero bytes past its first "
                          "free sector: %s",
                          bytes),
                      bytes, name);
    else
        std::snprintf(line, sizeof line,
                      trn("Not cut, changed since the question: %lld non-zero byte past its "
                          "first free sector: %s",
                          "Not cut, changed since the question: %lld non-zero bytes past its "
                          "first free sector: %s",
                          bytes),
                      bytes, name);
    status_print(line);
    return GUARD_LEAVE;
}
