// Knowing a disk whatever its length: one pass over an image that gives its
// hashes at every length a list of known disks asks for, the lists
// themselves (Logiqx datafiles, as TOSEC publishes them, and MAME software
// lists), and the entries an image is.
//
// An image's content end is the length just past its last non-zero byte,
// track 0 included (0 for a file of zeros alone). Two images hold the same
// disk when their bytes are equal up to the larger content end, the rest
// being zeros. An image is a listed entry of length L and hash H when L is
// at least its content end and the image, cut or padded with zeros to L,
// hashes to H. Nothing here writes to an image.
#pragma once

#include "digest.h"
#include "disk_forms.h"

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// ---- The identity pass (identity.cpp) ----

// A hash of the image cut or padded with zeros to a length.
struct length_digest {
    int64_t length;
    digest_kind kind;
    unsigned char digest[DIGEST_MAX_SIZE];
};

// What an identity pass is asked for: the lengths to hash at, by kind,
// each list ascending and without repeats. Lengths below the content end
// give nothing: no image of that length holds the disk.
struct identity_request {
    std::vector<int64_t> sha1_lengths;
    std::vector<int64_t> md5_lengths;
    // The sizes of the lists' SCL and Hobeta entries: a form of a disk's
    // files is made and hashed only where an entry has its size.
    std::set<int64_t> scl_sizes, hobeta_sizes;
    // Those sizes' entries matched by SHA-1, and by MD5 alone: a file of
    // that size is hashed as it is in those kinds only.
    std::set<int64_t> form_sha1_sizes, form_md5_sizes;
    // The lengths of the disks' entries that give a CRC-32, and the sizes
    // of such entries of the other forms: there the image's CRC-32 is made,
    // and a hash only where it is some entry's (confirmations_for).
    std::vector<int64_t> crc_lengths;
    std::set<int64_t> form_crc_sizes;
    // The SHA-1 of the content (dupes tells disks apart by it).
    bool content_hash = true;
};

// A CRC-32 of the image cut or padded with zeros to a length.
struct length_crc {
    int64_t length;
    uint32_t crc;
};

struct image_identity {
    int64_t length;      // the file's, as read
    int64_t content_end; // just past the last non-zero byte
    // The disk whatever its length: SHA-1 of the bytes before content_end.
    unsigned char content_sha1[DIGEST_SHA1_SIZE];
    // At each length asked for at or past content_end, ascending.
    std::vector<length_digest> digests;
    std::vector<length_crc> crcs;
    uint32_t content_crc; // of the bytes before content_end, where CRC-32s were made
};

// The largest length a hash is made at: a list entry longer than this is
// larger than any disk TR-DOS can describe, and is not used.
constexpr int64_t IDENTITY_MAX_LENGTH = 2 * 1024 * 1024;

// Reads a stream from its position to its end once, in large pieces past
// its buffer, after `first` bytes that were read already (the check's read
// of track 0, given in `head`), and hashes the image at every length asked
// for: the zeros past the last non-zero byte, and past the end of the file,
// are hashed without being read or written. 0, or -1 with errno set when a
// read fails or no hash can be made.
int identify_stream(FILE* image, const unsigned char* head, size_t first,
                    const identity_request& request, image_identity* identity);

// The same over a whole image held in memory.
int identify_bytes(const unsigned char* bytes, size_t size, const identity_request& request,
                   image_identity* identity);

// The digest at a length and kind, or null when it was not made.
const unsigned char* digest_at(const image_identity& identity, int64_t length, digest_kind kind);

// A digest as lower-case hexadecimal.
std::string hex_digest(const unsigned char* digest, size_t size);
// Reads hexadecimal of exactly size bytes (either case); false otherwise.
bool parse_hex_digest(const std::string& text, unsigned char* digest, size_t size);

// ---- The lists of known disks (known_lists.cpp) ----

struct known_entry {
    size_t list;      // index into known_lists::names
    std::string game; // the set's or software's name
    std::string name; // the image's file name, as the list gives it
    disk_form form;   // by the name: ".trd", ".scl", ".$" and a character
    int64_t size;
    bool has_sha1, has_md5, has_crc;
    uint32_t crc;
    unsigned char sha1[DIGEST_SHA1_SIZE];
    unsigned char md5[DIGEST_MD5_SIZE];
};

