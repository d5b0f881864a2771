// SCL archives and Hobeta files: read, checked, and made from a disk's
// files, and a disk made from them.
#include "disk_forms.h"

#include "batch.h"
#include "file_io.h"
#include "messages.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace
{

uint32_t little_endian_32(const unsigned char* at)
{
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

uint16_t little_endian_16(const unsigned char* at)
{
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t sum_of(const unsigned char* bytes, size_t count)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return sum;
}

void put_32(unsigned char* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// An entry's length field, and the bytes its sectors hold.
int64_t entry_length(const unsigned char* entry)
{
    return little_endian_16(entry + 11);
}

int64_t entry_bytes(const unsigned char* entry)
{
    return int64_t{entry[13]} * TRD_SECTOR_SIZE;
}

// A file whose length field says more than its sectors hold.
void check_sectors(const unsigned char* entry, int file, std::vector<form_problem>* problems)
{
    if (entry_length(entry) > entry_bytes(entry))
        problems->push_back({FORM_SECTORS_SHORT, file, entry_length(entry), entry_bytes(entry)});
}

bool read_scl(const unsigned char* bytes, size_t size, form_contents* contents)
{
    const int count = bytes[SCL_SIGNATURE_SIZE];
    if (count > TRD_MAX_ENTRIES)
        contents->problems.push_back({FORM_TOO_MANY, -1, count, TRD_MAX_ENTRIES});
    // The entries, as far as the file holds them.
    int64_t need = SCL_HEADER_SIZE + int64_t{count} * SCL_ENTRY_SIZE;
    for (int i = 0; i < count; ++i) {
        const size_t at = SCL_HEADER_SIZE + size_t(i) * SCL_ENTRY_SIZE;
        if (at + SCL_ENTRY_SIZE > size)
            break;
        form_file file;
        std::memcpy(file.entry, bytes + at, SCL_ENTRY_SIZE);
        file.offset = size_t(need);
        need += entry_bytes(file.entry);
        contents->files.push_back(file);
        check_sectors(file.entry, i, &contents->problems);
        if (file.entry[0] == 0)
            contents->problems.push_back({FORM_NAME_ZERO, i, 0, 0});
    }
    need += SCL_SUM_SIZE;
    if (int64_t(size) != need)
        contents->problems.push_back(
            {int64_t(size) < need ? FORM_SHORT : FORM_LONG, -1, int64_t(size), need});
    contents->whole = int64_t(size) >= need && int(contents->files.size()) == count;
    // The sum stands where the entries say it does: just past the files'
    // sectors, whether or not bytes follow it; an archive cut short has none.
    if (int64_t(size) >= need) {
        const size_t at = size_t(need) - SCL_SUM_SIZE;
        const uint32_t stored = little_endian_32(bytes + at);
        const uint32_t made = sum_of(bytes, at);
        if (stored != made)
            contents->problems.push_back({FORM_BAD_SUM, -1, stored, made});
    }
    return true;
}

bool read_hobeta(const unsigned char* bytes, size_t size, form_contents* contents)
{
    form_file file;
    std::memcpy(file.entry, bytes, 13);
    file.entry[13] = bytes[14];
    file.offset = HOBETA_HEADER_SIZE;
    contents->files.push_back(file);
    if (bytes[13] != 0)
        contents->problems.push_back({FORM_HEADER_NOT_ZERO, 0, bytes[13], 0});
    if (hobeta_checksum(bytes) != little_endian_16(bytes + 15))
        contents->problems.push_back(
            {FORM_BAD_HEADER_SUM, 0, little_endian_16(bytes + 15), hobeta_checksum(bytes)});
    // As in an archive: on a disk, a name that starts with byte 0 would end
    // the catalogue there.
    if (bytes[0] == 0)
        contents->problems.push_back({FORM_NAME_ZERO, 0, 0, 0});
    check_sectors(file.entry, 0, &contents->problems);
    const int64_t need = HOBETA_HEADER_SIZE + entry_bytes(file.entry);
    if (int64_t(size) != need)
        contents->problems.push_back(
            {int64_t(size) < need ? FORM_SHORT : FORM_LONG, -1, int64_t(size), need});
    contents->whole = int64_t(size) >= need;
    return true;
}

} // namespace

uint16_t hobeta_checksum(const unsigned char* header)
{
    unsigned sum = 0;
    for (unsigned i = 0; i < 15; ++i)
        sum += header[i] * 257u + i;
    return static_cast<uint16_t>(sum);
}

disk_form form_of_head(const unsigned char* head, size_t count, int64_t length)
{
    if (count >= SCL_HEADER_SIZE && std::memcmp(head, SCL_SIGNATURE, SCL_SIGNATURE_SIZE) == 0)
        return FORM_SCL;
    // A header, and no more than one sector past the most it can carry.
    if (count >= HOBETA_HEADER_SIZE && hobeta_checksum(head) == little_endian_16(head + 15) &&
        length >= int64_t(HOBETA_HEADER_SIZE) &&
        length <= int64_t(HOBETA_HEADER_SIZE) + HOBETA_MAX_DATA + TRD_SECTOR_SIZE)
        return FORM_HOBETA;
    // A header whose checksum is wrong, but whose sector count the length
    // is exactly: a Hobeta file with a bad checksum.
    if (count >= HOBETA_HEADER_SIZE && head[13] == 0 && head[14] > 0 &&
        length == int64_t(HOBETA_HEADER_SIZE) + int64_t{head[14]} * TRD_SECTOR_SIZE)
        return FORM_HOBETA;
    return FORM_NONE;
}

bool read_form(const unsigned char* bytes, size_t size, form_contents* contents)
{
    *contents = form_contents();
    contents->form = form_of_head(bytes, size, int64_t(size));
    if (contents->form == FORM_NONE)
        return false;
    contents->bytes.assign(bytes, bytes + size);
    const unsigned char* own = contents->bytes.data();
    return contents->form == FORM_SCL ? read_scl(own, size, contents)
                                      : read_hobeta(own, size, contents);
}

disk_form read_form_file(const char* name, form_contents* contents, bool* failed)
{
    *contents = form_contents();
    if (failed)
        *failed = false;
    FILE* file = open_stream(name, "rb");
    if (!file) {
        if (failed)
            *failed = true;
        return FORM_NONE;
    }
    // Track 0 first: a disk that passes the check is a disk, whatever its
    // first bytes look like, unless they are a whole SCL archive, its sum
    // and length right.
    const int64_t count = read_track0(file);
    const bool disk = count >= 0 && judge_track0(count, true);
    int64_t length = -1;
    file_identity identity;
    if (stream_identity(file, &identity) == 0)
        length = identity.size;
    disk_form form = FORM_NONE;
    if (count >= 0 && form_of_head(g_io_buffer, size_t(count), length) != FORM_NONE &&
        (!disk || form_of_head(g_io_buffer, size_t(count), length) == FORM_SCL) && length >= 0 &&
        length <= SCL_MAX_SIZE) {
        std::vector<unsigned char> bytes(static_cast<size_t>(length));
        if (seek_stream(file, 0, SEEK_SET) == 0) {
            const size_t read = read_stream(bytes.data(), 1, bytes.size(), file);
            if (stream_failed(file)) {
                if (failed)
                    *failed = true;
            } else {
                bytes.resize(read);
                if (read_form(bytes.data(), bytes.size(), contents))
                    form = contents->form;
                if (disk && !is_whole_scl(*contents)) {
                    *contents = form_contents();
                    form = FORM_NONE;
                }
            }
        }
    } else if (count < 0 && failed) {
        *failed = true;
    }
    const int error = errno;
    close_stream(file);
    errno = error;
    return form;
}

bool is_whole_scl(const form_contents& contents)
{
    return contents.form == FORM_SCL && contents.whole && contents.problems.empty();
}

std::string describe_form_problem(const form_contents& contents, const form_problem& problem)
{
    char name[4 * TRD_NAME_SIZE + 1] = "";
    if (problem.file >= 0 && size_t(problem.file) < contents.files.size())
        escape_disk_text(contents.files[size_t(problem.file)].entry, TRD_NAME_SIZE, name,
                         sizeof name);
    const long long found = problem.found, wanted = problem.wanted;
    switch (problem.kind) {
    case FORM_BAD_HEADER_SUM:
        return formatted(tr("the header's checksum is 0x%04llX, but its first 15 bytes give "
                            "0x%04llX"),
                         found, wanted);
    case FORM_BAD_SUM:
        return formatted(tr("the sum at the end is 0x%08llX, but the bytes before it add up to "
                            "0x%08llX"),
                         found, wanted);
    case FORM_SHORT:
        return formatted(trn("the file holds %lld byte, fewer than the %lld its entries need",
                             "the file holds %lld bytes, fewer than the %lld its entries need",
                             found),
                         found, wanted);
    case FORM_LONG:
        return formatted(trn("the file holds %lld byte, more than the %lld its entries need",
                             "the file holds %lld bytes, more than the %lld its entries need",
                             found),
                         found, wanted);
    case FORM_TOO_MANY:
        return formatted(tr("the archive counts %lld entries, more than the 128 a disk holds"),
                         found);
    case FORM_SECTORS_SHORT:
        return formatted(tr("file \"%s\" is %lld bytes long, more than its sectors hold (%lld)"),
                         name, found, wanted);
    case FORM_HEADER_NOT_ZERO:
        return formatted(tr("the header's byte 13 is 0x%02llX, wanted 0x00"), found);
    case FORM_NAME_ZERO:
        return formatted(tr("file %d's name starts with byte 0, which ends a disk's catalogue"),
                         problem.file + 1);
    }
    return std::string();
}

void catalogue_of_form(const form_contents& contents, trd_catalogue* catalogue)
{
    std::memset(catalogue, 0, sizeof *catalogue);
    int32_t sector = TRD_SECTORS_PER_TRACK; // track 1, sector 0
    for (const form_file& file : contents.files) {
        if (catalogue->entry_count >= TRD_MAX_ENTRIES)
            break;
        trd_entry& entry = catalogue->entries[catalogue->entry_count++];
        std::memcpy(entry.name, file.entry, TRD_NAME_SIZE);
        entry.type = file.entry[8];
        entry.start = little_endian_16(file.entry + 9);
        entry.length = little_endian_16(file.entry + 11);
        entry.sectors = file.entry[13];
        entry.first_sector = static_cast<uint8_t>(sector % TRD_SECTORS_PER_TRACK);
        entry.first_track = static_cast<uint8_t>(std::min(sector / TRD_SECTORS_PER_TRACK, 255));
        entry.deleted = file.entry[0] == TRD_DELETED_MARK;
        catalogue->deleted_entries += entry.deleted;
        sector += entry.sectors;
    }
    catalogue->disk_type = 0x16;
    catalogue->file_count = static_cast<uint8_t>(catalogue->entry_count);
    catalogue->deleted_count = static_cast<uint8_t>(catalogue->deleted_entries);
    const int used = sector - TRD_SECTORS_PER_TRACK;
    catalogue->free_sectors = static_cast<uint16_t>(std::max(TRD_NEW_DISK_FREE_SECTORS - used, 0));
    catalogue->first_free_sector = static_cast<uint8_t>(sector % TRD_SECTORS_PER_TRACK);
    catalogue->first_free_track =
        static_cast<uint8_t>(std::min(sector / TRD_SECTORS_PER_TRACK, 255));
    std::memset(catalogue->label, ' ', TRD_LABEL_SIZE);
    catalogue->disk_sectors = 160 * TRD_SECTORS_PER_TRACK;
}

// ---- The canonical forms ----

int64_t scl_size_of(const trd_catalogue& catalogue, bool keep_deleted)
{
    int64_t size = SCL_HEADER_SIZE + SCL_SUM_SIZE;
    for (int i = 0; i < catalogue.entry_count; ++i)
        if (keep_deleted || !catalogue.entries[i].deleted)
            size += SCL_ENTRY_SIZE + int64_t{catalogue.entries[i].sectors} * TRD_SECTOR_SIZE;
    return size;
}

std::vector<unsigned char> scl_of_disk(const unsigned char* image, size_t size, bool keep_deleted)
{
    std::vector<const unsigned char*> entries;
    for (int i = 0; i < TRD_MAX_ENTRIES && size_t(i + 1) * TRD_ENTRY_SIZE <= size; ++i) {
        const unsigned char* entry = image + i * TRD_ENTRY_SIZE;
        if (entry[0] == 0)
            break;
        if (keep_deleted || entry[0] != TRD_DELETED_MARK)
            entries.push_back(entry);
    }
    std::vector<unsigned char> scl(SCL_HEADER_SIZE);
    std::memcpy(scl.data(), SCL_SIGNATURE, SCL_SIGNATURE_SIZE);
    scl[SCL_SIGNATURE_SIZE] = static_cast<unsigned char>(entries.size());
    for (const unsigned char* entry : entries)
        scl.insert(scl.end(), entry, entry + SCL_ENTRY_SIZE);
    for (const unsigned char* entry : entries) {
        const size_t start =
            (size_t{entry[15]} * TRD_SECTORS_PER_TRACK + entry[14]) * TRD_SECTOR_SIZE;
        const size_t bytes = size_t{entry[13]} * TRD_SECTOR_SIZE;
        // What the image holds of the file's sectors, and zeros past its end.
        const size_t held = start < size ? std::min(bytes, size - start) : 0;
        scl.insert(scl.end(), image + (held ? start : 0), image + (held ? start + held : 0));
        scl.insert(scl.end(), bytes - held, 0);
    }
    const uint32_t sum = sum_of(scl.data(), scl.size());
    scl.resize(scl.size() + SCL_SUM_SIZE);
    put_32(scl.data() + scl.size() - SCL_SUM_SIZE, sum);
    return scl;
}

void hobeta_header_of(const unsigned char* entry, unsigned char* header)
{
    std::memcpy(header, entry, 13);
    header[13] = 0;
    header[14] = entry[13];
    const uint16_t checksum = hobeta_checksum(header);
    header[15] = static_cast<unsigned char>(checksum);
    header[16] = static_cast<unsigned char>(checksum >> 8);
}

std::vector<unsigned char> hobeta_of(const unsigned char* entry, const unsigned char* sectors)
{
    std::vector<unsigned char> hobeta(HOBETA_HEADER_SIZE);
    hobeta_header_of(entry, hobeta.data());
    if (entry_bytes(entry) > 0)
        hobeta.insert(hobeta.end(), sectors, sectors + entry_bytes(entry));
    return hobeta;
}

bool disk_of_files(const std::vector<const unsigned char*>& entries,
                   const std::vector<const unsigned char*>& sectors, const unsigned char* label,
                   std::vector<unsigned char>* disk, std::string* why)
{
    if (entries.size() > size_t(TRD_MAX_ENTRIES)) {
        *why = formatted(tr("%lld files, more than the 128 a disk holds"),
                         static_cast<long long>(entries.size()));
        return false;
    }
    int64_t used = 0;
    for (const unsigned char* entry : entries)
        used += entry[13];
    if (used > TRD_NEW_DISK_FREE_SECTORS) {
        *why = formatted(tr("%lld sectors, more than the 2544 a new disk has free"),
                         static_cast<long long>(used));
        return false;
    }
    disk->assign(TRD_MAX_DISK_SIZE, 0);
    unsigned char* image = disk->data();
    int32_t sector = TRD_SECTORS_PER_TRACK;
    int deleted = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        unsigned char* entry = image + i * TRD_ENTRY_SIZE;
        std::memcpy(entry, entries[i], SCL_ENTRY_SIZE);
        entry[14] = static_cast<unsigned char>(sector % TRD_SECTORS_PER_TRACK);
        entry[15] = static_cast<unsigned char>(sector / TRD_SECTORS_PER_TRACK);
        deleted += entries[i][0] == TRD_DELETED_MARK;
        if (entry_bytes(entries[i]) > 0) // a file of no sectors may have no bytes at all
            std::memcpy(image + size_t(sector) * TRD_SECTOR_SIZE, sectors[i],
                        size_t(entry_bytes(entries[i])));
        sector += entries[i][13];
    }
    // The disk-info sector as TR-DOS leaves it.
    image[TRD_FIRST_FREE_SECTOR] = static_cast<unsigned char>(sector % TRD_SECTORS_PER_TRACK);
    image[TRD_FIRST_FREE_TRACK] = static_cast<unsigned char>(sector / TRD_SECTORS_PER_TRACK);
    image[TRD_DISK_TYPE] = 0x16;
    image[TRD_FILE_COUNT] = static_cast<unsigned char>(entries.size());
    const int free = TRD_NEW_DISK_FREE_SECTORS - int(used);
    image[TRD_FREE_SECTORS] = static_cast<unsigned char>(free);
    image[TRD_FREE_SECTORS + 1] = static_cast<unsigned char>(free >> 8);
    image[TRD_ID] = TRD_ID_VALUE;
    // FORMAT's nine blanks after the identifier's two zero bytes.
    std::memset(image + TRD_INFO_START + 0xEA, ' ', 9);
    image[TRD_DELETED_COUNT] = static_cast<unsigned char>(deleted);
    std::memcpy(image + TRD_LABEL, label, TRD_LABEL_SIZE);
    return true;
}

std::string hobeta_file_name(const unsigned char* entry)
{
    size_t length = TRD_NAME_SIZE;
    while (length > 0 && entry[length - 1] == ' ')
        --length;
    std::string bytes(reinterpret_cast<const char*>(entry), length);
    bytes += ".$";
    bytes += static_cast<char>(entry[8]);
    std::string name;
    static const char hex[] = "0123456789ABCDEF";
    auto escape = [&](unsigned char c) {
        name += '%';
        name += hex[c >> 4];
        name += hex[c & 0xF];
    };
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        const bool last_of_name = i + 1 == length;
        if (c < 0x20 || c > 0x7E || std::strchr("<>:\"/\\|?*%", c) ||
            ((last_of_name || i + 1 == bytes.size()) && (c == '.' || c == ' ')))
            escape(c);
        else
            name += static_cast<char>(c);
    }
    // Names Windows keeps for devices, whatever follows them.
    std::string stem;
    for (size_t i = 0; i < length; ++i)
        stem +=
            static_cast<char>(bytes[i] >= 'a' && bytes[i] <= 'z' ? bytes[i] - 'a' + 'A' : bytes[i]);
    static const char* const devices[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1",   "COM2",
                                          "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",
                                          "COM9", "LPT1", "LPT2", "LPT3", "LPT4",   "LPT5",
                                          "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};
    for (const char* device : devices)
        if (stem == device) {
            const unsigned char first = static_cast<unsigned char>(name[0]);
            name.erase(0, 1);
            std::string escaped;
            escaped += '%';
            escaped += hex[first >> 4];
            escaped += hex[first & 0xF];
            name = escaped + name;
            break;
        }
    if (length == 0)
        name = "%20" + name; // a name of blanks alone: its first blank kept
    return name;
}
