// Helpers shared by the tests: temporary files, generated images and the
// status pane's text on either build.
#pragma once

#include "trd_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<unsigned char> bytes;

// A fresh, empty folder for one test; removed with everything in it at the end.
class TempFolderTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;
    // Full path of a file in the folder.
    std::string path(const std::string& name) const;
    std::string folder;
};

void write_file(const std::string& path, const bytes& content);
bytes read_file(const std::string& path);
int64_t file_length(const std::string& path);

// A formatted TR-DOS image: zeros, with the disk-info sector filled in.
bytes make_image(int32_t length, unsigned char disk_type = 0x16, unsigned char files = 0,
                 unsigned char free_track = 1, unsigned char free_sector = 0);

// Opens the file "r+b", runs the check and, when it passes, the operation
// (when one is given); returns the check's result, or the operation's.
// Returns -100 when the file cannot be opened. A stream buffer size other
// than 0 gives the stream the batch's buffer of that size.
int check_and_run(const std::string& path, image_operation operation, size_t stream_buffer = 0);

// Empties the history and gives the log a pane whose text can be read.
void reset_status_log();
// The text the status pane shows now.
std::string pane_text();
// The messages in the history, oldest first.
std::vector<std::string> status_history();

// Equal content; on a difference, names the lengths and the first differing offset.
::testing::AssertionResult same_bytes(const bytes& actual, const bytes& expected);
// The content cut, or padded with zeros, to a length.
bytes resized(bytes content, size_t length);

// A heap array of heap copies of names, ended by a null pointer, as the
// list gives it to the batch (which frees them).
char** heap_names(const std::vector<std::string>& names);

// A sparse file of the given length whose track 0 is a blank 160-track disk
// with its first free sector at track 1.
void make_sparse_image(const std::string& file, int64_t length);

// The system's text for an error number, as the program would show it.
std::string error_text(int error);

// The zero-tail scan as one forward pass over the file in track-sized
// pieces, through the same stream calls: the reference the real scan,
// which reads backwards, must agree with on every file.
int forward_zero_tail(FILE* image, zero_tail* tail);

// Opens a file "rb" with the given stream buffer (0: the runtime's own) and
// runs both scans over it; a failure names the file and what differs.
::testing::AssertionResult scans_agree(const std::string& path, size_t buffer_size);

#ifndef _WIN32
// Files of this process may not grow past a size (RLIMIT_FSIZE), with
// SIGXFSZ ignored so that a write past it fails with EFBIG, as on a full
// disk; as it was again when the limit goes out of scope.
struct file_size_limit {
    explicit file_size_limit(uint64_t bytes);
    ~file_size_limit();
    uint64_t old_limit;
};
#endif