struct known_lists {
    std::vector<std::string> names; // each list's own name, as it calls itself
    std::vector<std::string> files; // the file each was read from
    std::vector<known_entry> entries;
    // Entries named like images that give no size, or no hash that can be
    // used, in each list: left out, and counted.
    std::vector<long long> unusable;
    // The entries by the hash they are matched by (its bytes), made by
    // index_known_lists once every list is read.
    std::unordered_multimap<std::string, size_t> by_digest;
    // Every entry by its size, and those that give a CRC-32 by their size
    // and CRC-32 (size_crc_key).
    std::unordered_multimap<int64_t, size_t> by_size;
    std::unordered_multimap<uint64_t, size_t> by_size_crc;
};

constexpr uint64_t size_crc_key(int64_t size, uint32_t crc)
{
    return uint64_t(size) << 32 | crc;
}

// Limits on what one list may make the program hold: a larger list is
// refused, whatever it holds.
constexpr int64_t LIST_MAX_FILE_SIZE = 64 * 1024 * 1024;
constexpr size_t LIST_MAX_ENTRIES = 200000;
constexpr size_t LIST_MAX_TEXT = 4096; // a name, a hash, any text kept
constexpr int LIST_MAX_DEPTH = 32;     // elements within elements
// Distinct disk lengths the lists may ask a file to be hashed at, in all:
// each costs every image one finished hash, so the cost of an image has a
// bound whatever the lists hold (TOSEC's whole set asks for about 1,500).
constexpr size_t LIST_MAX_LENGTHS = 16384;

// The form a list's entry is by its name's ending, in any case: ".trd",
// ".scl", ".$" and one character; FORM_NONE for any other.
disk_form form_of_entry_name(const char* name);

// Reads one list file, told apart by its root element: a Logiqx datafile
// (<datafile>) or a MAME software list (<softwarelist>). Only entries named
// like one of the three forms are kept. The list is untrusted: a
// document type's entities are never declared, fetched or expanded (a list
// that declares any is refused), and a list that is not well-formed is
// refused. False, with the reason ("FILE:LINE:COLUMN: what is wrong", or
// "FILE: what is wrong"), when the list cannot be read; nothing of it is
// kept then.
bool read_known_list(const std::string& file, known_lists* lists, std::string* error);

// The same, from bytes in memory named as file (the fuzz target's way in).
bool read_known_list_bytes(const std::string& file, const char* bytes, size_t size,
                           known_lists* lists, std::string* error);

// Makes the index of the entries by their hashes, once the lists are read.
void index_known_lists(known_lists* lists);

// The lengths and kinds the loaded lists ask an identity pass for.
identity_request request_for(const known_lists& lists);

// ---- Matches ----

// An entry's CRC-32 rules it out or in, never out of doubt: the lengths at
// which the image's CRC-32 is some entry's, to be hashed there in the kind
// that entry is matched by (SHA-1, or MD5 where it has no SHA-1).
identity_request confirmations_for(const known_lists& lists, const image_identity& identity);

// Reads the stream again from its start and adds the hashes confirmations_for
// asks for to the identity; 0, or -1 with errno set.
int confirm_identity(FILE* image, const known_lists& lists, image_identity* identity);
// The same from the image's bytes when image is null; then a content
// confirmed before (byte for byte the same) is not hashed again.
int confirm_identity_bytes(FILE* image, const unsigned char* bytes, size_t size,
                           const known_lists& lists, image_identity* identity);

// Whether some entry of a form and size could be bytes with this CRC-32:
// one that gives the same CRC-32, or none.
bool form_may_match(const known_lists& lists, disk_form form, int64_t size, uint32_t crc);

struct known_match {
    size_t entry; // index into known_lists::entries
    bool as_it_is;
    // For a form of what the file holds: which ("" for the file's own bytes;
    // "*" for its files as one SCL archive; a file's name for it as a Hobeta
    // file).
    std::string part;
};

// The entries of one form whose size and hash are those of bytes: an SCL
// archive or a Hobeta file made of what a disk holds, or a file as it is.
std::vector<known_match> find_form_matches(const known_lists& lists, disk_form form,
                                           const std::vector<unsigned char>& bytes,
                                           const std::string& part);

// Every entry the image is, in the lists' order: matched by SHA-1, or by
// MD5 where the entry has no SHA-1. The lists are indexed.
std::vector<known_match> find_matches(const known_lists& lists, const image_identity& identity);

// Makes an image of `length` bytes, identified as the entry at `target`
// bytes, exactly the entry: by appending zeros or by cutting a tail that is
// all zeros, on a stream that keeps other programs out meanwhile (a lease);
// then reads it again and checks the entry's hash. A file no longer as it
// was read, a failed write, or a hash that does not match leaves the file
// with the length it had; false then, with why in the system's words or
// the program's own (empty where the lease's own line said why: another
// program had the file open or asked for it).
bool conform_length(const char* name, int64_t length, int64_t target, const known_entry& entry,
                    std::string* why);
