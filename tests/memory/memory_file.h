// Files kept in memory behind the core's file calls, for a fuzzer that must
// not pay for the file system. Linked instead of the real bodies of
// file_io.h: the same calls, the same results and error numbers as the C
// library's on a regular file, but every write reaches the "file" at once
// (there is no stream buffer, so a failed write fails in the write itself,
// where a real stream may fail only in its flush).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<unsigned char> memory_bytes;

// Puts a file with this content, replacing any of that name.
void memory_file_put(const std::string& name, const memory_bytes& content);
// The content of a file, or null when there is none of that name.
const memory_bytes* memory_file_get(const std::string& name);
// Removes every file and fault; streams still open are forgotten too.
void memory_files_clear();

// Faults, as a full disk or a failing medium gives them:
// a file may not grow past limit bytes (writes stop there and fail with
// EFBIG, as under RLIMIT_FSIZE; a length change past it fails whole);
// reads of bytes at or past read_fail_from fail with EIO.
// Negative values switch a fault off.
void memory_file_faults(int64_t limit, int64_t read_fail_from);
