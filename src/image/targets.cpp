// The targets' rules as one table, and the verdicts drawn from it.
#include "targets.h"

#include "file_io.h"
#include "messages.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace
{

constexpr int64_t FULL_80_TWO = 655360;  // 80 cylinders, two sides
constexpr int64_t FULL_40_TWO = 327680;  // 40 cylinders, two sides (and 80, one)
constexpr int64_t FULL_40_ONE = 163840;  // 40 cylinders, one side
constexpr int64_t CYLINDERS_86 = 704512; // 86 cylinders, two sides
constexpr int64_t XPECCY_MOST = 688128;  // 84 cylinders, two sides
constexpr int64_t ONE_MIB = 1024 * 1024;

constexpr unsigned TRD = form_bit(FORM_TRD);
constexpr unsigned SCL = form_bit(FORM_SCL);
constexpr unsigned HOBETA = form_bit(FORM_HOBETA);

// One row a target, its fields in target_rule's order; docs/targets.md
// gives each rule's source.
// clang-format off
const std::vector<target_rule> g_rules = {
    // name, full name,                  reads, read-only,         least, most, whole, only these, any with type, cylinders,
    //   disk-info sector,    two sides, read limit, save length, never grown
    {"mame", "MAME",                     TRD, 0,                   0, 0, false, {FULL_40_ONE, FULL_40_TWO, FULL_80_TWO, 0}, false, 0,
       INFO_NOTHING,        false, 0, 0, false},
    {"fuse", "Fuse",                     TRD | SCL, 0,             2304, 0, false, {0}, false, 83,
       INFO_ID_AND_TYPE,    false, 0, 0, false},
    {"zesarux", "ZEsarUX",               TRD | SCL, SCL,           4096, 0, false, {0}, false, 0,
       INFO_NOTHING,        false, FULL_80_TWO, FULL_80_TWO, false},
    {"usp", "Unreal Speccy Portable",    TRD | SCL, 0,             0, 0, false, {0}, false, 0,
       INFO_NOTHING,        true, CYLINDERS_86, 0, false},
    {"unreal", "UnrealSpeccy",           TRD | SCL | HOBETA, HOBETA, 8192, CYLINDERS_86, true, {0}, false, 0,
       INFO_NOTHING,        false, 0, FULL_80_TWO, false},
    {"xpeccy", "Xpeccy",                 TRD | SCL | HOBETA, HOBETA, 1, XPECCY_MOST, true, {0}, false, 0,
       INFO_NOTHING,        false, 0, FULL_80_TWO, false},
    {"flashfloppy", "FlashFloppy (Gotek)", TRD, 0,                 0, 0, false, {0}, false, 0,
       INFO_ID,             false, 0, 0, false},
    {"hxc", "HxC Floppy Emulator",       TRD | SCL, 0,             0, 0, false, {FULL_40_ONE, FULL_40_TWO, FULL_80_TWO, 0}, true, 0,
       INFO_NOTHING,        false, 0, 0, false},
    {"mister", "MiSTer ZX Spectrum core", TRD | SCL, SCL,          0, ONE_MIB, false, {0}, false, 0,
       INFO_NOTHING,        true, 0, 0, true},
    {"zxevo", "ZX-Evolution / TS-Conf",  TRD | SCL, SCL,           1, ONE_MIB, true, {0}, false, 0,
       INFO_NOTHING,        false, 0, 0, true},
    {"espectrum", "ESPectrum",           TRD | SCL, SCL,           0, 0, false, {0}, false, 0,
       INFO_TYPE,           false, 0, 0, false},
    {"speccy2010", "Speccy2010",         TRD | SCL, SCL,           0, 0, false, {0}, false, 0,
       INFO_BOTH_OR_A_ZERO, false, 0, 0, false},
};
// clang-format on

bool valid_type(unsigned char type)
{
    return type >= 0x16 && type <= 0x19;
}

int64_t full_length_of(unsigned char type)
{
    switch (type) {
    case 0x16:
        return FULL_80_TWO;
    case 0x17:
    case 0x18:
        return FULL_40_TWO;
    case 0x19:
        return FULL_40_ONE;
    default:
        return 0;
    }
}

bool single_sided(unsigned char type)
{
    return type == 0x18 || type == 0x19;
}

// The non-zero bytes of a disk at or past an offset, and the first of them.
int64_t non_zero_from(const target_disk& disk, int64_t from, int64_t* first)
{
    int64_t count = 0;
    *first = -1;
    for (size_t at = static_cast<size_t>(std::max<int64_t>(from, 0)); at < disk.size; ++at)
        if (disk.bytes[at] != 0) {
            if (*first < 0)
                *first = static_cast<int64_t>(at);
            ++count;
        }
    return count;
}

// Whether a TRD length is one the rule takes.
bool length_taken(const target_rule& rule, int64_t length, unsigned char type, std::string* why)
{
    if (rule.only_lengths[0] != 0) {
        bool listed = false;
        for (int64_t only : rule.only_lengths)
            listed = listed || (only != 0 && only == length);
        if (!listed && !(rule.any_length_with_type && valid_type(type))) {
            *why = formatted(rule.any_length_with_type
                                 ? tr("takes only 163,840, 327,680 or 655,360 bytes, or another "
                                      "length with a disk type of 0x16 to 0x19; this image has %s")
                                 : tr("takes only 163,840, 327,680 or 655,360 bytes; this image "
                                      "has %s"),
                             grouped(length).c_str());
            return false;
        }
    }
    if (rule.min_length > 0 && length < rule.min_length) {
        *why = formatted(tr("needs at least %s bytes; this image has %s"),
                         grouped(rule.min_length).c_str(), grouped(length).c_str());
        return false;
    }
    if (rule.max_length > 0 && length > rule.max_length) {
        *why = formatted(tr("takes at most %s bytes; this image has %s"),
                         grouped(rule.max_length).c_str(), grouped(length).c_str());
        return false;
    }
    if (rule.max_cylinders > 0 && valid_type(type)) {
        const int64_t most =
            int64_t{rule.max_cylinders} * (single_sided(type) ? 1 : 2) * TRD_TRACK_SIZE;
        if (length > most) {
            *why = formatted(tr("takes at most %d cylinders (%s bytes); this image has %s"),
                             rule.max_cylinders, grouped(most).c_str(), grouped(length).c_str());
            return false;
        }
    }
    if (rule.whole_sectors && length % TRD_SECTOR_SIZE != 0) {
        *why = formatted(tr("takes whole sectors only; %s bytes is not a multiple of 256"),
                         grouped(length).c_str());
        return false;
    }
    return true;
}

// What the disk-info sector lacks for the rule; empty when nothing.
std::string info_lack(const target_rule& rule, unsigned char id, unsigned char type)
{
    const bool id_right = id == TRD_ID_VALUE;
    const bool type_right = valid_type(type);
    const std::string no_id =
        formatted(tr("needs 0x10 at 0x8E7 in the disk-info sector; it holds 0x%02X"), id);
    const std::string no_type =
        formatted(tr("needs a disk type of 0x16 to 0x19 at 0x8E3; it holds 0x%02X"), type);
    switch (rule.info) {
    case INFO_ID:
        return id_right ? std::string() : no_id;
    case INFO_TYPE:
        return type_right ? std::string() : no_type;
    case INFO_ID_AND_TYPE:
        return !id_right ? no_id : !type_right ? no_type : std::string();
    case INFO_BOTH_OR_A_ZERO:
        if (id == 0 || type == 0)
            return std::string();
        return !id_right ? no_id : !type_right ? no_type : std::string();
    case INFO_NOTHING:
    default:
        return std::string();
    }
}

// Whether a disk of this length and type would load on the rule once
// restored or cut: the length that command gives is taken, and nothing
// else stands in the way.
bool loads_at(const target_rule& rule, const target_disk& disk, int64_t length)
{
    std::string why;
    return length_taken(rule, length, disk.type, &why) &&
           info_lack(rule, disk.id, disk.type).empty() &&
           !(rule.two_sides_always && single_sided(disk.type));
}

// The fix for a disk image that a length refuses: restore, or cut-zeros,
// where the length it gives is taken (both need the check to pass).
target_fix length_fix(const target_rule& rule, const target_disk& disk)
{
    if (!disk.passes_check)
        return FIX_IMPOSSIBLE;
    if (disk.full_length > disk.length && loads_at(rule, disk, disk.full_length))
        return FIX_RESTORE;
    const int64_t cut = (disk.data_end + TRD_SECTOR_SIZE - 1) / TRD_SECTOR_SIZE * TRD_SECTOR_SIZE;
    if (cut < disk.length && loads_at(rule, disk, cut))
        return FIX_CUT_ZEROS;
    if (cut < disk.full_length && disk.full_length < disk.length &&
        loads_at(rule, disk, disk.full_length))
        return FIX_CUT_THEN_RESTORE;
    return FIX_IMPOSSIBLE;
}

target_finding judge_trd(const target_rule& rule, const target_disk& disk)
{
    target_finding finding;
    std::string why;
    if (!length_taken(rule, disk.length, disk.type, &why)) {
        finding.verdict = VERDICT_REFUSED;
        finding.reason = why;
        finding.fix = length_fix(rule, disk);
        // A disk-info sector to mend first: repair, where it can.
        if (finding.fix == FIX_IMPOSSIBLE && !disk.passes_check && disk.repairable &&
            disk.full_length == 0 && full_length_of(disk.repaired_type) > disk.length)
            finding.fix = FIX_REPAIR;
        return finding;
    }
    const std::string lack = info_lack(rule, disk.id, disk.type);
    if (!lack.empty()) {
        finding.verdict = VERDICT_REFUSED;
        finding.reason = lack;
        finding.fix = disk.repairable ? FIX_REPAIR : FIX_IMPOSSIBLE;
        return finding;
    }
    if (rule.two_sides_always && single_sided(disk.type)) {
        finding.verdict = VERDICT_REFUSED;
        finding.reason =
            tr("reads every disk as two-sided: a single-sided one is laid out wrongly");
        finding.fix = FIX_IMPOSSIBLE;
        return finding;
    }
    if (rule.name == std::string("hxc") && disk.length == FULL_80_TWO && single_sided(disk.type)) {
        finding.verdict = VERDICT_REFUSED;
        finding.reason = tr("reads 655,360 bytes as 80 cylinders, two sides: a single-sided disk "
                            "is laid out wrongly");
        finding.fix = FIX_IMPOSSIBLE;
        return finding;
    }
    // What a save loses: bytes never read, or past what it writes.
    const int64_t limit = rule.read_limit > 0 && rule.save_length > 0
                              ? std::min(rule.read_limit, rule.save_length)
                              : std::max(rule.read_limit, rule.save_length);
    if (limit > 0 && disk.length > limit) {
        int64_t first;
        const int64_t lost = non_zero_from(disk, limit, &first);
        if (lost > 0) {
            finding.verdict = VERDICT_LOSES_ON_SAVE;
            finding.lost_bytes = lost;
            finding.lost_from = first;
            finding.reason = formatted(
                trn("its save keeps %s bytes: %s non-zero byte from %s on is lost",
                    "its save keeps %s bytes: %s non-zero bytes from %s on are lost", lost),
                grouped(limit).c_str(), grouped(lost).c_str(), grouped(first).c_str());
            finding.fix = FIX_IMPOSSIBLE;
            return finding;
        }
    }
    if (rule.short_never_grown && disk.full_length > disk.length) {
        finding.verdict = VERDICT_LOSES_ON_SAVE;
        finding.lost_from = disk.length;
        finding.reason = formatted(tr("never grows an image: what is written past its end (%s "
                                      "bytes) is dropped"),
                                   grouped(disk.length).c_str());
        finding.fix = disk.passes_check ? FIX_RESTORE : FIX_IMPOSSIBLE;
        return finding;
    }
    if (rule.name == std::string("flashfloppy") && !disk.totals_valid) {
        finding.reason = tr("its free-sector total is ignored (not a multiple of 16): the disk "
                            "is as long as the file");
        if (disk.passes_check && disk.full_length > disk.length)
            finding.fix = FIX_RESTORE;
        return finding;
    }
    return finding;
}

} // namespace

