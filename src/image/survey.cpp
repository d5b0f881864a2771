// The survey: what each operation would do to a checked image and what the
// image holds, measured without changing it.
#include "batch.h"
#include "digest.h"
#include "file_io.h"
#include "trd_image.h"

#include <cerrno>
#include <cstring>

namespace
{

// Who owns a sector that a catalogue can name.
enum sector_owner : unsigned char { OWNED_BY_NONE, OWNED_BY_DELETED, OWNED_BY_FILE };

void map_owners(const trd_catalogue& catalogue, unsigned char* owners)
{
    std::memset(owners, OWNED_BY_NONE, TRD_REACHABLE_SECTORS);
    for (int i = 0; i < catalogue.entry_count; ++i) {
        const trd_entry& entry = catalogue.entries[i];
        const unsigned char owner = entry.deleted ? OWNED_BY_DELETED : OWNED_BY_FILE;
        for (int32_t sector = entry_first(entry); sector < entry_end(entry); ++sector)
            if (owners[sector] < owner)
                owners[sector] = owner;
    }
}

// The non-zero bytes of one whole sector, sixteen bytes at a time: each
// lane counts its zero bytes (at most 16), and the lanes are added at the end.
int count_non_zero_sector(const unsigned char* sector)
{
    typedef unsigned char lanes __attribute__((vector_size(16)));
    const lanes none = {};
    lanes zeros = {};
    for (int at = 0; at < TRD_SECTOR_SIZE; at += 16) {
        lanes bytes;
        std::memcpy(&bytes, sector + at, sizeof bytes);
        zeros -= reinterpret_cast<lanes>(bytes == none); // a match is all ones: minus -1
    }
    int zero_count = 0;
    for (int lane = 0; lane < 16; ++lane)
        zero_count += zeros[lane];
    return TRD_SECTOR_SIZE - zero_count;
}

// The loss count reads past the stream's own buffer, straight into this
// one, so that each byte is copied once, as a plain read copies it.
constexpr size_t SURVEY_PIECE_SIZE = 16 * TRD_TRACK_SIZE; // 64 KiB
alignas(64) unsigned char g_survey_piece[SURVEY_PIECE_SIZE];

// Counts the non-zero bytes from offset (a sector boundary) to the end of
// the file, in one forward pass through a buffer of its own (g_io_buffer
// keeps track 0), and sorts them by the owner of their sector. *data_end is
// just past the last non-zero byte, 0 when there is none. Every byte read is
// added to hash, when one is given. 0, or negative on a failed seek or read.
int count_loss(FILE* image, int64_t offset, image_survey* survey, int64_t* data_end,
               digest_state* hash = nullptr)
{
    unsigned char owners[TRD_REACHABLE_SECTORS];
    map_owners(survey->catalogue, owners);
    *data_end = 0;
    if (seek_stream(image, offset, SEEK_SET) != 0)
        return -1;
    for (int64_t start = offset;; start += SURVEY_PIECE_SIZE) {
        const size_t read = read_stream(g_survey_piece, 1, sizeof g_survey_piece, image);
        if (stream_failed(image))
            return -1;
        if (hash)
            digest_add(hash, g_survey_piece, read);
        const size_t end = end_of_data(g_survey_piece, read);
        if (end > 0)
            *data_end = start + static_cast<int64_t>(end);
        for (size_t at = 0; at < end; at += TRD_SECTOR_SIZE) {
            int count = 0;
            if (at + TRD_SECTOR_SIZE <= end) {
                count = count_non_zero_sector(g_survey_piece + at);
            } else {
                for (size_t i = at; i < end; ++i)
                    count += g_survey_piece[i] != 0;
            }
            if (count == 0)
                continue;
            const int64_t sector = (start + static_cast<int64_t>(at)) / TRD_SECTOR_SIZE;
            const unsigned char owner = sector < TRD_REACHABLE_SECTORS
                                            ? owners[sector]
                                            : static_cast<unsigned char>(OWNED_BY_NONE);
            survey->cut_free_loses += count;
            if (owner == OWNED_BY_FILE)
                survey->loses_in_files += count;
            else if (owner == OWNED_BY_DELETED)
                survey->loses_in_deleted += count;
        }
        if (read < sizeof g_survey_piece)
            return 0;
    }
}

// The catalogue from track 0, and nothing measured yet.
void start_survey(image_survey* survey)
{
    read_catalogue(&survey->catalogue);
    survey->length = -1;
    survey->data_end = TRD_TRACK_SIZE;
    survey->cut_zeros = -1;
    survey->free_offset = free_sector_offset();
    survey->cut_free_loses = 0;
    survey->loses_in_files = 0;
    survey->loses_in_deleted = 0;
    survey->restore = -1;
}

} // namespace

