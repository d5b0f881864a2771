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
// The rest of the disk-info sector, which the check does not test.
constexpr int TRD_FREE_SECTORS = 0x8E5;  // 16 bits, little-endian
constexpr int TRD_DELETED_COUNT = 0x8F4; // deleted files among the file count
constexpr int TRD_LABEL = 0x8F5;         // 8 bytes, blank-padded
constexpr int TRD_LABEL_SIZE = 8;
// A file must reach the identifier byte to be judged at all.
constexpr int32_t TRD_MIN_CHECKED_LENGTH = TRD_ID + 1; // 2,280 bytes

// The zero-tail scan reads this many tracks per block, from the end of the
// file backwards, each block in one read straight from the file.
// Each next block is twice as long, up to the largest.
constexpr int64_t TRD_SCAN_BLOCK_PIECES = 8;
constexpr size_t TRD_SCAN_BLOCK_SIZE = TRD_SCAN_BLOCK_PIECES * TRD_TRACK_SIZE; // 32 KiB
constexpr int64_t TRD_SCAN_MAX_BLOCK_PIECES = 64;                              // 256 KiB

// The largest disk a type gives: 80 cylinders, two sides.
constexpr int64_t TRD_MAX_DISK_SIZE = 160 * TRD_TRACK_SIZE;

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

// The status line of a file that fails the check, in the user's language.
const char* not_image_text();

// Reads track 0 of a stream positioned at the start of the file into
// g_io_buffer and tests its disk-info sector. 0 when it is a TR-DOS image
// (g_track_count set); -1 after writing "File is not TRD image !".
// Changes nothing in the file; the caller closes the stream.
int check_trd_image(FILE* image);

// Tests the disk-info fields in g_io_buffer: 1 when they pass (and
// g_track_count is set), 0 otherwise. Writes no status line.
int parse_disk_info(bool full_catalogue_too = false);
// The same test on any track 0 (TRD_TRACK_SIZE bytes): the logical track
// count its type gives (160, 80 or 40) when it passes, 0 otherwise. The
// operations take at most 127 files; TR-DOS holds 128, and the commands
// that only read take such a disk too (full_catalogue_too).
int tracks_of_disk_info(const unsigned char* track0, bool full_catalogue_too = false);
// A disk-info sector that gives the file count 128 (which the operations
// leave).
bool has_full_catalogue(const unsigned char* track0);

// The check's read alone: track 0 into g_io_buffer, cleared first, so that
// a short file is judged on its own bytes only. The number of bytes read,
// or -1 when the read fails (errno set).
int64_t read_track0(FILE* image);

// The check's verdict on what read_track0 read (count bytes): 1 when the
// file passes (g_track_count set), 0 otherwise. Writes no status line.
int judge_track0(int64_t count, bool full_catalogue_too = false);

// Which test a file fails, for a report: the offset, the value found and
// what was wanted ("byte 0x800 is 0x54, wanted 0x00"), from the bytes that
// read_track0 read; empty when the file passes.
void describe_check_failure(int64_t count, char* text, size_t size);

// ---- Catalogue (catalogue.cpp) ----
// Track 0 holds up to 128 entries of 16 bytes in sectors 0 to 7; the list
// ends at the first entry whose first byte is 0, and an entry whose first
// byte is 1 is a deleted file. A sector is named by its logical number,
// track * 16 + sector.

constexpr int TRD_MAX_ENTRIES = 128;
constexpr int TRD_ENTRY_SIZE = 16;
constexpr int TRD_NAME_SIZE = 8;
constexpr unsigned char TRD_DELETED_MARK = 0x01;
// Just past the furthest sector an entry can name: track 255, sector 255,
// and 255 sectors long.
constexpr int32_t TRD_REACHABLE_SECTORS = 255 * TRD_SECTORS_PER_TRACK + 255 + 255;

struct trd_entry {
    unsigned char name[TRD_NAME_SIZE]; // blank-padded, as on the disk
    unsigned char type;
    uint16_t start;       // start address or parameter
    uint16_t length;      // in bytes
    uint8_t sectors;      // length in sectors
    uint8_t first_sector; // within its track
    uint8_t first_track;  // logical track
    bool deleted;
};

