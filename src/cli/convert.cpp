// korvat-cli's conversions between a disk's three forms: to-trd, to-scl and
// to-hobeta. Each writes new files through a temporary name and a rename,
// so that nothing is ever left half-written, and never overwrites a file
// unless asked to.
#include "cli.h"

#include "disk_forms.h"
#include "file_io.h"
#include "known_disks.h"
#include "operands.h"
#include "status_log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

conversion_totals g_conversion_totals;

namespace
{

// The files a to-trd with -o gathers from every source, for one disk.
std::vector<std::vector<unsigned char>> g_gathered_entries;
std::vector<std::vector<unsigned char>> g_gathered_sectors;
bool g_gather_failed;

// The folder part of a name, with its separator ("" for none).
std::string folder_of(const std::string& name)
{
    const size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// A name's own part, without its folder and its extension.
std::string stem_of(const std::string& name)
{
    std::string own = name.substr(folder_of(name).size());
    const size_t dot = own.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? own : own.substr(0, dot);
}

// Whether a new file can be made in a folder, or in the nearest folder
// above it that there is: one is made under a name of its own and removed
// again at once. False with errno set.
bool folder_takes_files(std::string folder)
{
    std::error_code error;
    while (!folder.empty() && !std::filesystem::is_directory(library_path(folder), error) &&
           folder.find_first_of("/\\") != std::string::npos) {
        folder.pop_back(); // its separator
        folder = folder_of(folder);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string probe = folder + ".korvat-dry-run-" + std::to_string(attempt) + ".tmp";
        if (FILE* file = create_new_file(probe.c_str())) {
            close_stream(file);
            remove_file(probe.c_str());
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// Writes bytes to a new file through a temporary name beside it, then
// gives it its name: no file of that name is replaced unless forced, and a
// failure (a full disk) leaves neither a part of it nor the temporary file.
// held: the leased stream of the file replaced, or null; when another
// program has asked for that file meanwhile, it is not replaced. False with
// errno set.
bool write_new_file(const std::string& name, const std::vector<unsigned char>& bytes, bool replace,
                    FILE* held)
{
    if (!replace && length_of_file(name.c_str()) >= 0) {
        errno = EEXIST;
        return false;
    }
    std::string temporary;
    FILE* file = nullptr;
    std::vector<std::string> leftovers;
    for (int attempt = 0; !file && attempt < 100; ++attempt) {
        temporary = name + ".korvat-" + std::to_string(attempt) + ".tmp";
        file = create_new_file(temporary.c_str());
        if (!file && errno != EEXIST)
            return false;
        if (!file)
            leftovers.push_back(temporary);
    }
    // A temporary name already taken is a run's that was stopped before it
    // could remove it (or one still running): said, never removed unseen.
    for (const std::string& leftover : leftovers)
        status_print(
            formatted(tr("Left by a run that was stopped, or still writing: %s (remove it when "
                         "no korvat-cli is running)"),
                      leftover.c_str())
                .c_str());
    if (!file)
        return false;
    const bool written = write_stream(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                         flush_stream(file) == 0;
    int error = errno;
    const bool closed = close_stream(file) == 0;
    if (written && !closed)
        error = errno;
    const bool wanted = written && closed && held && lease_wanted();
    if (wanted)
        error = ERROR_FILE_IN_USE;
    if (!written || !closed || wanted ||
        put_in_place(temporary.c_str(), name.c_str(), replace) != 0) {
        if (written && closed && !wanted)
            error = errno;
        remove_file(temporary.c_str());
        errno = error;
        return false;
    }
    return true;
}

// A disk's label from a name: its first eight characters in plain ASCII,
// blanks after.
void label_from(const std::string& text, unsigned char* label)
{
    std::memset(label, ' ', TRD_LABEL_SIZE);
    size_t used = 0;
    for (size_t i = 0; i < text.size() && used < TRD_LABEL_SIZE; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F)
            label[used++] = c;
    }
}

// Reads a source of to-trd or to-hobeta as a disk's files: an SCL archive
// or a Hobeta file (checked), or, for to-hobeta, a disk image. False after
// the status line that says why.
struct source_files {
    std::vector<const unsigned char*> entries, sectors;
    form_contents form;
    std::vector<unsigned char> disk; // a disk image's bytes
    std::vector<unsigned char> entry_copies;
};

// A disk image's catalogue and bytes, with the status line of a file that
// is none (not_disk) or cannot be read; false then.
bool read_disk(const std::string& name, const char* not_disk, trd_catalogue* catalogue,
               std::vector<unsigned char>* image)
{
    image_survey survey;
    char why[160] = "";
    const survey_verdict verdict =
        survey_file(name.c_str(), SURVEY_CATALOGUE, &survey, why, sizeof why, nullptr, true);
    if (verdict != SURVEY_IMAGE) {
        if (verdict == SURVEY_ERROR)
            status_print_errno();
        else
            status_print(not_disk);
        return false;
    }
    if (!read_whole(name, image)) {
        status_print_errno();
        return false;
    }
    *catalogue = survey.catalogue;
    return true;
}

bool read_source(const std::string& name, bool disk_too, source_files* source)
{
    bool failed = false;
    const disk_form form = read_form_file(name.c_str(), &source->form, &failed);
    if (failed) {
        status_print_errno();
        return false;
    }
    if (form == FORM_NONE) {
        if (!disk_too) {
            status_print(tr("Neither an SCL archive nor a Hobeta file"));
            return false;
        }
        trd_catalogue catalogue;
        if (!read_disk(name, tr("Neither a TR-DOS image, an SCL archive nor a Hobeta file"),
                       &catalogue, &source->disk))
            return false;
        for (int i = 0; i < catalogue.entry_count; ++i) {
            const trd_entry& entry = catalogue.entries[i];
            if (entry.deleted)
                continue;
            const size_t start = size_t(entry_first(entry)) * TRD_SECTOR_SIZE;
            const size_t bytes = size_t(entry.sectors) * TRD_SECTOR_SIZE;
            // A file the image does not hold whole is read as zeros past its end.
            if (start + bytes > source->disk.size())
                source->disk.resize(start + bytes, 0);
            source->entries.push_back(source->disk.data() + size_t(i) * TRD_ENTRY_SIZE);
            source->sectors.push_back(source->disk.data() + start);
        }
        return true;
    }
    if (!source->form.whole) {
        status_print(
            formatted(tr("Not converted: %s"),
                      describe_form_problem(source->form, source->form.problems.front()).c_str())
                .c_str());
        return false;
    }
    for (const form_problem& problem : source->form.problems) {
        // On a disk, the files after it would be lost.
        if (problem.kind == FORM_NAME_ZERO) {
            status_print(formatted(tr("Not converted: %s"),
                                   describe_form_problem(source->form, problem).c_str())
                             .c_str());
            return false;
        }
        if (problem.kind == FORM_BAD_SUM && !g_options.force) {
            status_print(formatted(tr("Not converted: %s (--force converts anyway)"),
                                   describe_form_problem(source->form, problem).c_str())
                             .c_str());
            return false;
        }
    }
    for (const form_file& file : source->form.files) {
        source->entries.push_back(file.entry);
        source->sectors.push_back(source->form.bytes.data() + file.offset);
    }
    return true;
}

// The non-zero bytes of a disk image that no live entry's sectors hold and
// that its SCL archive would leave behind: in track 0 past the catalogue
// and outside the disk-info sector's fields, between and after the files.
long long bytes_left_behind(const std::vector<unsigned char>& image, const trd_catalogue& catalogue)
{
    std::vector<bool> held(image.size() / TRD_SECTOR_SIZE + 1, false);
    for (int i = 0; i < catalogue.entry_count; ++i)
        for (int32_t s = entry_first(catalogue.entries[i]);
             s < entry_end(catalogue.entries[i]) && size_t(s) < held.size(); ++s)
            held[size_t(s)] = true;
    // Sector by sector: a file's sectors and a sector of zeros are passed
    // over whole; only what is left is counted byte by byte.
    long long left = 0;
    for (size_t start = 0; start < image.size(); start += TRD_SECTOR_SIZE) {
        const size_t sector = start / TRD_SECTOR_SIZE;
        if (sector >= TRD_SECTORS_PER_TRACK && held[sector])
            continue;
        const size_t end = std::min(image.size(), start + TRD_SECTOR_SIZE);
        if (end_of_data(image.data() + start, end - start) == 0)
            continue;
        for (size_t at = start; at < end; ++at) {
            if (image[at] == 0)
                continue;
            if (at < size_t(catalogue.entry_count) * TRD_ENTRY_SIZE)
                continue; // the catalogue's own entries
            // The disk-info sector's fields a new disk has again; between
            // them (0x8E8 to 0x8F3) whatever is not as FORMAT leaves it is
            // left behind (nine blanks at 0x8EA, zeros around them).
            if (at >= TRD_INFO_START + 0xE8 && at < TRD_INFO_START + 0xF4) {
                const bool blanks = at >= TRD_INFO_START + 0xEA && at < TRD_INFO_START + 0xF3;
                if (image[at] == (blanks ? ' ' : 0))
                    continue;
            } else if (at >= TRD_INFO_START + 0xE1 && at < TRD_INFO_START + 0xFD) {
                continue;
            }
            ++left;
        }
    }
    return left;
}

// The non-zero bytes of a file from an offset to its end, read in pieces;
// -1 with errno set when it cannot be read.
long long non_zero_bytes_from(const std::string& name, int64_t offset)
{
    const int64_t length = length_of_file(name.c_str());
    if (length >= 0 && length <= offset)
        return 0;
    FILE* file = open_stream(name.c_str(), "rb");
    if (!file || seek_stream(file, offset, SEEK_SET) != 0) {
        const int error = errno;
        if (file)
            close_stream(file);
        errno = error;
        return -1;
    }
    long long count = 0;
    static unsigned char piece[64 * 1024];
    for (;;) {
        const size_t read = read_stream(piece, 1, sizeof piece, file);
        for (size_t i = 0; i < read; ++i)
            count += piece[i] != 0;
        if (read < sizeof piece)
            break;
    }
    const bool failed = stream_failed(file) != 0;
    const int error = errno;
    close_stream(file);
    errno = error;
    return failed ? -1 : count;
}

bool convert_to_scl(const std::string& name)
{
    trd_catalogue catalogue;
    std::vector<unsigned char> image;
    if (!read_disk(name, not_image_text(), &catalogue, &image))
        return false;
    // Past what a disk can hold (the bytes read), every non-zero byte is left behind.
    const long long past = non_zero_bytes_from(name, static_cast<int64_t>(image.size()));
    if (past < 0) {
        status_print_errno();
        return false;
    }
    const long long left = bytes_left_behind(image, catalogue) + past;
    if (left > 0 && !g_options.force) {
        status_print(formatted(trn("Not converted: %lld non-zero byte lies outside every "
                                   "file and would be lost (--force converts anyway)",
                                   "Not converted: %lld non-zero bytes lie outside every "
                                   "file and would be lost (--force converts anyway)",
                                   left),
                               left)
                         .c_str());
        return false;
    }
    std::vector<unsigned char> scl = scl_of_disk(image.data(), image.size(), true);
    const std::string target =
        g_options.output.empty() ? folder_of(name) + stem_of(name) + ".scl" : g_options.output;
    status_print(tr("The disk's label is not kept: an SCL archive has none"));
    if (!put_file(target, scl))
        return false;
    g_conversion_totals.left_behind += left;
    return true;
}

bool convert_to_hobeta(const std::string& name)
{
    source_files source;
    if (!read_source(name, true, &source))
        return false;
    const std::string folder = g_options.output.empty() ? folder_of(name)
                               : g_options.output.back() == '/' || g_options.output.back() == '\\'
                                   ? g_options.output
                                   : g_options.output + "/";
    // Each live file, whatever the source: a deleted one is skipped from an
    // archive as from a disk.
    bool ok = true;
    for (size_t i = 0; i < source.entries.size(); ++i)
        if (source.entries[i][0] != TRD_DELETED_MARK)
            ok = put_file(folder + hobeta_file_name(source.entries[i]),
                          hobeta_of(source.entries[i], source.sectors[i])) &&
                 ok;
    return ok;
}

bool convert_to_trd(const std::string& name)
{
    source_files source;
    if (!read_source(name, false, &source))
        return false;
    if (!g_options.output.empty()) {
        // One disk of every source's files, written at the end.
        for (size_t i = 0; i < source.entries.size(); ++i) {
            g_gathered_entries.emplace_back(source.entries[i], source.entries[i] + SCL_ENTRY_SIZE);
            g_gathered_sectors.emplace_back(source.sectors[i],
                                            source.sectors[i] +
                                                size_t(source.entries[i][13]) * TRD_SECTOR_SIZE);
        }
        status_print(formatted(trn("%lld file taken for the disk", "%lld files taken for the disk",
                                   static_cast<long long>(source.entries.size())),
                               static_cast<long long>(source.entries.size()))
                         .c_str());
        return true;
    }
    unsigned char label[TRD_LABEL_SIZE];
    label_from(g_options.label_given ? g_options.label : stem_of(name), label);
    std::vector<unsigned char> disk;
    std::string why;
    if (!disk_of_files(source.entries, source.sectors, label, &disk, &why)) {
        status_print(formatted(tr("Not converted: %s"), why.c_str()).c_str());
        return false;
    }
    return put_file(folder_of(name) + stem_of(name) + ".trd", disk);
}

} // namespace

// Writes one new file of a conversion, or says what it would write; a line
// either way. False after the status line of a failure.
bool put_file(const std::string& name, const std::vector<unsigned char>& bytes)
{
    const long long size = static_cast<long long>(bytes.size());
    if (g_options.dry_run) {
        if (!g_options.force && length_of_file(name.c_str()) >= 0) {
            status_print(
                formatted(tr("Exists, not written (--force replaces it): %s"), name.c_str())
                    .c_str());
            return false;
        }
        // The folder the run would write in (or the nearest one there is,
        // where it would make the rest) must take a new file.
        if (!folder_takes_files(folder_of(name))) {
            status_print(
                formatted(tr("Not written, %s: %s"), error_message(errno).c_str(), name.c_str())
                    .c_str());
            return false;
        }
        status_print(formatted(trn("Dry run: would write %s, %lld byte",
                                   "Dry run: would write %s, %lld bytes", size),
                               name.c_str(), size)
                         .c_str());
        g_conversion_totals.would_write += size;
        ++g_conversion_totals.written;
        return true;
    }
    // A file replaced is leased from before its replacement is written until
    // the replacement has its name, so that no other program writes to it
    // unseen meanwhile. Windows has no lease, and a file open there could
    // not be replaced.
    FILE* held = nullptr;
#ifndef _WIN32
    if (g_options.force && length_of_file(name.c_str()) >= 0) {
        held = open_stream(name.c_str(), "rb");
        if (!held) {
            status_print(
                formatted(tr("Not written, %s: %s"), error_message(errno).c_str(), name.c_str())
                    .c_str());
            return false;
        }
        if (!lease_for_change(held)) {
            close_stream(held);
            return false;
        }
    }
#endif
    // The folder -o names is made when it is missing.
    const std::string folder = folder_of(name);
    if (!folder.empty() && make_folders(folder.c_str()) != 0) {
        status_print(
            formatted(tr("Not written, %s: %s"), error_message(errno).c_str(), name.c_str())
                .c_str());
        if (held)
            close_stream(held);
        return false;
    }
    const bool made = write_new_file(name, bytes, g_options.force, held);
    const int error = errno;
    if (held)
        close_stream(held);
    errno = error;
    if (!made) {
        if (errno == EEXIST)
            status_print(
                formatted(tr("Exists, not written (--force replaces it): %s"), name.c_str())
                    .c_str());
        else
            status_print(
                formatted(tr("Not written, %s: %s"), error_message(errno).c_str(), name.c_str())
                    .c_str());
        return false;
    }
    status_print(
        formatted(trn("Wrote %s, %lld byte", "Wrote %s, %lld bytes", size), name.c_str(), size)
            .c_str());
    ++g_conversion_totals.written;
    g_conversion_totals.bytes_written += size;
    return true;
}

bool convert_file(const std::string& name)
{
    const char* prefix = g_options.conversion == CONVERT_TO_TRD   ? "Making a disk of "
                         : g_options.conversion == CONVERT_TO_SCL ? "Making an SCL archive of "
                                                                  : "Making Hobeta files of ";
    status_print((tr(prefix) + name).c_str());
    const bool ok = g_options.conversion == CONVERT_TO_TRD   ? convert_to_trd(name)
                    : g_options.conversion == CONVERT_TO_SCL ? convert_to_scl(name)
                                                             : convert_to_hobeta(name);
    ++g_conversion_totals.files;
    g_conversion_totals.failed += !ok;
    g_gather_failed = g_gather_failed || !ok;
    status_print(tr("Done"));
    return ok;
}

bool finish_conversions()
{
    if (g_options.conversion != CONVERT_TO_TRD || g_options.output.empty() ||
        g_conversion_totals.files == 0)
        return true;
    status_print((tr("Making a disk of ") + g_options.output).c_str());
    bool ok = !g_gather_failed;
    if (!ok) {
        status_print(tr("Not written: a source could not be read"));
    } else {
        std::vector<const unsigned char*> entries, sectors;
        for (size_t i = 0; i < g_gathered_entries.size(); ++i) {
            entries.push_back(g_gathered_entries[i].data());
            sectors.push_back(g_gathered_sectors[i].data());
        }
        unsigned char label[TRD_LABEL_SIZE];
        label_from(g_options.label_given ? g_options.label : stem_of(g_options.output), label);
        std::vector<unsigned char> disk;
        std::string why;
        ok = disk_of_files(entries, sectors, label, &disk, &why);
        if (!ok)
            status_print(formatted(tr("Not converted: %s"), why.c_str()).c_str());
        else
            ok = put_file(g_options.output, disk);
    }
    // A source that could not be read is counted already: the disk it
    // stops is no second failure of the same file.
    g_conversion_totals.failed += !ok && !g_gather_failed;
    status_print(tr("Done"));
    return ok;
}

// Text markers for xgettext: the prefixes are translated where shown.
static const char* const conversion_prefixes[] = {text_to_translate("Making a disk of "),
                                                  text_to_translate("Making an SCL archive of "),
                                                  text_to_translate("Making Hobeta files of ")};

std::string conversion_summary()
{
    const conversion_totals& t = g_conversion_totals;
    (void)conversion_prefixes;
    std::string summary =
        counted(t.files, "%lld file", "%lld files") + ", " +
        formatted(g_options.dry_run ? tr("%lld would be written") : tr("%lld written"), t.written) +
        ", " + formatted(tr("%lld failed"), t.failed) + "; " +
        counted(g_options.dry_run ? t.would_write : t.bytes_written, "%lld byte written",
                "%lld bytes written");
    if (t.left_behind > 0)
        summary += ", " + counted(t.left_behind, "%lld non-zero byte left behind",
                                  "%lld non-zero bytes left behind");
    return summary;
}
