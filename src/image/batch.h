// Batch run: one operation over a list of image files, one file at a time.
#pragma once

#include "trd_image.h"

// Length of the line buffer in which a status line is joined.
constexpr int BATCH_LINE_SIZE = 1024;

// What each batch command prints before a file's name, and does to it.
struct batch_command {
    unsigned id;
    const char* prefix;
    image_operation operation;
    // The stream buffer the file is opened with: what the operation's reads
    // and writes reach the file in, one system call per buffer.
    size_t stream_buffer_size;
};

// The largest stream buffer a command asks for: a full 160-track disk, so
// that restored zeros reach the file in one write.
constexpr size_t BATCH_STREAM_BUFFER_SIZE = 160 * TRD_TRACK_SIZE;

// Opens a file with fopen's mode and gives the stream a buffer of
// buffer_size bytes (at most BATCH_STREAM_BUFFER_SIZE) from one static
// block: one such stream may be open at a time. Null with errno set when
// the file cannot be opened; the runtime's own buffer when none is asked.
FILE* open_image(const char* name, const char* mode, size_t buffer_size);

// The entry for a command identifier, or null for any other command.
const batch_command* find_batch_command(unsigned command);

// When set, asked after a file passes the check and before the operation
// runs on it (g_io_buffer still holds track 0); false leaves the file
// untouched and counts it failed. Null in the window.
extern bool (*g_batch_guard)(const batch_command* command, const char* name, FILE* image);

// When set, called after each file's "Done": the window handles its
// messages there, so that it stays alive through a long batch.
extern void (*g_batch_file_done)();

// Runs the command over names, a heap array of heap strings ended by a null
// pointer (or null: nothing to do), which it takes over and frees. For each
// name: the prefix and the name, then the file opened "r+b", checked,
// operated on and closed, then "Done". No failure ends the batch. Returns
// the number of files that could not be opened, failed the check or whose
// operation reported a failure.
int run_batch(unsigned command, char** names);