const std::vector<target_rule>& target_rules()
{
    return g_rules;
}

const target_rule* find_target(const std::string& name)
{
    for (const target_rule& rule : g_rules)
        if (name == rule.name)
            return &rule;
    return nullptr;
}

std::string target_names()
{
    std::string names;
    for (const target_rule& rule : g_rules)
        names += (names.empty() ? "" : ", ") + std::string(rule.name);
    return names;
}

const char* verdict_word(target_verdict verdict)
{
    switch (verdict) {
    case VERDICT_LOADS:
        return "loads";
    case VERDICT_LOSES_ON_SAVE:
        return "loses-on-save";
    case VERDICT_READ_ONLY:
        return "read-only";
    case VERDICT_REFUSED:
    default:
        return "refused";
    }
}

void read_target_disk(const unsigned char* bytes, size_t size, int64_t length, target_disk* disk)
{
    *disk = target_disk();
    disk->bytes = bytes;
    disk->size = size;
    disk->length = length;
    disk->form = form_of_head(bytes, size, length);
    if (disk->form == FORM_SCL || disk->form == FORM_HOBETA) {
        form_contents contents;
        if (read_form(bytes, size, &contents))
            disk->form_whole = contents.whole;
        return;
    }
    disk->form = FORM_TRD;
    // The fields as they stand; a file too short to hold them holds zeros there.
    unsigned char track0[TRD_TRACK_SIZE] = {};
    std::memcpy(track0, bytes, std::min<size_t>(size, TRD_TRACK_SIZE));
    disk->id = track0[TRD_ID];
    disk->type = track0[TRD_DISK_TYPE];
    disk->full_length = full_length_of(disk->type);
    disk->passes_check = length >= TRD_MIN_CHECKED_LENGTH && tracks_of_disk_info(track0) != 0;
    disk->data_end =
        TRD_TRACK_SIZE +
        static_cast<int64_t>(end_of_data(bytes + std::min<size_t>(size, TRD_TRACK_SIZE),
                                         size - std::min<size_t>(size, TRD_TRACK_SIZE)));
    const int64_t total = int64_t{track0[TRD_FIRST_FREE_TRACK]} * TRD_SECTORS_PER_TRACK +
                          track0[TRD_FIRST_FREE_SECTOR] +
                          (track0[TRD_FREE_SECTORS] | track0[TRD_FREE_SECTORS + 1] << 8);
    disk->totals_valid = total % TRD_SECTORS_PER_TRACK == 0 && total <= 4096;
    std::vector<info_change> changes;
    std::string why;
    if (length >= TRD_MIN_CHECKED_LENGTH && plan_info_repair(track0, length, &changes, &why)) {
        disk->repairable = true;
        disk->repaired_type = disk->type;
        for (const info_change& change : changes)
            if (change.offset == TRD_DISK_TYPE)
                disk->repaired_type = static_cast<unsigned char>(change.new_value);
    }
}

