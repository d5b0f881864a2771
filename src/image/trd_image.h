// The TR-DOS image core: the disk-info check and the three in-place
// operations on an open image stream.
#pragma once

#include <cstdint>
#include <cstdio>

// ---- Geometry of an image ----
constexpr int32_t TRD_SECTOR_SIZE = 256;
constexpr int32_t TRD_SECTORS_PER_TRACK = 16;
constexpr int32_t TRD_TRACK_SIZE = TRD_SECTOR_SIZE * TRD_SECTORS_PER_TRACK; // 4096

// ---- Disk-info sector: image offsets of the fields the check reads ----
constexpr int TRD_INFO_START = 0x800; // must hold 0x00
constexpr int TRD_FIRST_FREE_SECTOR = 0x8E1;
constexpr int TRD_FIRST_FREE_TRACK = 0x8E2;
constexpr int TRD_DISK_TYPE = 0x8E3;  // 0x16 to 0x19
constexpr int TRD_FILE_COUNT = 0x8E4; // below 0x80
constexpr int TRD_ID = 0x8E7;         // must hold 0x10
constexpr unsigned char TRD_ID_VALUE = 0x10;
// A file must reach the identifier byte to be judged at all.
constexpr int32_t TRD_MIN_CHECKED_LENGTH = TRD_ID + 1; // 2,280 bytes

// The zero-tail scan reads this many track-sized pieces per block, from the
// end of the file backwards; a stream buffer of a block reads each in one go.
constexpr int64_t TRD_SCAN_BLOCK_PIECES = 8;
constexpr size_t TRD_SCAN_BLOCK_SIZE = TRD_SCAN_BLOCK_PIECES * TRD_TRACK_SIZE; // 32 KiB

// Lengths the core handles; a file of 2 GiB or more is never cut or restored.
constexpr int64_t TRD_MAX_LENGTH = INT32_MAX;

// ---- Check (disk_info.cpp) ----

// True when a file name ends in ".trd", in any case: the names a folder
// contributes when it is walked or dropped.
bool has_trd_extension(const char* name);

// Track buffer: track 0 of the file in hand after a successful check; the
// operations reuse it for their own reads and writes.
extern unsigned char g_io_buffer[TRD_TRACK_SIZE];
// Logical track count of the last file that passed the check (160, 80 or
// 40); 0 before any file has passed.
extern int16_t g_track_count;

// Reads track 0 of a stream positioned at the start of the file into
// g_io_buffer and tests its disk-info sector. 0 when it is a TR-DOS image
// (g_track_count set); -1 after writing "File is not TRD image !".
// Changes nothing in the file; the caller closes the stream.
int check_trd_image(FILE* image);

// Tests the disk-info fields in g_io_buffer: 1 when they pass (and
// g_track_count is set), 0 otherwise. Writes no status line.
int parse_disk_info();

// ---- Operations (operations.cpp) ----
// Each takes a stream that check_trd_image has just passed, changes the
// file in place and never closes it.

// Sets the length to just past the last non-zero byte beyond track 0,
// raised to a whole sector. Negative on a failed seek, read or length
// change; no status line.
int cut_zeros(FILE* image);

// Sets the length to the start of the first free sector. Refuses a target
// inside track 0. Negative on failure, with the error text for a failed
// length change.
int cut_free_sectors(FILE* image);

// Appends zero bytes up to the full size of the disk type; never shortens.
// Reads on from the stream's position to find the file's end, so it follows
// the check on the same stream. Negative on a failed read or write, with
// the error text.
int restore_size(FILE* image);

// ---- What the operations measure, for a report that changes nothing ----

// Where the data of an image ends, as cut_zeros finds it.
struct zero_tail {
    int64_t length;   // the file's length, -1 when it cannot be told
    int64_t data_end; // just past the last non-zero byte beyond track 0, 4096 at least
    size_t last_read; // bytes returned by the last read of the scan
};

// Scans the stream beyond track 0 (through g_io_buffer), from the end
// backwards, and stops at the last block that holds data. 1 when scanned; 0
// when the file is not to be scanned (4,096 bytes or less, 2 GiB or more, or
// a length that cannot be told); negative on a failed seek or read.
int scan_zero_tail(FILE* image, zero_tail* tail);

// The length cut_zeros gives a scanned file: data_end raised to a whole
// sector, or the length itself when the last byte holds data.
int64_t zero_cut_length(const zero_tail* tail);

// Start of the first free sector recorded in the disk-info sector in
// g_io_buffer: where cut_free_sectors cuts (it refuses below 4,096).
int64_t free_sector_offset();

// The length restore_size gives a file of this length: the full size of the
// disk type (g_track_count), or the length itself when that is not shorter
// or the file is 2 GiB or more.
int64_t restored_length(int64_t length);

// Counts the non-zero bytes from offset to the end of the file, in one
// forward pass through a buffer of its own (g_io_buffer keeps track 0).
// 0 with *count and *data_end (just past the last non-zero byte, 0 when
// there is none); negative on a failed seek or read.
int count_data_from(FILE* image, int64_t offset, int64_t* count, int64_t* data_end);

// What each operation would make of a checked image, for a report.
struct image_survey {
    int64_t length;
    int64_t data_end;       // as scan_zero_tail finds it; 4096 when not scanned
    int64_t cut_zeros;      // the length cut_zeros gives
    int64_t free_offset;    // where cut_free_sectors cuts; below 4,096 it refuses
    int64_t cut_free_loses; // non-zero bytes at or past free_offset that its cut discards
    int64_t restore;        // the length restore_size gives
};

// Measures a stream that check_trd_image has just passed, reading each byte
// beyond track 0 once at most. 0, or negative on a failed seek or read.
int survey_image(FILE* image, image_survey* survey);

// The one form of the three, so a batch can hold the chosen one.
typedef int (*image_operation)(FILE* image);
