#include "trd_image.h"

#include "file_io.h"
#include "messages.h"
#include "status_log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

// A zero tail is skipped 256 bytes at a time (a loop the compiler turns into
// vector instructions), then 32, then the last bytes one by one.
size_t end_of_data(const unsigned char* buffer, size_t count)
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

// The blocks the zero tail is read in, straight from the file: a read of a
// whole block passes the stream's buffer by, so each byte is copied once.
alignas(64) static unsigned char g_scan_block[TRD_SCAN_MAX_BLOCK_PIECES * TRD_TRACK_SIZE];

// The blocks beyond track 0 are read from the end towards the start, and
// the scan stops at the first block that holds data. The first block is
// small, for a disk whose data reaches its last tracks; each next one is
// twice as long, up to a limit, so that a long zero tail takes a few reads.
// Negative on a failed seek or read.
int64_t find_data_end(FILE* image, int64_t end)
{
    const int64_t pieces = (end + TRD_TRACK_SIZE - 1) / TRD_TRACK_SIZE;
    int64_t block_pieces = TRD_SCAN_BLOCK_PIECES;
    for (int64_t block_end = pieces; block_end > 1; block_end -= block_pieces,
                 block_pieces = std::min(block_pieces * 2, TRD_SCAN_MAX_BLOCK_PIECES)) {
        const int64_t block_start = std::max<int64_t>(block_end - block_pieces, 1);
        const int64_t start = block_start * TRD_TRACK_SIZE;
        if (seek_stream(image, start, SEEK_SET) != 0)
            return -1;
        // Bytes from end on are not asked for (the file may go on).
        const int64_t wanted = std::min(block_end * TRD_TRACK_SIZE, end) - start;
        const size_t count = read_stream(g_scan_block, 1, static_cast<size_t>(wanted), image);
        if (stream_failed(image))
            return -1;
        // A short read: the file was cut under us; what was read counts.
        const size_t data = end_of_data(g_scan_block, count);
        if (data > 0)
            return start + static_cast<int64_t>(data);
    }
    return TRD_TRACK_SIZE;
}

int64_t stream_length(FILE* image)
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

int plan_cut_zeros(FILE* image, length_plan* plan)
{
    zero_tail tail;
    const int scanned = scan_zero_tail(image, &tail);
    plan->length = tail.length;
    plan->new_length = scanned > 0 ? zero_cut_length(&tail) : tail.length;
    return scanned < 0 ? scanned : 0;
}

int screen_cut_zeros(FILE* image, length_plan* plan)
{
    plan->length = plan->new_length = -1;
    if (seek_stream(image, 0, SEEK_END) != 0)
        return -1;
    // As the scan: a length that cannot be told, or is out of its range,
    // is never cut.
    plan->length = plan->new_length = tell_stream(image);
    if (plan->length <= TRD_TRACK_SIZE || plan->length > TRD_MAX_LENGTH)
        return 0;
    // The sector that holds the last byte, or what of it lies past track 0.
    const int64_t start =
        std::max<int64_t>((plan->length - 1) / TRD_SECTOR_SIZE * TRD_SECTOR_SIZE, TRD_TRACK_SIZE);
    if (seek_stream(image, start, SEEK_SET) != 0)
        return -1;
    const size_t count =
        read_stream(g_scan_block, 1, static_cast<size_t>(plan->length - start), image);
    if (stream_failed(image))
        return -1;
    const size_t data = end_of_data(g_scan_block, count);
    const zero_tail tail = {plan->length, start + static_cast<int64_t>(data), count};
    // No data in that sector: the cut reaches at least to its start.
    if (data == 0 || zero_cut_length(&tail) != plan->length)
        plan->new_length = -1;
    return 0;
}

int apply_cut_zeros(FILE* image, const length_plan* plan)
{
    return set_stream_length(image, plan->new_length);
}

int64_t free_sector_offset()
{
    return (int64_t{g_io_buffer[TRD_FIRST_FREE_TRACK]} * TRD_SECTORS_PER_TRACK +
            g_io_buffer[TRD_FIRST_FREE_SECTOR]) *
           TRD_SECTOR_SIZE;
}

