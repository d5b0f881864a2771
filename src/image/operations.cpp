#include "trd_image.h"

#include "file_io.h"
#include "status_log.h"

#include <cstring>

// Offset just past the last non-zero byte of a buffer, 0 when all are zero.
// A zero tail is skipped 256 bytes at a time (a loop the compiler turns into
// vector instructions), then 32, then the last bytes one by one.
static size_t end_of_data(const unsigned char* buffer, size_t count)
{
    while (count >= 256) {
        uint64_t words[32];
        std::memcpy(words, buffer + count - 256, sizeof words);
        uint64_t any = 0;
        for (uint64_t word : words)
            any |= word;
        if (any != 0)
            break;
        count -= 256;
    }
    while (count >= 32) {
        uint64_t words[4];
        std::memcpy(words, buffer + count - 32, sizeof words);
        if ((words[0] | words[1] | words[2] | words[3]) != 0)
            break;
        count -= 32;
    }
    while (count > 0 && buffer[count - 1] == 0)
        --count;
    return count;
}

// Just past the last non-zero byte in [4096, end) of the stream, 4096 when
// there is none: the pieces beyond track 0 are read from the end towards
// the start, a block of them at a time, and the scan stops at the first
// block that holds data. Within a block the pieces are read forward, so
// that the stream fills its buffer with the whole block in one read.
// Negative on a failed seek or read.
static int64_t find_data_end(FILE* image, int64_t end)
{
    const int64_t pieces = (end + TRD_TRACK_SIZE - 1) / TRD_TRACK_SIZE;
    for (int64_t block_end = pieces; block_end > 1; block_end -= TRD_SCAN_BLOCK_PIECES) {
        const int64_t block_start =
            block_end - TRD_SCAN_BLOCK_PIECES > 1 ? block_end - TRD_SCAN_BLOCK_PIECES : 1;
        if (seek_stream(image, block_start * TRD_TRACK_SIZE, SEEK_SET) != 0)
            return -1;
        int64_t block_data_end = 0;
        for (int64_t piece = block_start; piece < block_end; ++piece) {
            size_t count = read_stream(g_io_buffer, 1, sizeof g_io_buffer, image);
            if (stream_failed(image))
                return -1;
            // Bytes from end on are not asked for (the file may go on).
            const int64_t start = piece * TRD_TRACK_SIZE;
            if (start + static_cast<int64_t>(count) > end)
                count = static_cast<size_t>(end - start);
            const size_t data = end_of_data(g_io_buffer, count);
            if (data > 0)
                block_data_end = start + static_cast<int64_t>(data);
            if (count < sizeof g_io_buffer)
                break; // the end of the range, or the file was cut under us
        }
        if (block_data_end > 0)
            return block_data_end;
    }
    return TRD_TRACK_SIZE;
}

// The stream's length, after a seek to its end; -1 when the seek fails, and
// whatever tell gives (negative) when the position cannot be told.
static int64_t stream_length(FILE* image)
{
    if (seek_stream(image, 0, SEEK_END) != 0)
        return -1;
    return tell_stream(image);
}

int scan_zero_tail(FILE* image, zero_tail* tail)
{
    tail->length = -1;
    tail->data_end = TRD_TRACK_SIZE;
    tail->last_read = 0;
    if (seek_stream(image, 0, SEEK_END) != 0)
        return -1;
    // A file no longer than track 0 is never changed, nor one of 2 GiB or
    // more, nor one whose length cannot be told.
    tail->length = tell_stream(image);
    if (tail->length <= TRD_TRACK_SIZE || tail->length > TRD_MAX_LENGTH)
        return 0;
    // What a forward pass in track-sized pieces would have read last: the
    // part piece at the end, or nothing when the length is whole tracks.
    tail->last_read = static_cast<size_t>(tail->length % TRD_TRACK_SIZE);
    tail->data_end = find_data_end(image, tail->length);
    return tail->data_end < 0 ? -1 : 1;
}

int64_t zero_cut_length(const zero_tail* tail)
{
    // The last byte holds data: nothing to cut.
    if (tail->data_end >= tail->length)
        return tail->length;
    return (tail->data_end + TRD_SECTOR_SIZE - 1) / TRD_SECTOR_SIZE * TRD_SECTOR_SIZE;
}

int cut_zeros(FILE* image)
{
    zero_tail tail;
    const int scanned = scan_zero_tail(image, &tail);
    if (scanned <= 0)
        return scanned;
    if (tail.data_end >= tail.length)
        return static_cast<int>(tail.last_read);
    return set_stream_length(image, zero_cut_length(&tail));
}