// Where an entry starts, and just past where it ends, as sector numbers.
int32_t entry_first(const trd_entry& entry);
int32_t entry_end(const trd_entry& entry);

// The catalogue and the disk-info fields around it, as one description.
struct trd_catalogue {
    int entry_count; // entries before the end mark, deleted ones included
    int deleted_entries;
    trd_entry entries[TRD_MAX_ENTRIES];
    // As the disk-info sector records them:
    uint8_t disk_type;
    uint8_t file_count;    // deleted files included
    uint8_t deleted_count; // deleted files
    uint16_t free_sectors;
    uint8_t first_free_sector, first_free_track;
    unsigned char label[TRD_LABEL_SIZE];
    int32_t disk_sectors; // of the whole disk its type gives; 0 for no type
};

// The catalogue as track 0 in g_io_buffer holds it: read once, after the
// check, and never from the file again.
void read_catalogue(trd_catalogue* catalogue);
// The same from any track 0 (TRD_TRACK_SIZE bytes).
void read_catalogue_from(const unsigned char* track0, trd_catalogue* catalogue);

// Bytes from the disk (a name, a label) as text any output can carry:
// printable ASCII as it is, a backslash as "\\", any other byte as "\xNN".
// Always ended by a NUL within size; returns text.
const char* escape_disk_text(const unsigned char* bytes, size_t count, char* text, size_t size);

// What can be wrong with a disk beyond the five bytes the check tests.
enum image_problem_kind {
    PROBLEM_BYTES_MISSING,    // found: bytes past the disk's end used but not held
    PROBLEM_IN_TRACK_ZERO,    // entry starts in track 0; found: its first sector
    PROBLEM_PAST_DISK_END,    // entry; found: bytes past the end of the disk
    PROBLEM_SECTOR_NUMBER,    // entry, or -1 for the first free sector; found: the number
    PROBLEM_FREE_BEFORE_FILE, // entry: the file ending last; found: first free, wanted: its end
    PROBLEM_FILE_COUNT,       // found: recorded; wanted: entries
    PROBLEM_DELETED_COUNT,    // found: recorded; wanted: deleted entries
    PROBLEM_FREE_COUNT,       // found: recorded; wanted: sectors from first free to the disk's end
    PROBLEM_SHARED_SECTORS,   // entry and other; found: sectors both claim
};

struct image_problem {
    image_problem_kind kind;
    int entry; // index into the catalogue, -1 for none
    int other;
    int64_t found;
    int64_t wanted;
};

// Enough for every problem one catalogue can have.
constexpr int TRD_MAX_PROBLEMS = 4 * TRD_MAX_ENTRIES + 8;

// Every problem of a disk of this length with this catalogue, in a fixed
// order, up to capacity; the number found. Entries of no sectors (menu
// labels) are normal. An image shorter than its disk is not damaged for
// that alone: the bytes it lacks are the zeros restore gives back.
int find_image_problems(const trd_catalogue& catalogue, int64_t length, image_problem* problems,
                        int capacity);

// One plain line for a problem, without the file's name.
void describe_image_problem(const trd_catalogue& catalogue, const image_problem& problem,
                            char* text, size_t size);

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
// Negative on a failed write, with the error text, after giving the file
// back the length it had.
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

// Why cut_free_sectors refuses to cut a file of this length at this first
// free sector, as its status line says it, or null when it cuts: a target
// inside track 0 would destroy the catalogue, and one past both the file's
// end and the end of its disk (g_track_count) would make it longer than
// any disk of its type.
const char* cut_free_refusal(int64_t free_offset, int64_t length);

// The length restore_size gives a file of this length: the full size of the
// disk type (g_track_count), or the length itself when that is not shorter
// or the file is 2 GiB or more.
int64_t restored_length(int64_t length);

// Offset just past the last non-zero byte of a buffer, 0 when all are zero.
size_t end_of_data(const unsigned char* buffer, size_t count);

// Just past the last non-zero byte in [4096, end) of the stream, 4096 when
// there is none, read from the end backwards a block at a time. Negative on
// a failed seek or read.
int64_t find_data_end(FILE* image, int64_t end);

