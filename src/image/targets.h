// Will a disk load there: the rules by which emulators, floppy emulators
// and machines take a TR-DOS disk in each of its three forms, kept as one
// table, and one disk's verdict on one of them, worked out from its bytes
// alone. docs/targets.md gives each rule's source. A new target is one row
// of the table (targets.cpp) and one section there.
#pragma once

#include "disk_forms.h"

#include <cstdint>
#include <string>
#include <vector>

// The four verdicts, as korvat-cli names them in a table.
enum target_verdict {
    VERDICT_LOADS,         // "loads"
    VERDICT_LOSES_ON_SAVE, // "loses-on-save": loads, but its first save loses data
    VERDICT_READ_ONLY,     // "read-only": loads, and is never written back
    VERDICT_REFUSED,       // "refused"
};

// What the disk-info sector must hold for a target to take a TRD image.
enum target_info_need {
    INFO_NOTHING,        // the sector is never read
    INFO_ID,             // 0x10 at 0x8E7
    INFO_TYPE,           // a type of 0x16 to 0x19 at 0x8E3
    INFO_ID_AND_TYPE,    // both
    INFO_BOTH_OR_A_ZERO, // both, or an identifier or a type of 0 (taken as unset)
};

// A form's bit in a target's sets of forms.
constexpr unsigned form_bit(disk_form form)
{
    return 1u << form;
}

struct target_rule {
    const char* name;      // short and fixed: "mame", "fuse"...
    const char* full_name; // as people know it
    unsigned reads;        // the forms it loads (form_bit)
    unsigned read_only;    // of those, the ones it never writes back
    // The TRD lengths it takes: at least, at most (0: no bound), whole
    // sectors only, and where it takes only some lengths, those (0-ended;
    // with any_length_with_type, others too where the type byte is valid).
    int64_t min_length, max_length;
    bool whole_sectors;
    int64_t only_lengths[4];
    bool any_length_with_type;
    int max_cylinders; // of the sides its type gives (0: no bound)
    target_info_need info;
    bool two_sides_always; // reads a single-sided disk as two-sided, laid out wrongly
    // What it keeps of a longer image: it never reads past read_limit, and
    // its save writes exactly save_length (0: no such bound).
    int64_t read_limit, save_length;
    // Writes past the end of a shorter image are dropped (it never grows one).
    bool short_never_grown;
};

// Every target, in the order korvat-cli gives them.
const std::vector<target_rule>& target_rules();
// A target by its short name; null for none.
const target_rule* find_target(const std::string& name);
// Every target's short name, with ", " between.
std::string target_names();

// The command that makes a disk load as it is, where one exists.
enum target_fix {
    FIX_NONE,             // nothing to mend
    FIX_RESTORE,          // korvat-cli restore FILE
    FIX_CUT_ZEROS,        // korvat-cli cut-zeros FILE
    FIX_CUT_THEN_RESTORE, // cut-zeros, then restore: a zero tail past the disk's end
    FIX_REPAIR,           // korvat-cli repair FILE
    FIX_TO_TRD,           // korvat-cli to-trd FILE
    FIX_IMPOSSIBLE        // no command can change the verdict
};

// One disk's verdict on one target.
struct target_finding {
    target_verdict verdict = VERDICT_LOADS;
    std::string reason; // a few words, in the language in force
    target_fix fix = FIX_NONE;
    int64_t lost_bytes = 0; // loses-on-save: non-zero bytes lost, from lost_from on
    int64_t lost_from = -1;
};

// What a disk is, read once from its bytes for every target: its form, and
// for a disk image its disk-info fields, the restore and repair it could
// have, and its non-zero bytes past each point a target may cut it at.
struct target_disk {
    disk_form form = FORM_NONE;
    int64_t length = 0;
    bool form_whole = false; // an archive or Hobeta file whose files are all there
    // A disk image:
    bool passes_check = false; // the TR-DOS check, which restore and cut-zeros need
    unsigned char id = 0, type = 0;
    int64_t full_length = 0; // the length its type gives; 0 for no valid type
    int64_t data_end = 0;    // just past its last non-zero byte (4,096 at least)
    bool repairable = false; // repair can set its identifier and type
    unsigned char repaired_type = 0;
    bool totals_valid = false; // first free + free sectors: a multiple of 16, at most 4,096
    const unsigned char* bytes = nullptr;
    size_t size = 0;
};

// Reads what the verdicts need from a file's bytes (size of them, all the
// file holds up to length). No I/O: the bytes are the caller's.
void read_target_disk(const unsigned char* bytes, size_t size, int64_t length, target_disk* disk);

// One disk's verdict on one target.
target_finding judge_for_target(const target_rule& rule, const target_disk& disk);

// The verdict's word in a table: "loads", "loses-on-save", "read-only", "refused".
const char* verdict_word(target_verdict verdict);

// ---- The disk-info sector put in order from the catalogue ----

// A field of the disk-info sector a repair would change.
struct info_change {
    int offset; // 0x8E1...
    int width;  // 1 or 2 bytes
    const char* field;
    unsigned old_value, new_value;
};

// What a repair of a disk image (its first track_size bytes, the file's
// length) would change, from its catalogue: the identifier, the type (from
// the length and how far the catalogue reaches), the first free sector and
// track and the free count (from the last entry), the file and deleted
// counts. False, with why, where the catalogue is damaged (entries that
// overlap, or run past every geometry) or fits two geometries that nothing
// tells apart; then nothing is to change.
bool plan_info_repair(const unsigned char* track0, int64_t length,
                      std::vector<info_change>* changes, std::string* why);

// Writes the changes into a copy of the disk-info sector's bytes (track 0).
void apply_info_changes(unsigned char* track0, const std::vector<info_change>& changes);

// ---- A file's bytes for the verdicts ----

// The longest file judged: every target's longest image is far shorter.
constexpr int64_t TARGETS_MAX_READ = 16 * 1024 * 1024;

// Reads a file whole (up to TARGETS_MAX_READ, EFBIG past it); false with
// errno set.
bool read_target_file(const char* name, std::vector<unsigned char>* bytes, int64_t* length);

// The command a fix names, for a file; empty for none.
std::string fix_command_text(target_fix fix, const std::string& name);
