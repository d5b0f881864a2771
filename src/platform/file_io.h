// File calls the image core needs beyond the portable C library, declared
// once; each build compiles the body for its platform. Offsets and lengths
// are 64-bit so that no file length can wrap, whatever the runtime's long is.
#pragma once

#include <cstdint>
#include <cstdio>

// Seeks the stream; 0 on success, -1 with errno set on failure.
int seek_stream(FILE* stream, int64_t offset, int origin);

// The stream's position, or -1 with errno set.
int64_t tell_stream(FILE* stream);

// Flushes the stream, then sets the length of the file under it: a shorter
// length cuts the file, a longer one appends zero bytes. The descriptor's
// position is left where it was. 0 on success, -1 with errno set.
int set_stream_length(FILE* stream, int64_t length);
