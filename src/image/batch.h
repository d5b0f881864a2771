// Batch run: one operation over a list of image files, one file at a time.
#pragma once

#include "digest.h"
#include "trd_image.h"

#include <string>
#include <vector>

// What each batch command prints before a file's name, and does to it.
struct batch_command {
    unsigned id;
    const char* prefix;
    image_operation operation;
    // The operation's two halves: the plan measures the stream open for the
    // change, the apply makes the change the plan found.
    int (*plan)(FILE* image, length_plan* plan);
    int (*apply)(FILE* image, const length_plan* plan);
    // A look on a read-only stream that says whether the length may change
    // (new_length differs from length), with the plan's status lines on a
    // failure; only a file it passes is opened for the change.
    int (*screen)(FILE* image, length_plan* plan);
    // The stream buffer the file is opened with: what the operation's reads
    // and writes reach the file in, one system call per buffer.
    size_t stream_buffer_size;
};

// When true, a file that cannot be leased because the system gives no
// lease there is left as it is and fails (korvat-cli's --strict); when
// false, it is changed unprotected, with a line that says so.
extern bool g_lease_required;

// Takes the write lease (lease_stream) on a stream just opened for a change,
// before anything it decides on is read: true when the change may go on,
// with a line when it goes on unprotected; false, with the line that says
// why, when the file must be left (another program has it open, or no lease
// can be had and one is required).
bool lease_for_change(FILE* image);

// After the change is decided and before it is begun: false, with the line
// that says so, when another program has asked for the file since the
// lease was taken, so that the change is given up and the file let go.
bool still_leased();

// The largest stream buffer open_image gives: a block of the zero-tail scan.
constexpr size_t BATCH_STREAM_BUFFER_SIZE = TRD_SCAN_BLOCK_SIZE;

// Opens a file with fopen's mode and gives the stream a buffer of
// buffer_size bytes (at most BATCH_STREAM_BUFFER_SIZE) from one static
// block: one such stream may be open at a time. Null with errno set when
// the file cannot be opened; the runtime's own buffer when none is asked.
FILE* open_image(const char* name, const char* mode, size_t buffer_size);

// The entry for a command identifier, or null for any other command.
const batch_command* find_batch_command(unsigned command);

// How a file came out of a batch: changed or found as it should be, failed,
// or left untouched on purpose (the user chose to keep it as it is).
enum batch_outcome { FILE_DONE, FILE_FAILED, FILE_LEFT };

// What a guard says of a file: go on with the operation, refuse it as a
// failure, or leave the file as it is.
enum guard_verdict { GUARD_GO, GUARD_FAIL, GUARD_LEAVE };

// When set, asked after a file passes the check and before the operation
// runs on it (g_io_buffer still holds track 0), on the stream open for
// update that makes the change, so that what it decides on is what is cut.
// Anything but GUARD_GO leaves the file untouched.
extern guard_verdict (*g_batch_guard)(const batch_command* command, const char* name, FILE* image);

// When set, called after each file's "Done" with how it came out: the
// window handles its messages there, so that it stays alive through a long
// batch.
extern void (*g_batch_file_done)(const char* name, batch_outcome outcome);

// When true, no further file is begun; the file in hand is finished first.
extern volatile bool g_batch_stop;

// When true, each file is checked and screened on a read-only stream, and
// opened for update only when its length may change, so that a file that
// needs no change is never opened for writing (it may be read-only). The
// change itself is always checked, planned and made on the stream opened
// for update. When false, each file is opened for update at once.
extern bool g_batch_read_first;

// What a batch did, for its summary.
struct batch_totals {
    long long files, changed, unchanged, failed, left;
    long long before, after; // bytes, over the files whose length could be told
};

// Adds one file; a length below 0 (no file) adds no bytes.
void count_batch_file(batch_totals* totals, bool ok, int64_t before, int64_t after);
// Adds one file left as it is, of this length.
void count_left_file(batch_totals* totals, int64_t length);

// The summary both programs end a batch with: "3 files, 2 changed, 0
// unchanged, 1 failed; 1966080 -> 1314816 bytes", with ", 2 left" after the
// failed ones only when files were left; with would_change, as a dry run
// says it; with group_digits, every number's thousands grouped as the
// language groups them ("1,966,080"), as the window's other lines have them.
void format_batch_summary(const batch_totals* totals, bool would_change, char* text, size_t size,
                          bool group_digits = false);

// Runs the command over names, a heap array of heap strings ended by a null
// pointer (or null: nothing to do), which it takes over and frees. For each
// name: the prefix and the name, then the file opened "r+b", checked,
// operated on and closed, then "Done". No failure ends the batch; a stop
// ends it before the next file. Adds each file begun to totals (when given).
// Returns the number of files that could not be opened, failed the check or
// whose operation reported a failure (a file left is not one).
int run_batch(unsigned command, char** names, batch_totals* totals = nullptr);

// ---- Cutting at the first free sector with the user's consent ----
// A program that asks once before a batch of such cuts surveys the images
// first, asks about those that would lose data, and then cuts with
// guard_by_consent, which surveys each file again as it is opened for the
// cut: no byte that was not there when the user was asked is cut away.

// A file that would lose data, as the question named it.
struct loss_record {
    std::string name;
    int64_t bytes;                          // non-zero bytes past the first free sector
    unsigned char digest[DIGEST_SHA1_SIZE]; // of everything the cut discards
};

enum loss_answer {
    LOSS_NOT_ASKED, // nothing would have been lost: no question
    LOSS_CUT,       // Yes: cut them as they were shown
    LOSS_KEEP,      // No: leave them
};

struct loss_consent {
    std::vector<loss_record> lossy;
    loss_answer answer;
};
extern loss_consent g_loss_consent;

// Surveys a file read-only as a cut at the first free sector would: true,
// with the record filled, when the cut would discard non-zero bytes; false
// for a file that loses nothing, is no image, cannot be read, or is refused
// the cut (the batch reports those).
bool survey_loss(const char* name, loss_record* record);

// The guard for such a batch: a cut that loses nothing goes on, and so does
// one that loses exactly what the user agreed to (the same bytes). Any other
// is left untouched, with a status line that says why: "Not cut, N non-zero
// bytes past its first free sector: NAME" for a file the user chose to
// keep, or one that says it has changed since the question (or since the
// survey, when nothing was asked).
guard_verdict guard_by_consent(const batch_command* command, const char* name, FILE* image);
