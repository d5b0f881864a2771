// The catalogue in track 0 and what can be wrong with a disk beyond the
// five bytes of the check: one reader, from g_io_buffer, for every report.
#include "trd_image.h"

#include "messages.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

int32_t entry_first(const trd_entry& entry)
{
    return int32_t{entry.first_track} * TRD_SECTORS_PER_TRACK + entry.first_sector;
}

int32_t entry_end(const trd_entry& entry)
{
    return entry_first(entry) + entry.sectors;
}

static uint16_t little_endian(const unsigned char* at)
{
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

void read_catalogue(trd_catalogue* catalogue)
{
    read_catalogue_from(g_io_buffer, catalogue);
}

void read_catalogue_from(const unsigned char* track0, trd_catalogue* catalogue)
{
    std::memset(catalogue, 0, sizeof *catalogue);
    for (int i = 0; i < TRD_MAX_ENTRIES; ++i) {
        const unsigned char* raw = track0 + i * TRD_ENTRY_SIZE;
        if (raw[0] == 0)
            break;
        trd_entry& entry = catalogue->entries[i];
        std::memcpy(entry.name, raw, TRD_NAME_SIZE);
        entry.type = raw[8];
        entry.start = little_endian(raw + 9);
        entry.length = little_endian(raw + 11);
        entry.sectors = raw[13];
        entry.first_sector = raw[14];
        entry.first_track = raw[15];
        entry.deleted = raw[0] == TRD_DELETED_MARK;
        catalogue->deleted_entries += entry.deleted;
        ++catalogue->entry_count;
    }
    catalogue->disk_type = track0[TRD_DISK_TYPE];
    catalogue->file_count = track0[TRD_FILE_COUNT];
    catalogue->deleted_count = track0[TRD_DELETED_COUNT];
    catalogue->free_sectors = little_endian(track0 + TRD_FREE_SECTORS);
    catalogue->first_free_sector = track0[TRD_FIRST_FREE_SECTOR];
    catalogue->first_free_track = track0[TRD_FIRST_FREE_TRACK];
    std::memcpy(catalogue->label, track0 + TRD_LABEL, TRD_LABEL_SIZE);
    switch (catalogue->disk_type) {
    case 0x16:
        catalogue->disk_sectors = 160 * TRD_SECTORS_PER_TRACK;
        break;
    case 0x17:
    case 0x18:
        catalogue->disk_sectors = 80 * TRD_SECTORS_PER_TRACK;
        break;
    case 0x19:
        catalogue->disk_sectors = 40 * TRD_SECTORS_PER_TRACK;
        break;
    default:
        catalogue->disk_sectors = 0;
        break;
    }
}

// The first free sector's number, track * 16 + sector.
static int32_t first_free_of(const trd_catalogue& catalogue)
{
    return int32_t{catalogue.first_free_track} * TRD_SECTORS_PER_TRACK +
           catalogue.first_free_sector;
}

const char* escape_disk_text(const unsigned char* bytes, size_t count, char* text, size_t size)
{
    if (size == 0)
        return text;
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        static const char hex[] = "0123456789ABCDEF";
        const unsigned char c = bytes[i];
        char piece[4] = {static_cast<char>(c)};
        size_t length = 1;
        if (c == '\\') {
            piece[1] = '\\';
            length = 2;
        } else if (c < 0x20 || c >= 0x7F) {
            const char escape[4] = {'\\', 'x', hex[c >> 4], hex[c & 0xF]};
            std::memcpy(piece, escape, sizeof escape);
            length = 4;
        }
        if (used + length >= size)
            break; // whole escapes only
        std::memcpy(text + used, piece, length);
        used += length;
    }
    text[used] = '\0';
    return text;
}

// An entry as TR-DOS names it, "boot    <B>", escaped; returns text.
static const char* entry_display_name(const trd_entry& entry, char* text, size_t size)
{
    char name[4 * TRD_NAME_SIZE + 1], type[5];
    escape_disk_text(entry.name, TRD_NAME_SIZE, name, sizeof name);
    escape_disk_text(&entry.type, 1, type, sizeof type);
    std::snprintf(text, size, "%s <%s>", name, type);
    return text;
}

// ---- Problems ----

namespace
{

struct problem_list {
    image_problem* problems;
    int capacity;
    int count;
};

void add(problem_list* list, image_problem_kind kind, int entry, int other, int64_t found,
         int64_t wanted)
{
    if (list->count < list->capacity)
        list->problems[list->count] = {kind, entry, other, found, wanted};
    ++list->count;
}

// An entry that takes up room on the disk; one of no sectors is a label
// in the catalogue's listing (a menu line), wherever it says it starts.
bool holds_sectors(const trd_entry& entry)
{
    return entry.sectors > 0;
}

} // namespace

