// Every file call the image core makes, declared once. The plain C-library
// calls have one portable body; seeking, telling and setting a file's length
// have one body per platform. Offsets and lengths are 64-bit so that no file
// length can wrap, whatever the runtime's long is. A test build may link
// other bodies in, to fail a chosen call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The error number open_stream sets for a name that is not a regular file
// (a folder, a FIFO, a device): outside the system's own numbers, and told
// as "Not a regular file" by the status log.
constexpr int ERROR_NOT_REGULAR_FILE = 0x4B52;

// fopen for regular files only: anything else is refused with
// ERROR_NOT_REGULAR_FILE, after an open that cannot wait (a FIFO without a
// writer, a terminal) and before a byte is read.
FILE* open_stream(const char* name, const char* mode);

// When set, open_stream refuses a name that is itself a symbolic link, as
// not a regular file, instead of following it: korvat-cli sets it for the
// files a folder walk finds. The Windows build follows links always.
extern bool g_open_no_follow;

// fread, fwrite, fflush, fclose and ferror, as the C library has them.
size_t read_stream(void* buffer, size_t size, size_t count, FILE* stream);
size_t write_stream(const void* buffer, size_t size, size_t count, FILE* stream);
int flush_stream(FILE* stream);
int close_stream(FILE* stream);
// setvbuf with full buffering in the caller's buffer; before any other call
// on the stream. 0 on success.
int set_stream_buffer(FILE* stream, char* buffer, size_t size);
// Nonzero when a read or write on the stream has failed.
int stream_failed(FILE* stream);

// Seeks the stream; 0 on success, -1 with errno set on failure.
int seek_stream(FILE* stream, int64_t offset, int origin);

// The stream's position, or -1 with errno set.
int64_t tell_stream(FILE* stream);

// Flushes the stream, then sets the length of the file under it: a shorter
// length cuts the file, a longer one appends zero bytes. The descriptor's
// position is left where it was. 0 on success, -1 with errno set.
int set_stream_length(FILE* stream, int64_t length);

// After a write through the stream has failed: drops what the stream still
// holds unwritten, without writing it, then sets the file's length through
// the descriptor, so that the file gets back the length it had. 0, or -1
// with errno set.
int reset_stream_length(FILE* stream, int64_t length);

// What tells one file from another, and its size, from the descriptor
// under a stream (nothing written to it is pending): the device and file
// numbers, or on Windows the creation and modification times.
struct file_identity {
    uint64_t device;
    uint64_t file;
    int64_t size;
};

// 0, or -1 with errno set.
int stream_identity(FILE* stream, file_identity* identity);

// Creates a new file for writing, only when no file of that name exists
// (exclusively, so that nothing is ever overwritten). Null with errno set
// (EEXIST when the name is taken).
FILE* create_new_file(const char* name);

// Gives a file written under a temporary name its own name, in one step:
// a file of that name is replaced only when replace is set; otherwise the
// step fails with EEXIST and nothing changes. 0, or -1 with errno set.
int put_in_place(const char* temporary, const char* name, bool replace);

// Removes a file; 0, or -1 with errno set.
int remove_file(const char* name);

// Makes a folder and every folder above it that is missing, as mkdir -p
// does; one that exists already is fine. 0, or -1 with errno set.
int make_folders(const char* path);

// A regular file's length by name, -1 for anything else (gone, no name at
// all, a folder, a FIFO; a link too when g_open_no_follow is set).
int64_t length_of_file(const char* name);

// A name's size and last modification time (seconds since 1970), whatever
// it names, as stat gives them; paths past 260 characters are taken where
// the system allows them. 0, or -1 when the name cannot be read.
int file_status(const char* name, int64_t* size, int64_t* modified);

// ---- Keeping other programs out while a file changes ----
// On Windows a stream opened for a change already denies other writers. On
// Linux a write lease does it: the system grants one only while no other
// program has the file open, and while it is held another program's open
// waits until it is let go (at the longest, the kernel's lease-break time),
// while the holder is told at once that someone is waiting. Closing the
// stream lets it go.

// The error number lease_stream sets when another program has the file
// open: told as "In use by another program, left as it is".
constexpr int ERROR_FILE_IN_USE = 0x4B53;

// Takes a write lease on the file under a stream (opened for reading or for
// update; nothing else of this program may have the file open). 0 when it
// is held (always on Windows, and for files kept in memory); -1 with errno
// ERROR_FILE_IN_USE when another program has the file open, or any other
// number when leases cannot be had here (a file system without them, a
// file of another owner without the capability to lease it).
int lease_stream(FILE* stream);

// True once another program has asked to open the file whose lease is held
// (since lease_stream took it): a change not yet begun is given up, one
// begun is finished, and the stream closed at once.
bool lease_wanted();