const char* cut_free_refusal(int64_t free_offset, int64_t length)
{
    // Such disks exist: some tools leave the fields at 0, others count
    // past the last cylinder.
    if (free_offset < TRD_TRACK_SIZE)
        return tr("First free sector is in track 0, file not cut !");
    if (free_offset > length && free_offset > int64_t{g_track_count} * TRD_TRACK_SIZE)
        return tr("First free sector lies past the end of the disk, file not cut !");
    return nullptr;
}

int plan_cut_free(FILE* image, length_plan* plan)
{
    plan->new_length = free_sector_offset();
    plan->length = -1;
    // A cut into track 0 is refused before the file is asked anything.
    if (plan->new_length < TRD_TRACK_SIZE) {
        status_print(cut_free_refusal(plan->new_length, 0));
        return -1;
    }
    // The size from the descriptor: no seek, and no read past track 0.
    file_identity identity;
    if (stream_identity(image, &identity) != 0) {
        status_print_errno();
        return -1;
    }
    plan->length = identity.size;
    if (const char* refusal = cut_free_refusal(plan->new_length, plan->length)) {
        status_print(refusal);
        plan->new_length = plan->length;
        return -1;
    }
    return 0;
}

int apply_cut_free(FILE* image, const length_plan* plan)
{
    const int result = set_stream_length(image, plan->new_length);
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

int plan_restore(FILE* image, length_plan* plan)
{
    // The size from the descriptor: nothing past track 0 is read.
    file_identity identity;
    if (stream_identity(image, &identity) != 0) {
        plan->length = plan->new_length = -1;
        status_print_errno();
        return -1;
    }
    plan->length = plan->new_length = identity.size;
    // An empty file: only a stream that the check has not passed.
    if (plan->length == 0) {
        status_print_errno();
        return 0;
    }
    plan->new_length = restored_length(plan->length);
    return 0;
}

// A restore that could not write all its zeros (a full disk) gives the
// file back the length it had, and says why in the system's own words.
static int undo_restore(FILE* image, const length_plan* plan)
{
    const int error = errno;
    reset_stream_length(image, plan->length);
    errno = error;
    status_print_errno();
    return -1;
}

// The zeros a restore appends, a whole disk of them: zero at start and
// never written to, so they take no room in the program file.
static unsigned char g_zero_disk[TRD_MAX_DISK_SIZE];

int apply_restore(FILE* image, const length_plan* plan)
{
    const int64_t missing = plan->new_length - plan->length;
    if (missing <= 0 || missing > TRD_MAX_DISK_SIZE) // never past the largest disk
        return 0;
    // In one write, past the stream's buffer: the zeros are not copied.
    if (seek_stream(image, plan->length, SEEK_SET) != 0) {
        status_print_errno();
        return -1;
    }
    if (write_stream(g_zero_disk, static_cast<size_t>(missing), 1, image) != 1)
        return undo_restore(image, plan);
    // Push the zeros to the file now, so that a full disk is reported here
    // rather than lost in the close.
    if (flush_stream(image) != 0)
        return undo_restore(image, plan);
    return 1;
}

// Each operation is its plan and, only when the length changes, the change:
// a file that keeps its length is not written, and keeps its time.
static int plan_and_apply(FILE* image, int (*plan_operation)(FILE*, length_plan*),
                          int (*apply_operation)(FILE*, const length_plan*))
{
    length_plan plan;
    const int planned = plan_operation(image, &plan);
    if (planned < 0 || plan.new_length == plan.length)
        return planned;
    return apply_operation(image, &plan);
}

int cut_zeros(FILE* image)
{
    return plan_and_apply(image, plan_cut_zeros, apply_cut_zeros);
}

int cut_free_sectors(FILE* image)
{
    return plan_and_apply(image, plan_cut_free, apply_cut_free);
}

int restore_size(FILE* image)
{
    return plan_and_apply(image, plan_restore, apply_restore);
}