// The stream's length, after a seek to its end; -1 when the seek fails, and
// whatever tell gives (negative) when the position cannot be told.
int64_t stream_length(FILE* image);

// What each operation would make of a checked image, and what it holds: the
// one description that every report and every question is made from.
struct image_survey {
    int64_t length;         // -1 when only the loss was surveyed
    int64_t data_end;       // as scan_zero_tail finds it; 4096 when not scanned
    int64_t cut_zeros;      // the length cut_zeros gives
    int64_t free_offset;    // where cut_free_sectors cuts; below 4,096 it refuses
    int64_t cut_free_loses; // non-zero bytes at or past free_offset that its cut discards
    // Where those bytes lie: inside files, inside deleted files only, and
    // the rest outside every entry.
    int64_t loses_in_files;
    int64_t loses_in_deleted;
    int64_t restore; // the length restore_size gives
    trd_catalogue catalogue;
};

// The non-zero bytes a cut at the first free sector would discard, outside
// every entry.
inline int64_t loses_outside(const image_survey& survey)
{
    return survey.cut_free_loses - survey.loses_in_files - survey.loses_in_deleted;
}

// Measures a stream that check_trd_image has just passed, reading each byte
// beyond track 0 once at most. 0, or negative on a failed seek or read.
int survey_image(FILE* image, image_survey* survey);

// The part of the survey a cut at the first free sector needs: the catalogue
// and what the cut would discard, read forward once from the first free
// sector (nothing when it lies in track 0). The lengths stay -1. With
// cut_digest (DIGEST_SHA1_SIZE bytes), the SHA-1 of every byte from the
// first free sector to the end of the file, so that a later survey can tell
// whether what a cut discards is still what it was. 0, or negative on a
// failed seek or read, or when no hash can be made.
int survey_cut_free(FILE* image, image_survey* survey, unsigned char* cut_digest = nullptr);

enum survey_verdict { SURVEY_IMAGE, SURVEY_NOT_IMAGE, SURVEY_ERROR };

// How much of a file survey_file reads: track 0 alone (the catalogue), what
// a cut at the first free sector loses too, or everything survey_image finds.
enum survey_depth { SURVEY_CATALOGUE, SURVEY_CUT_FREE, SURVEY_WHOLE };

// Opens a file read-only, checks it without a status line and surveys it to
// the depth asked. SURVEY_ERROR leaves errno set; SURVEY_NOT_IMAGE leaves
// why (when given) saying which test failed. With cut_digest, at the depth
// of a cut at the first free sector, the SHA-1 of what it discards.
survey_verdict survey_file(const char* name, survey_depth depth, image_survey* survey, char* why,
                           size_t why_size, unsigned char* cut_digest = nullptr,
                           bool full_catalogue_too = false);

// The one form of the three, so a batch can hold the chosen one.
typedef int (*image_operation)(FILE* image);

// ---- Each operation in two halves ----
// The plan measures the file and says what the operation makes of it,
// writing the same status lines as the operation on a failure; the apply
// makes that change on a stream open for update. An operation is its plan,
// then its apply only when the length changes. A program can plan on a
// read-only stream and open the file for writing only to apply.

struct length_plan {
    int64_t length;     // as far as the operation reads it; -1 when not told
    int64_t new_length; // what the operation gives the file
};

// Negative on failure; the plan stands otherwise.
int plan_cut_zeros(FILE* image, length_plan* plan);
int plan_cut_free(FILE* image, length_plan* plan);
int plan_restore(FILE* image, length_plan* plan);

// Whether cut_zeros would change the file, from its last sector alone:
// new_length equals length when it would not, and is -1 when it would (what
// it cuts to is known only once the whole tail is scanned). Negative on a
// failed seek or read.
int screen_cut_zeros(FILE* image, length_plan* plan);

// The change. Negative on failure, with the operation's status line.
int apply_cut_zeros(FILE* image, const length_plan* plan);
int apply_cut_free(FILE* image, const length_plan* plan);
int apply_restore(FILE* image, const length_plan* plan);