target_finding judge_for_target(const target_rule& rule, const target_disk& disk)
{
    target_finding finding;
    if (!(rule.reads & form_bit(disk.form))) {
        finding.verdict = VERDICT_REFUSED;
        finding.reason =
            disk.form == FORM_SCL ? tr("reads no SCL archive") : tr("reads no Hobeta file");
        finding.fix = FIX_TO_TRD;
        return finding;
    }
    if (disk.form == FORM_TRD)
        return judge_trd(rule, disk);
    if (!disk.form_whole) {
        finding.verdict = VERDICT_REFUSED;
        finding.reason = tr("its files are cut short");
        finding.fix = FIX_IMPOSSIBLE;
        return finding;
    }
    if (rule.read_only & form_bit(disk.form)) {
        finding.verdict = VERDICT_READ_ONLY;
        finding.reason = disk.form == FORM_SCL
                             ? tr("reads an SCL archive but never writes it back")
                             : tr("adds a Hobeta file to a disk in memory, never written back");
        finding.fix = FIX_TO_TRD;
    }
    return finding;
}

// ---- Repair ----

bool plan_info_repair(const unsigned char* track0, int64_t length,
                      std::vector<info_change>* changes, std::string* why)
{
    changes->clear();
    trd_catalogue catalogue;
    read_catalogue_from(track0, &catalogue);
    // The entries with sectors, in the order of their first sectors.
    std::vector<const trd_entry*> files;
    for (int i = 0; i < catalogue.entry_count; ++i) {
        const trd_entry& entry = catalogue.entries[i];
        if (entry.sectors == 0)
            continue;
        if (entry.first_sector >= TRD_SECTORS_PER_TRACK) {
            *why = formatted(tr("entry %d starts at sector %d of its track, past the 16th"), i + 1,
                             entry.first_sector);
            return false;
        }
        if (entry.first_track == 0) {
            *why = formatted(tr("entry %d starts in track 0, where the catalogue lies"), i + 1);
            return false;
        }
        files.push_back(&entry);
    }
    std::vector<const trd_entry*> ordered = files;
    std::sort(ordered.begin(), ordered.end(), [](const trd_entry* a, const trd_entry* b) {
        return entry_first(*a) < entry_first(*b);
    });
    for (size_t i = 1; i < ordered.size(); ++i)
        if (entry_first(*ordered[i]) < entry_end(*ordered[i - 1])) {
            *why = tr("two entries claim the same sectors");
            return false;
        }
    // TR-DOS gives out sectors in order: the last file ends last.
    const int32_t reach = files.empty() ? TRD_SECTORS_PER_TRACK : entry_end(*ordered.back());
    if (!files.empty() && entry_end(*files.back()) != reach) {
        *why = tr("the catalogue's last file does not end last");
        return false;
    }
    // The geometries that hold every file and the image's length; a valid
    // type among them stays, and totals recorded may tell the rest apart.
    struct geometry {
        unsigned char type;
        int32_t sectors;
    };
    const geometry geometries[] = {{0x16, 2560}, {0x17, 1280}, {0x18, 1280}, {0x19, 640}};
    std::vector<geometry> fitting;
    for (const geometry& candidate : geometries)
        if (candidate.sectors >= reach &&
            (int64_t{candidate.sectors} * TRD_SECTOR_SIZE >= length || candidate.type == 0x16))
            fitting.push_back(candidate);
    if (length > FULL_80_TWO)
        fitting.erase(std::remove_if(fitting.begin(), fitting.end(),
                                     [](const geometry& g) { return g.type != 0x16; }),
                      fitting.end());
    if (fitting.empty()) {
        *why = formatted(tr("its files reach sector %d, past the end of every disk"), reach);
        return false;
    }
    const unsigned char type_now = track0[TRD_DISK_TYPE];
    geometry chosen = fitting.front();
    const auto now = std::find_if(fitting.begin(), fitting.end(),
                                  [type_now](const geometry& g) { return g.type == type_now; });
    if (now != fitting.end()) {
        chosen = *now;
    } else if (fitting.size() > 1) {
        const int32_t recorded = int32_t{catalogue.first_free_track} * TRD_SECTORS_PER_TRACK +
                                 catalogue.first_free_sector + catalogue.free_sectors;
        std::vector<geometry> agreeing;
        for (const geometry& g : fitting)
            if (g.sectors == recorded)
                agreeing.push_back(g);
        if (agreeing.size() != 1) {
            std::string types;
            for (const geometry& g : fitting)
                types += formatted("%s0x%02X", types.empty() ? "" : ", ", g.type);
            *why = formatted(tr("its length and catalogue fit more than one disk type (%s)"),
                             types.c_str());
            return false;
        }
        chosen = agreeing.front();
    }
    const int32_t first_free = reach;
    const unsigned free_count = static_cast<unsigned>(chosen.sectors - first_free);
    auto change = [&](int offset, int width, const char* field, unsigned wanted) {
        const unsigned old_value =
            width == 1 ? track0[offset] : unsigned(track0[offset] | track0[offset + 1] << 8);
        if (old_value != wanted)
            changes->push_back({offset, width, field, old_value, wanted});
    };
    change(TRD_FIRST_FREE_SECTOR, 1, text_to_translate("first free sector"),
           static_cast<unsigned>(first_free % TRD_SECTORS_PER_TRACK));
    change(TRD_FIRST_FREE_TRACK, 1, text_to_translate("first free track"),
           static_cast<unsigned>(first_free / TRD_SECTORS_PER_TRACK));
    change(TRD_DISK_TYPE, 1, text_to_translate("disk type"), chosen.type);
    change(TRD_FILE_COUNT, 1, text_to_translate("file count"),
           static_cast<unsigned>(catalogue.entry_count));
    change(TRD_FREE_SECTORS, 2, text_to_translate("free sectors"), free_count);
    change(TRD_ID, 1, text_to_translate("identifier"), TRD_ID_VALUE);
    change(TRD_DELETED_COUNT, 1, text_to_translate("deleted files"),
           static_cast<unsigned>(catalogue.deleted_entries));
    return true;
}

