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

// Lengths the core handles; a file of 2 GiB or more is never cut or restored.
constexpr int64_t TRD_MAX_LENGTH = INT32_MAX;

// ---- Check (disk_info.cpp) ----

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
// Negative on a failed seek or write, with the error text.
int restore_size(FILE* image);

// The one form of the three, so a batch can hold the chosen one.
typedef int (*image_operation)(FILE* image);