int find_image_problems(const trd_catalogue& catalogue, int64_t length, image_problem* problems,
                        int capacity)
{
    problem_list list = {problems, capacity, 0};
    const int32_t first_free = first_free_of(catalogue);
    const int32_t disk_end = catalogue.disk_sectors;

    // What the catalogue and the first free sector use past the end of the
    // disk, and the image does not hold.
    int32_t used_end = first_free;
    for (int i = 0; i < catalogue.entry_count; ++i)
        if (holds_sectors(catalogue.entries[i]))
            used_end = std::max(used_end, entry_end(catalogue.entries[i]));
    const int64_t held = std::max<int64_t>(length, int64_t{disk_end} * TRD_SECTOR_SIZE);
    const int64_t used = int64_t{used_end} * TRD_SECTOR_SIZE;
    if (used_end > disk_end && used > held)
        add(&list, PROBLEM_BYTES_MISSING, -1, -1, used - held, 0);

    // Each entry on its own.
    for (int i = 0; i < catalogue.entry_count; ++i) {
        const trd_entry& entry = catalogue.entries[i];
        if (!holds_sectors(entry))
            continue;
        if (entry.first_track == 0)
            add(&list, PROBLEM_IN_TRACK_ZERO, i, -1, entry.first_sector, 0);
        if (entry.first_sector >= TRD_SECTORS_PER_TRACK)
            add(&list, PROBLEM_SECTOR_NUMBER, i, -1, entry.first_sector, 0);
        if (entry_end(entry) > disk_end)
            add(&list, PROBLEM_PAST_DISK_END, i, -1,
                int64_t{entry_end(entry) - std::max(disk_end, entry_first(entry))} *
                    TRD_SECTOR_SIZE,
                0);
    }
    if (catalogue.first_free_sector >= TRD_SECTORS_PER_TRACK)
        add(&list, PROBLEM_SECTOR_NUMBER, -1, -1, catalogue.first_free_sector, 0);

    // The first free sector comes after every file; a deleted file's room
    // may have been given back.
    int last_file = -1;
    for (int i = 0; i < catalogue.entry_count; ++i) {
        const trd_entry& entry = catalogue.entries[i];
        if (!entry.deleted && holds_sectors(entry) &&
            (last_file < 0 || entry_end(entry) > entry_end(catalogue.entries[last_file])))
            last_file = i;
    }
    if (last_file >= 0 && first_free < entry_end(catalogue.entries[last_file]))
        add(&list, PROBLEM_FREE_BEFORE_FILE, last_file, -1, first_free,
            entry_end(catalogue.entries[last_file]));

    // The counts the disk-info sector keeps.
    if (catalogue.file_count != catalogue.entry_count)
        add(&list, PROBLEM_FILE_COUNT, -1, -1, catalogue.file_count, catalogue.entry_count);
    if (catalogue.deleted_count != catalogue.deleted_entries)
        add(&list, PROBLEM_DELETED_COUNT, -1, -1, catalogue.deleted_count,
            catalogue.deleted_entries);
    const int32_t free_left = std::max(0, disk_end - first_free);
    if (catalogue.free_sectors != free_left)
        add(&list, PROBLEM_FREE_COUNT, -1, -1, catalogue.free_sectors, free_left);

    // Sectors claimed twice: the entries in the order they start, each
    // against the one that reaches furthest before it.
    int order[TRD_MAX_ENTRIES];
    int count = 0;
    for (int i = 0; i < catalogue.entry_count; ++i)
        if (holds_sectors(catalogue.entries[i]))
            order[count++] = i;
    std::stable_sort(order, order + count, [&](int a, int b) {
        return entry_first(catalogue.entries[a]) < entry_first(catalogue.entries[b]);
    });
    int furthest = -1;
    for (int k = 0; k < count; ++k) {
        const trd_entry& entry = catalogue.entries[order[k]];
        if (furthest >= 0) {
            const int32_t reach = entry_end(catalogue.entries[furthest]);
            if (entry_first(entry) < reach) {
                const int32_t shared = std::min(reach, entry_end(entry)) - entry_first(entry);
                add(&list, PROBLEM_SHARED_SECTORS, std::min(furthest, order[k]),
                    std::max(furthest, order[k]), shared, 0);
            }
        }
        if (furthest < 0 || entry_end(entry) > entry_end(catalogue.entries[furthest]))
            furthest = order[k];
    }
    return list.count;
}

