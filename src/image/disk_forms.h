// A disk's files in the two other forms they travel in: an SCL archive
// (the files of a disk, back to back) and a Hobeta file (one file with a
// header), read and checked; and the forms made from one another, with
// bytes fixed once and for all, so that a disk, an archive and a file can
// be told to hold the same thing.
//
// SCL: "SINCLAIR", a count, one 14-byte entry per file (the first 14 bytes
// of its catalogue entry: name, type, start, length, sectors), each file's
// sectors in entry order, then the 32-bit little-endian sum of every byte
// before it.
// Hobeta: the entry's first 13 bytes, a 0, its sector count, a 16-bit
// checksum (the sum over the first 15 bytes of byte * 257 + index, modulo
// 65,536), then its sectors.
#pragma once

#include "trd_image.h"

#include <cstdint>
#include <string>
#include <vector>

enum disk_form { FORM_NONE, FORM_TRD, FORM_SCL, FORM_HOBETA };

constexpr char SCL_SIGNATURE[] = "SINCLAIR";
constexpr size_t SCL_SIGNATURE_SIZE = 8;
constexpr size_t SCL_HEADER_SIZE = 9;
constexpr size_t SCL_ENTRY_SIZE = 14;
constexpr size_t SCL_SUM_SIZE = 4;
constexpr size_t HOBETA_HEADER_SIZE = 17;
// What a count byte and 255-sector entries allow: nothing longer is read.
constexpr int64_t SCL_MAX_SIZE =
    SCL_HEADER_SIZE + 255 * SCL_ENTRY_SIZE + int64_t{255} * 255 * TRD_SECTOR_SIZE + SCL_SUM_SIZE;
constexpr int64_t HOBETA_MAX_DATA = 255 * TRD_SECTOR_SIZE;
// The sectors a new disk has for files: 159 tracks of 16.
constexpr int TRD_NEW_DISK_FREE_SECTORS = 159 * TRD_SECTORS_PER_TRACK; // 2,544

// One file, as an SCL archive or a Hobeta file carries it.
struct form_file {
    unsigned char entry[SCL_ENTRY_SIZE]; // name, type, start, length, sectors
    size_t offset;                       // where its sectors start in the bytes
};

// What can be wrong with an SCL archive or a Hobeta file.
enum form_problem_kind {
    FORM_BAD_SUM,         // found: the sum stored, wanted: the sum of the bytes
    FORM_SHORT,           // found: the length, wanted: what the entries need
    FORM_LONG,            // found: the length, wanted: what the entries need
    FORM_TOO_MANY,        // found: the count (over 128)
    FORM_SECTORS_SHORT,   // file: its length is more than its sectors hold
    FORM_HEADER_NOT_ZERO, // Hobeta: byte 13 is not 0; found: it
    FORM_NAME_ZERO,       // file: its name starts with byte 0, which ends a disk's catalogue
    FORM_BAD_HEADER_SUM,  // Hobeta: found: the checksum stored, wanted: the header's
};

struct form_problem {
    form_problem_kind kind;
    int file; // index, -1 for none
    int64_t found, wanted;
};

// An SCL archive or a Hobeta file, read whole.
struct form_contents {
    disk_form form = FORM_NONE;
    std::vector<unsigned char> bytes;
    std::vector<form_file> files;
    std::vector<form_problem> problems;
    // Every file's sectors are there to be read (the length covers them).
    bool whole = false;
};

// What a file is, from its first bytes (at least HOBETA_HEADER_SIZE of
// them, or all it has) and its length: an SCL archive by its signature,
// a Hobeta file by its header's checksum and length; FORM_NONE otherwise.
// A disk image is told apart by the TR-DOS check, which the caller runs
// first where both could be.
disk_form form_of_head(const unsigned char* head, size_t count, int64_t length);

// The checksum of a Hobeta header's first 15 bytes.
uint16_t hobeta_checksum(const unsigned char* header);

// Reads an SCL archive or a Hobeta file from bytes, checking it: every
// problem found is listed. False when the bytes are neither.
bool read_form(const unsigned char* bytes, size_t size, form_contents* contents);

// Reads a file whole into contents when it is an SCL archive or a Hobeta
// file and does not pass the TR-DOS check; its form then. FORM_NONE for any
// other file, left to the TR-DOS check to judge; then *failed (when given)
// says the file could not be read, errno set.
disk_form read_form_file(const char* name, form_contents* contents, bool* failed = nullptr);

// An SCL archive without a problem: taken as one even where its bytes pass
// the TR-DOS check too.
bool is_whole_scl(const form_contents& contents);

// One plain line for a problem.
std::string describe_form_problem(const form_contents& contents, const form_problem& problem);

// The catalogue the files would have on a new disk: from track 1, sector 0,
// in order, with the disk-info sector's fields as to-trd writes them.
void catalogue_of_form(const form_contents& contents, trd_catalogue* catalogue);

// ---- The canonical forms ----

// The SCL archive of a disk (its image's bytes): the catalogue's entries in
// order up to the first whose first byte is 0 (deleted ones kept, or left
// out), each entry's sectors read from its track and sector (zeros where
// the image ends first), then the sum. Empty when an entry reaches past
// the furthest sector a catalogue can name.
std::vector<unsigned char> scl_of_disk(const unsigned char* image, size_t size, bool keep_deleted);
// Its size, from the catalogue alone.
int64_t scl_size_of(const trd_catalogue& catalogue, bool keep_deleted);

// The Hobeta header (HOBETA_HEADER_SIZE bytes) of one catalogue entry.
void hobeta_header_of(const unsigned char* entry, unsigned char* header);
// The Hobeta file of one catalogue entry (16 bytes) and its sectors.
std::vector<unsigned char> hobeta_of(const unsigned char* entry, const unsigned char* sectors);

// A new disk of full size (80 cylinders, two sides) holding files in order
// from track 1, sector 0: each entry (14 bytes) and its sectors. The disk-
// info sector as TR-DOS leaves it; the rest of track 0 as its FORMAT writes
// it: zeros, and nine blanks at 0x8EA. False, with why, when there are more
// than 128 files or more sectors than a new disk's 2,544.
bool disk_of_files(const std::vector<const unsigned char*>& entries,
                   const std::vector<const unsigned char*>& sectors, const unsigned char* label,
                   std::vector<unsigned char>* disk, std::string* why);

// A Hobeta file's name for an entry: the name, its trailing blanks dropped,
// ".$" and the type; a byte no system's names may hold (a control, one of
// <>:"/\|?*, a byte above 0x7E, "%", a trailing dot or blank) as "%XX",
// and a name Windows keeps for a device (CON, NUL, COM1, CONIN$...) with its first
// letter so escaped: the same on every system.
std::string hobeta_file_name(const unsigned char* entry);