int64_t free_sector_offset()
{
    return (int64_t{g_io_buffer[TRD_FIRST_FREE_TRACK]} * TRD_SECTORS_PER_TRACK +
            g_io_buffer[TRD_FIRST_FREE_SECTOR]) *
           TRD_SECTOR_SIZE;
}

int cut_free_sectors(FILE* image)
{
    const int64_t target = free_sector_offset();
    // Cutting inside track 0 would destroy the catalogue and the disk-info
    // sector; such disks exist (the fields are left at 0 by some tools).
    if (target < TRD_TRACK_SIZE) {
        status_print("First free sector is in track 0, file not cut !");
        return -1;
    }
    // The length change alone: it fails wherever a seek to the target would.
    const int result = set_stream_length(image, target);
    if (result < 0)
        status_print_errno();
    return result;
}

int64_t restored_length(int64_t length)
{
    // Never shorten, and leave a file of 2 GiB or more alone.
    const int64_t full = int64_t{g_track_count} * TRD_TRACK_SIZE;
    return length > TRD_MAX_LENGTH || length >= full ? length : full;
}

// The stream's length, found by reading on from its position to the end of
// the file, but no further than the full size: a file that reaches it is
// never lengthened, so the rest need not be read. When the check has just
// read the image with a whole-disk stream buffer, the bytes are already in
// that buffer and only the last read reaches the file; a seek to the end
// would instead ask for the file's status and read the last block again.
// A read that meets the end of the file lets a write follow without a seek.
// Negative on a failed tell or read.
static int64_t read_to_end(FILE* image, int64_t full)
{
    int64_t length = tell_stream(image);
    if (length < 0)
        return -1;
    while (length < full) {
        const size_t count = read_stream(g_io_buffer, 1, sizeof g_io_buffer, image);
        if (stream_failed(image))
            return -1;
        length += static_cast<int64_t>(count);
        if (count < sizeof g_io_buffer)
            break;
    }
    return length;
}

int restore_size(FILE* image)
{
    const int64_t full = int64_t{g_track_count} * TRD_TRACK_SIZE;
    const int64_t length = read_to_end(image, full);
    if (length < 0) {
        status_print_errno();
        return -1;
    }
    // An empty file: only a stream that the check has not passed.
    if (length == 0) {
        status_print_errno();
        return 0;
    }
    // A length read only up to the full size gives nothing missing, as the
    // whole length would.
    int64_t missing = restored_length(length) - length;
    if (missing <= 0)
        return 0;

    std::memset(g_io_buffer, 0, sizeof g_io_buffer);
    while (missing > 0) {
        const size_t piece =
            missing < TRD_TRACK_SIZE ? static_cast<size_t>(missing) : sizeof g_io_buffer;
        if (write_stream(g_io_buffer, piece, 1, image) != 1) {
            status_print_errno();
            return -1;
        }
        missing -= TRD_TRACK_SIZE;
    }
    // Push the zeros to the file now, so that a full disk is reported here
    // rather than lost in the close.
    if (flush_stream(image) != 0) {
        status_print_errno();
        return -1;
    }
    return 1;
}

int count_data_from(FILE* image, int64_t offset, int64_t* count, int64_t* data_end)
{
    // A buffer of its own: g_io_buffer keeps track 0 for the operation.
    static unsigned char piece[TRD_TRACK_SIZE];
    *count = 0;
    *data_end = 0;
    if (seek_stream(image, offset, SEEK_SET) != 0)
        return -1;
    for (int64_t start = offset;; start += TRD_TRACK_SIZE) {
        const size_t read = read_stream(piece, 1, sizeof piece, image);
        if (stream_failed(image))
            return -1;
        const size_t end = end_of_data(piece, read);
        if (end > 0) {
            *data_end = start + static_cast<int64_t>(end);
            for (size_t i = 0; i < end; ++i)
                *count += piece[i] != 0;
        }
        if (read < sizeof piece)
            return 0;
    }
}

int survey_image(FILE* image, image_survey* survey)
{
    survey->free_offset = free_sector_offset();
    survey->cut_free_loses = 0;
    survey->length = stream_length(image);
    if (survey->length < 0)
        return -1;
    survey->data_end = TRD_TRACK_SIZE;
    survey->cut_zeros = survey->length;
    survey->restore = restored_length(survey->length);
    const bool cut_free_shortens =
        survey->free_offset >= TRD_TRACK_SIZE && survey->free_offset < survey->length;

    // What a cut at the first free sector would discard, read forward once;
    // when any of it is data, the last of it is where the data ends.
    int64_t lost_end = 0;
    if (cut_free_shortens &&
        count_data_from(image, survey->free_offset, &survey->cut_free_loses, &lost_end) != 0)
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
