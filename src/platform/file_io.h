// Every file call the image core makes, declared once. The plain C-library
// calls have one portable body; seeking, telling and setting a file's length
// have one body per platform. Offsets and lengths are 64-bit so that no file
// length can wrap, whatever the runtime's long is. A test build may link
// other bodies in, to fail a chosen call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// fopen, fread, fwrite, fflush, fclose and ferror, as the C library has them.
FILE* open_stream(const char* name, const char* mode);
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