// "file 3 "b.tales  <1>"", or "deleted file 3 ...": numbered from 1, as a
// listing numbers them.
static const char* entry_words(const trd_catalogue& catalogue, int index, char* text, size_t size)
{
    char name[4 * TRD_NAME_SIZE + 16];
    entry_display_name(catalogue.entries[index], name, sizeof name);
    std::snprintf(text, size,
                  catalogue.entries[index].deleted ? tr("deleted file %d \"%s\"")
                                                   : tr("file %d \"%s\""),
                  index + 1, name);
    return text;
}

void describe_image_problem(const trd_catalogue& catalogue, const image_problem& problem,
                            char* text, size_t size)
{
    char entry[96] = "", other[96] = "";
    if (problem.entry >= 0 && problem.entry < catalogue.entry_count)
        entry_words(catalogue, problem.entry, entry, sizeof entry);
    if (problem.other >= 0 && problem.other < catalogue.entry_count)
        entry_words(catalogue, problem.other, other, sizeof other);
    const int64_t found = problem.found, wanted = problem.wanted;
    switch (problem.kind) {
    case PROBLEM_BYTES_MISSING:
        std::snprintf(text, size,
                      trn("the catalogue and the first free sector use %lld byte past the end of "
                          "the disk that the image does not hold",
                          "the catalogue and the first free sector use %lld bytes past the end of "
                          "the disk that the image does not hold",
                          found),
                      static_cast<long long>(found));
        break;
    case PROBLEM_IN_TRACK_ZERO:
        std::snprintf(text, size,
                      tr("%s starts in track 0, sector %lld, where the catalogue and the "
                         "disk-info sector lie"),
                      entry, static_cast<long long>(found));
        break;
    case PROBLEM_PAST_DISK_END:
        std::snprintf(text, size,
                      trn("%s runs %lld byte past the end of the disk",
                          "%s runs %lld bytes past the end of the disk", found),
                      entry, static_cast<long long>(found));
        break;
    case PROBLEM_SECTOR_NUMBER:
        if (problem.entry >= 0)
            std::snprintf(text, size,
                          tr("%s starts at sector %lld of its track, but a track has sectors 0 "
                             "to 15"),
                          entry, static_cast<long long>(found));
        else
            std::snprintf(text, size,
                          tr("the disk-info sector records the first free sector as sector %lld "
                             "of its track (byte 0x8E1), but a track has sectors 0 to 15"),
                          static_cast<long long>(found));
        break;
    case PROBLEM_FREE_BEFORE_FILE:
        std::snprintf(text, size,
                      tr("the first free sector (track %lld, sector %lld) lies before the end "
                         "of %s (track %lld, sector %lld)"),
                      static_cast<long long>(found / TRD_SECTORS_PER_TRACK),
                      static_cast<long long>(found % TRD_SECTORS_PER_TRACK), entry,
                      static_cast<long long>(wanted / TRD_SECTORS_PER_TRACK),
                      static_cast<long long>(wanted % TRD_SECTORS_PER_TRACK));
        break;
    case PROBLEM_FILE_COUNT:
        std::snprintf(text, size, "%s, %s",
                      formatted(trn("the disk-info sector counts %lld file (byte 0x8E4)",
                                    "the disk-info sector counts %lld files (byte 0x8E4)", found),
                                static_cast<long long>(found))
                          .c_str(),
                      formatted(trn("but the catalogue holds %lld entry",
                                    "but the catalogue holds %lld entries", wanted),
                                static_cast<long long>(wanted))
                          .c_str());
        break;
    case PROBLEM_DELETED_COUNT:
        std::snprintf(
            text, size, "%s, %s",
            formatted(trn("the disk-info sector counts %lld deleted file (byte 0x8F4)",
                          "the disk-info sector counts %lld deleted files (byte 0x8F4)", found),
                      static_cast<long long>(found))
                .c_str(),
            formatted(trn("but the catalogue marks %lld entry deleted",
                          "but the catalogue marks %lld entries deleted", wanted),
                      static_cast<long long>(wanted))
                .c_str());
        break;
    case PROBLEM_FREE_COUNT:
        std::snprintf(
            text, size, "%s, %s",
            formatted(trn("the disk-info sector counts %lld free sector (bytes 0x8E5 and 0x8E6)",
                          "the disk-info sector counts %lld free sectors (bytes 0x8E5 and 0x8E6)",
                          found),
                      static_cast<long long>(found))
                .c_str(),
            formatted(trn("but %lld sector lies from the first free sector to the end of the disk",
                          "but %lld sectors lie from the first free sector to the end of the disk",
                          wanted),
                      static_cast<long long>(wanted))
                .c_str());
        break;
    case PROBLEM_SHARED_SECTORS:
        std::snprintf(text, size,
                      trn("%s and %s share %lld sector", "%s and %s share %lld sectors", found),
                      entry, other, static_cast<long long>(found));
        break;
    }
}