int survey_cut_free(FILE* image, image_survey* survey, unsigned char* cut_digest)
{
    start_survey(survey);
    digest_state* hash = cut_digest ? digest_begin(DIGEST_SHA1) : nullptr;
    if (cut_digest && !hash) {
        errno = ENOMEM;
        return -1;
    }
    int64_t data_end = 0;
    // Nothing is read where cut_free_sectors refuses the disk.
    const int result = survey->free_offset < TRD_TRACK_SIZE
                           ? 0
                           : count_loss(image, survey->free_offset, survey, &data_end, hash);
    if (hash)
        digest_end(hash, cut_digest);
    return result;
}

int survey_image(FILE* image, image_survey* survey)
{
    start_survey(survey);
    survey->length = stream_length(image);
    if (survey->length < 0)
        return -1;
    survey->cut_zeros = survey->length;
    survey->restore = restored_length(survey->length);
    const bool cut_free_shortens =
        survey->free_offset >= TRD_TRACK_SIZE && survey->free_offset < survey->length;

    // What a cut at the first free sector would discard, read forward once;
    // when any of it is data, the last of it is where the data ends.
    int64_t lost_end = 0;
    if (cut_free_shortens && count_loss(image, survey->free_offset, survey, &lost_end) != 0)
        return -1;
    if (survey->length <= TRD_TRACK_SIZE || survey->length > TRD_MAX_LENGTH)
        return 0; // cut_zeros leaves such a file alone
    if (lost_end > 0) {
        survey->data_end = lost_end;
    } else {
        // Below the first free sector only, when all above it is zeros.
        survey->data_end =
            find_data_end(image, cut_free_shortens ? survey->free_offset : survey->length);
        if (survey->data_end < 0)
            return -1;
    }
    zero_tail tail = {survey->length, survey->data_end, 0};
    survey->cut_zeros = zero_cut_length(&tail);
    return 0;
}

survey_verdict survey_file(const char* name, survey_depth depth, image_survey* survey, char* why,
                           size_t why_size, unsigned char* cut_digest, bool full_catalogue_too)
{
    if (why && why_size > 0)
        why[0] = '\0';
    FILE* image = open_image(name, "rb", TRD_TRACK_SIZE);
    if (!image)
        return SURVEY_ERROR;
    survey_verdict verdict = SURVEY_IMAGE;
    const int64_t count = read_track0(image);
    if (count < 0) {
        verdict = SURVEY_ERROR;
    } else if (!judge_track0(count, full_catalogue_too)) {
        if (why)
            describe_check_failure(count, why, why_size);
        verdict = SURVEY_NOT_IMAGE;
    } else if (depth == SURVEY_CATALOGUE) {
        start_survey(survey);
    } else if ((depth == SURVEY_WHOLE ? survey_image(image, survey)
                                      : survey_cut_free(image, survey, cut_digest)) != 0) {
        verdict = SURVEY_ERROR;
    }
    const int error = errno;
    close_stream(image);
    errno = error;
    return verdict;
}