void apply_info_changes(unsigned char* track0, const std::vector<info_change>& changes)
{
    for (const info_change& change : changes) {
        track0[change.offset] = static_cast<unsigned char>(change.new_value & 0xFF);
        if (change.width == 2)
            track0[change.offset + 1] = static_cast<unsigned char>(change.new_value >> 8);
    }
}

// ---- A file's bytes for the verdicts ----

bool read_target_file(const char* name, std::vector<unsigned char>* bytes, int64_t* length)
{
    FILE* file = open_stream(name, "rb");
    if (!file)
        return false;
    *length = stream_length(file);
    int error = 0;
    if (*length < 0 || seek_stream(file, 0, SEEK_SET) != 0)
        error = errno;
    else if (*length > TARGETS_MAX_READ)
        error = EFBIG;
    if (!error) {
        bytes->resize(static_cast<size_t>(*length));
        const size_t got = read_stream(bytes->data(), 1, bytes->size(), file);
        if (stream_failed(file) || got != bytes->size())
            error = errno ? errno : EIO;
    }
    close_stream(file);
    errno = error;
    return error == 0;
}

std::string fix_command_text(target_fix fix, const std::string& name)
{
    switch (fix) {
    case FIX_RESTORE:
        return "korvat-cli restore " + name;
    case FIX_CUT_ZEROS:
        return "korvat-cli cut-zeros " + name;
    case FIX_CUT_THEN_RESTORE:
        return "korvat-cli cut-zeros " + name + " && korvat-cli restore " + name;
    case FIX_REPAIR:
        return "korvat-cli repair " + name;
    case FIX_TO_TRD:
        return "korvat-cli to-trd " + name;
    default:
        return std::string();
    }
}
