// korvat-cli's commands that know a disk whatever its length: identify
// (which listed entries a file is), conform (sets an image to the length
// of the entry it is) and dupes (the same disk held more than once).
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
#include <map>
#include <set>

known_lists g_known;
identify_totals g_identify_totals;

namespace
{

// What every file's identity pass is asked for, made once from the lists.
identity_request g_request;

// A file's bytes, up to the largest length a hash is made at.
struct whole_file {
    const unsigned char* bytes;
    size_t size;
};

// Files are read whole into this buffer, made once and never cleared: only
// what was read is used.
std::vector<unsigned char>& whole_buffer()
{
    static std::vector<unsigned char> buffer(static_cast<size_t>(IDENTITY_MAX_LENGTH));
    return buffer;
}

// Reads the rest of a stream after its first `first` bytes, already in
// the buffer; false with errno set.
bool read_rest(FILE* stream, size_t first, whole_file* whole)
{
    std::vector<unsigned char>& buffer = whole_buffer();
    const size_t read = read_stream(buffer.data() + first, 1, buffer.size() - first, stream);
    *whole = {buffer.data(), first + read};
    return !stream_failed(stream);
}

// Reads a file whole into the buffer; false with errno set.
bool read_to_buffer(const std::string& name, whole_file* whole)
{
    FILE* file = open_stream(name.c_str(), "rb");
    if (!file)
        return false;
    const bool read = read_rest(file, 0, whole);
    const int error = errno;
    close_stream(file);
    errno = error;
    return read;
}

// What one file is, read once: the check's verdict, what the operations
// would make of it, and its identity.
struct identified_file {
    bool image = false;
    char why[160] = ""; // the test a file that is no image fails
    int64_t free_offset = 0;
    int64_t full_length = 0; // what restore gives
    image_identity identity;
    trd_catalogue catalogue;     // a disk's, read with its track 0
    bool other_form = false;     // no disk, but an SCL archive or a Hobeta file
    bool full_catalogue = false; // a disk of 128 files, which the operations leave
    // Its bytes, in the buffer until the next file is read; none for a file
    // longer than the buffer, which is read in pieces.
    whole_file whole = {nullptr, 0};
};

// Reads a file once for its identity; false with errno set when it cannot
// be read.
bool identify_file(const std::string& name, const identity_request& request, identified_file* file)
{
    FILE* image = open_image(name.c_str(), "rb", TRD_TRACK_SIZE);
    if (!image)
        return false;
    const int64_t count = read_track0(image);
    bool read = count >= 0;
    file_identity own;
    read = read && stream_identity(image, &own) == 0;
    if (read) {
        file->image = judge_track0(count, true) == 1;
        file->full_catalogue = file->image && has_full_catalogue(g_io_buffer);
        if (file->image) {
            file->free_offset = free_sector_offset();
            read_catalogue(&file->catalogue);
        } else {
            describe_check_failure(count, file->why, sizeof file->why);
            file->other_form =
                form_of_head(g_io_buffer, static_cast<size_t>(count), own.size) != FORM_NONE;
        }
        // Read whole once where it fits, for the hashes and the forms
        // alike; a longer file in pieces.
        file->whole = {nullptr, 0};
        if (own.size <= IDENTITY_MAX_LENGTH) {
            std::memcpy(whole_buffer().data(), g_io_buffer, static_cast<size_t>(count));
            read =
                read_rest(image, static_cast<size_t>(count), &file->whole) &&
                identify_bytes(file->whole.bytes, file->whole.size, request, &file->identity) == 0;
        } else {
            read = identify_stream(image, g_io_buffer, static_cast<size_t>(count), request,
                                   &file->identity) == 0;
        }
        // Hashed where a CRC-32 says that an entry could be this file.
        if (read && !request.crc_lengths.empty())
            read = confirm_identity_bytes(file->whole.bytes ? nullptr : image, file->whole.bytes,
                                          file->whole.size, g_known, &file->identity) == 0;
        if (!read)
            file->whole = {nullptr, 0};
        // A whole SCL archive is one, even where its bytes pass the check.
        form_contents form;
        if (read && file->image && file->whole.bytes &&
            form_of_head(file->whole.bytes, file->whole.size, own.size) == FORM_SCL &&
            read_form(file->whole.bytes, file->whole.size, &form) && is_whole_scl(form)) {
            file->image = file->full_catalogue = false;
            file->other_form = true;
            std::snprintf(file->why, sizeof file->why, "%s", tr("it is a whole SCL archive"));
        }
    }
    const int error = errno;
    close_stream(image);
    errno = error;
    if (read && file->image)
        file->full_length = restored_length(file->identity.length);
    return read;
}

// The command that makes an image of this file the length of an entry
// without losing a non-zero byte: "-" for the file as it is, and for a
// file KORVAT does not change (it fails the check).
std::string command_for(const identified_file& file, int64_t length)
{
    const image_identity& identity = file.identity;
    if (length == identity.length)
        return "-";
    if (!file.image || file.full_catalogue)
        return "-";
    const zero_tail tail = {identity.length,
                            std::max<int64_t>(identity.content_end, TRD_TRACK_SIZE), 0};
    const bool scanned = identity.length > TRD_TRACK_SIZE && identity.length <= TRD_MAX_LENGTH;
    if (scanned && length == zero_cut_length(&tail))
        return "cut-zeros";
    if (length == file.free_offset && !cut_free_refusal(file.free_offset, identity.length) &&
        identity.content_end <= file.free_offset)
        return "cut-free";
    if (length == file.full_length)
        return "restore";
    return "conform";
}

std::string check_word(const identified_file& file)
{
    return file.image ? "trd" : "not-trd";
}

// "DESCRIPTION: NAME", the entry as its list names it.
std::string entry_words(const known_entry& entry)
{
    return g_known.names[entry.list] + ": " + entry.name;
}

void report_unreadable(const std::string& name)
{
    const int error = errno;
    ++g_identify_totals.unreadable;
    report(name, error_message(error));
}

// ---- dupes ----

struct dupe_file {
    std::string name; // with the other names of the same file, if any
    int64_t length;
};
// The files of each disk, by its content end and the hash of its content.
std::map<std::pair<int64_t, std::string>, std::vector<dupe_file>> g_disks;
// The files that hold the same files in another form: a disk's files as
// its SCL archive and an archive as it is, by the archive's SHA-1; each
// with the disk it holds, so that copies of one disk are not told twice.
struct held_files {
    std::string name;
    int64_t length;
    disk_form form;
    std::string disk_key;
};
std::map<std::string, std::vector<held_files>> g_held_files;

} // namespace

bool load_known_lists()
{
    for (const std::string& operand : g_options.lists) {
        // A folder stands for every .dat and .xml file in it, in name order.
        std::vector<std::string> files;
        std::error_code error;
        if (std::filesystem::is_directory(library_path(operand), error)) {
            for (std::filesystem::directory_iterator entries(library_path(operand), error), end;
                 !error && entries != end; entries.increment(error)) {
                std::string extension = name_of(entries->path().extension());
                for (char& c : extension)
                    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
                if ((extension == ".dat" || extension == ".xml") &&
                    !std::filesystem::is_directory(entries->path(), error))
                    files.push_back(name_of(entries->path()));
            }
            if (error) {
                report(operand, error_code_text(error));
                return false;
            }
            std::sort(files.begin(), files.end());
            if (files.empty()) {
                report(operand, tr("no .dat or .xml file in this folder"));
                return false;
            }
        } else {
            files.push_back(operand);
        }
        for (const std::string& file : files) {
            std::string why;
            if (!read_known_list(file, &g_known, &why)) {
                std::fprintf(stderr, "korvat-cli: %s\n", why.c_str());
                return false;
            }
            const long long unusable = g_known.unusable.back();
            if (unusable > 0)
                report(file, counted(unusable,
                                     "%lld image entry without a size, a usable hash, or names "
                                     "of at most 4096 bytes left out",
                                     "%lld image entries without a size, a usable hash, or names "
                                     "of at most 4096 bytes left out"));
        }
    }
    index_known_lists(&g_known);
    g_request = request_for(g_known);
    const size_t lengths =
        g_request.sha1_lengths.size() + g_request.md5_lengths.size() + g_request.crc_lengths.size();
    if (lengths > LIST_MAX_LENGTHS) {
        std::fprintf(stderr, "korvat-cli: %s\n",
                     formatted(tr("the lists give %lld distinct disk lengths, more than %lld"),
                               static_cast<long long>(lengths),
                               static_cast<long long>(LIST_MAX_LENGTHS))
                         .c_str());
        return false;
    }
    return true;
}

const char* identify_header()
{
    return g_options.lists.empty()
               ? "path\tcheck\tlength\tcontent_end\tsha1\tmd5\tfull_length\tfull_sha1\tfull_md5"
               : "path\tcheck\tlength\tcontent_end\tlist\tentry\tentry_length\thow\tcommand";
}

bool read_whole(const std::string& name, std::vector<unsigned char>* bytes)
{
    whole_file whole;
    if (!read_to_buffer(name, &whole))
        return false;
    bytes->assign(whole.bytes, whole.bytes + whole.size);
    return true;
}

// The entries a file is by the files it holds: a disk's (or an SCL
// archive's) files as one SCL archive, with its deleted entries and
// without them, and each file as a Hobeta file. A form is made only where
// a list holds an entry of its very size, so that lists without such
// entries cost nothing.
static std::vector<known_match> matches_by_files(const std::string& name,
                                                 const identified_file& file)
{
    std::vector<known_match> matches;
    const identity_request& wanted = g_request;
    if (wanted.scl_sizes.empty() && wanted.hobeta_sizes.empty())
        return matches;
    form_contents form;
    const bool archive = !file.image &&
                         (file.whole.bytes ? read_form(file.whole.bytes, file.whole.size, &form) &&
                                                 form.form == FORM_SCL
                                           : read_form_file(name.c_str(), &form) == FORM_SCL) &&
                         form.whole;
    if (!file.image && !archive)
        return matches;
    trd_catalogue catalogue;
    if (archive)
        catalogue_of_form(form, &catalogue);
    else
        catalogue = file.catalogue;
    bool scl_wanted = false, hobeta_wanted = false;
    for (bool keep : {true, false})
        scl_wanted =
            scl_wanted || (file.image && wanted.scl_sizes.count(scl_size_of(catalogue, keep)));
    for (int i = 0; i < catalogue.entry_count; ++i)
        hobeta_wanted =
            hobeta_wanted ||
            wanted.hobeta_sizes.count(int64_t{HOBETA_HEADER_SIZE} +
                                      int64_t{catalogue.entries[i].sectors} * TRD_SECTOR_SIZE);
    if (!scl_wanted && !hobeta_wanted)
        return matches;
    whole_file image = file.whole;
    if (file.image && !image.bytes && !read_to_buffer(name, &image))
        return matches;
    if (scl_wanted) {
        for (bool keep : {true, false}) {
            if (!keep && catalogue.deleted_entries == 0)
                break;
            if (!wanted.scl_sizes.count(scl_size_of(catalogue, keep)))
                continue;
            for (known_match& match : find_form_matches(
                     g_known, FORM_SCL, scl_of_disk(image.bytes, image.size, keep), "*"))
                matches.push_back(match);
        }
    }
    for (int i = 0; hobeta_wanted && i < catalogue.entry_count; ++i) {
        const trd_entry& entry = catalogue.entries[i];
        const int64_t size = int64_t{HOBETA_HEADER_SIZE} + int64_t{entry.sectors} * TRD_SECTOR_SIZE;
        if (!wanted.hobeta_sizes.count(size))
            continue;
        // Where its sectors are, and how much of them the file holds
        // (zeros after that).
        const unsigned char* raw = nullptr;
        const unsigned char* from = nullptr;
        const size_t bytes = size_t(entry.sectors) * TRD_SECTOR_SIZE;
        size_t held = bytes;
        if (archive) {
            raw = form.files[size_t(i)].entry;
            from = form.bytes.data() + form.files[size_t(i)].offset;
        } else {
            raw = image.bytes + size_t(i) * TRD_ENTRY_SIZE;
            const size_t start = size_t(entry_first(entry)) * TRD_SECTOR_SIZE;
            held = start < image.size ? std::min(bytes, image.size - start) : 0;
            from = image.bytes + (held ? start : 0);
        }
        // Its CRC-32 rules out every entry, as a rule, before it is made.
        unsigned char header[HOBETA_HEADER_SIZE];
        hobeta_header_of(raw, header);
        uint32_t crc = crc32_add(crc32_add(0, header, sizeof header), from, held);
        static const unsigned char zeros[TRD_SECTOR_SIZE] = {};
        for (size_t left = bytes - held; left > 0; left -= std::min(left, sizeof zeros))
            crc = crc32_add(crc, zeros, std::min(left, sizeof zeros));
        if (!form_may_match(g_known, FORM_HOBETA, size, crc))
            continue;
        std::vector<unsigned char> sectors(bytes, 0);
        if (held)
            std::memcpy(sectors.data(), from, held);
        char shown[4 * TRD_NAME_SIZE + 8], type[5];
        escape_disk_text(entry.name, TRD_NAME_SIZE, shown, sizeof shown);
        escape_disk_text(&entry.type, 1, type, sizeof type);
        std::string part = shown;
        while (!part.empty() && part.back() == ' ')
            part.pop_back();
        for (known_match& match : find_form_matches(
                 g_known, FORM_HOBETA, hobeta_of(raw, sectors.data()), part + "." + type))
            matches.push_back(match);
    }
    return matches;
}

// What the lists ask of one file's pass: an archive or a Hobeta file is
// known by its very bytes, hashed at its own length where a list has an
// entry of that size; only in the kinds those entries are matched by, and
// only where the disks' lengths do not ask for it already. Uses request
// for the copy when one is needed.
static const identity_request* request_with_own_length(const std::string& name,
                                                       identity_request* request)
{
    const int64_t length = length_of_file(name.c_str());
    const bool crc =
        g_request.form_crc_sizes.count(length) &&
        !std::binary_search(g_request.crc_lengths.begin(), g_request.crc_lengths.end(), length);
    const bool sha1 =
        g_request.form_sha1_sizes.count(length) &&
        !std::binary_search(g_request.sha1_lengths.begin(), g_request.sha1_lengths.end(), length);
    const bool md5 =
        g_request.form_md5_sizes.count(length) &&
        !std::binary_search(g_request.md5_lengths.begin(), g_request.md5_lengths.end(), length);
    if (!crc && !sha1 && !md5)
        return &g_request;
    // The lengths alone: the pass needs nothing else.
    request->content_hash = false;
    request->crc_lengths = g_request.crc_lengths;
    request->sha1_lengths = g_request.sha1_lengths;
    request->md5_lengths = g_request.md5_lengths;
    for (std::vector<int64_t>* lengths :
         {crc ? &request->crc_lengths : nullptr, sha1 ? &request->sha1_lengths : nullptr,
          md5 ? &request->md5_lengths : nullptr})
        if (lengths)
            lengths->insert(std::lower_bound(lengths->begin(), lengths->end(), length), length);
    return request;
}

bool match_file(const std::string& name, file_matches* found)
{
    identity_request request;
    identified_file file;
    if (!identify_file(name, *request_with_own_length(name, &request), &file))
        return false;
    found->image = file.image;
    found->other_form = file.other_form;
    found->form = file.image ? FORM_TRD
                  : file.whole.bytes
                      ? form_of_head(file.whole.bytes, file.whole.size, file.identity.length)
                      : FORM_NONE;
    found->type = found->form == FORM_HOBETA && file.whole.size > 8 ? file.whole.bytes[8] : 0;
    found->length = file.identity.length;
    found->content_end = file.identity.content_end;
    found->matches = find_matches(g_known, file.identity);
    const std::vector<known_match> by_files = matches_by_files(name, file);
    found->matches.insert(found->matches.end(), by_files.begin(), by_files.end());
    return true;
}

bool identify_image(const std::string& name)
{
    identity_request request;
    identified_file file;
    // Without lists: the hashes as the file is and at its disk's full size,
    // known only once the check has read track 0, so asked for at every size
    // a disk type gives.
    if (g_options.lists.empty()) {
        std::vector<int64_t>& lengths = request.sha1_lengths;
        for (int64_t tracks : {40, 80, 160})
            lengths.push_back(tracks * TRD_TRACK_SIZE);
        const int64_t length = length_of_file(name.c_str());
        if (length >= 0)
            lengths.push_back(length); // the file as it is, however long
        std::sort(lengths.begin(), lengths.end());
        lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
        request.md5_lengths = lengths;
    }
    ++g_identify_totals.files;
    const identity_request* asked =
        g_options.lists.empty() ? &request : request_with_own_length(name, &request);
    const bool identified = identify_file(name, *asked, &file);
    // A file in none of the three forms fails the run, as the other
    // commands fail it, unless a list names it.
    const bool not_disk = identified && !file.image && !file.other_form;
    if (not_disk && g_options.lists.empty())
        ++g_identify_totals.not_disks;
    if (!identified) {
        report_unreadable(name);
        if (g_options.table)
            print_row({name, "error", "-", "-", "-", "-", "-", "-", "-"});
        return false;
    }
    const image_identity& identity = file.identity;

    if (g_options.lists.empty()) {
        const unsigned char* sha1 = digest_at(identity, identity.length, DIGEST_SHA1);
        const unsigned char* md5 = digest_at(identity, identity.length, DIGEST_MD5);
        const unsigned char* full_sha1 =
            file.image ? digest_at(identity, file.full_length, DIGEST_SHA1) : nullptr;
        const unsigned char* full_md5 =
            file.image ? digest_at(identity, file.full_length, DIGEST_MD5) : nullptr;
        auto hex = [](const unsigned char* digest, size_t size) {
            return digest ? hex_digest(digest, size) : std::string("-");
        };
        ++g_identify_totals.hashed;
        if (g_options.table) {
            print_row({name, check_word(file), number(identity.length),
                       number(identity.content_end), hex(sha1, DIGEST_SHA1_SIZE),
                       hex(md5, DIGEST_MD5_SIZE), file.image ? number(file.full_length) : "-",
                       hex(full_sha1, DIGEST_SHA1_SIZE), hex(full_md5, DIGEST_MD5_SIZE)});
            return true;
        }
        if (g_options.quiet)
            return true;
        print_line(name);
        if (!file.image)
            print_line("  " + formatted(tr("not a TR-DOS image: %s"), file.why));
        show(tr("  length            %lld"), static_cast<long long>(identity.length));
        show(tr("  content end       %lld"), static_cast<long long>(identity.content_end));
        show("  sha1              %s", hex(sha1, DIGEST_SHA1_SIZE).c_str());
        show("  md5               %s", hex(md5, DIGEST_MD5_SIZE).c_str());
        if (file.image) {
            show(tr("  restored to       %lld bytes"), static_cast<long long>(file.full_length));
            show("  sha1              %s", hex(full_sha1, DIGEST_SHA1_SIZE).c_str());
            show("  md5               %s", hex(full_md5, DIGEST_MD5_SIZE).c_str());
        }
        return true;
    }

    std::vector<known_match> matches = find_matches(g_known, identity);
    bool as_is = false;
    for (const known_match& match : matches)
        as_is = as_is || match.as_it_is;
    const std::vector<known_match> by_files = matches_by_files(name, file);
    if (as_is)
        ++g_identify_totals.as_is;
    else if (!matches.empty())
        ++g_identify_totals.after_change;
    else if (!by_files.empty())
        ++g_identify_totals.by_files;
    else
        ++g_identify_totals.unknown;
    if (not_disk && matches.empty() && by_files.empty())
        ++g_identify_totals.not_disks;
    matches.insert(matches.end(), by_files.begin(), by_files.end());

    if (g_options.table) {
        for (const known_match& match : matches) {
            const known_entry& entry = g_known.entries[match.entry];
            const std::string how = match.part == "*"     ? "files-as-scl"
                                    : !match.part.empty() ? "file-as-hobeta:" + match.part
                                    : match.as_it_is      ? "as-is"
                                                          : "after-change";
            print_row({name, check_word(file), number(identity.length),
                       number(identity.content_end), g_known.names[entry.list], entry.name,
                       number(entry.size), how,
                       match.part.empty() ? command_for(file, entry.size) : "-"});
        }
        if (matches.empty())
            print_row({name, check_word(file), number(identity.length),
                       number(identity.content_end), "-", "-", "-", "unknown", "-"});
        return !matches.empty();
    }
    if (g_options.quiet && !matches.empty())
        return true;
    print_line(name);
    if (!file.image)
        print_line("  " + formatted(tr("not a TR-DOS image: %s"), file.why) +
                   tr(" (identified, but KORVAT changes no such file)"));
    if (file.full_catalogue)
        print_line(tr("  128 files: the cut commands, restore and conform leave such a disk"));
    show("%s", formatted(trn("  content end       %lld of %lld byte",
                             "  content end       %lld of %lld bytes", identity.length),
                         static_cast<long long>(identity.content_end),
                         static_cast<long long>(identity.length))
                   .c_str());
    for (const known_match& match : matches) {
        const known_entry& entry = g_known.entries[match.entry];
        if (match.part == "*") {
            print_line("  " + formatted(tr("its files are the SCL entry %s of %s"),
                                        entry.name.c_str(), g_known.names[entry.list].c_str()));
            continue;
        }
        if (!match.part.empty()) {
            print_line("  " + formatted(tr("its file %s is the Hobeta entry %s of %s"),
                                        match.part.c_str(), entry.name.c_str(),
                                        g_known.names[entry.list].c_str()));
            continue;
        }
        if (match.as_it_is) {
            print_line(tr("  as it is          ") + entry_words(entry));
            continue;
        }
        const std::string command = command_for(file, entry.size);
        const bool padded_with_zeros = entry.size > identity.length;
        const std::string how =
            command == "-" ? (padded_with_zeros ? tr("padded with zeros") : tr("zeros cut"))
                           : formatted(padded_with_zeros ? tr("padded with zeros, korvat-cli %s")
                                                         : tr("zeros cut, korvat-cli %s"),
                                       command.c_str());
        print_line("  " +
                   formatted(trn("at %lld byte (%s): %s", "at %lld bytes (%s): %s", entry.size),
                             static_cast<long long>(entry.size), how.c_str(),
                             entry_words(entry).c_str()));
    }
    if (matches.empty())
        print_line(tr("  unknown: no listed entry at any length"));
    return !matches.empty();
}

bool conform_image(const std::string& name)
{
    status_print((tr("Conforming ") + name).c_str());
    const int64_t before = length_of_file(name.c_str());
    identified_file file;
    const identity_request& request = g_request;
    auto finish = [&](bool ok, int64_t after) {
        status_print(tr("Done"));
        count_batch_file(&g_totals, ok, before, after);
        return ok;
    };
    auto leave = [&](const std::string& why) {
        status_print(why.c_str());
        status_print(tr("Done"));
        count_left_file(&g_totals, before);
        return false;
    };
    if (!identify_file(name, request, &file)) {
        status_print_errno();
        return finish(false, before);
    }
    if (!file.image || file.full_catalogue) {
        status_print(not_image_text());
        return finish(false, before);
    }
    const image_identity& identity = file.identity;
    std::vector<known_match> matches = find_matches(g_known, identity);
    if (matches.empty())
        return leave(tr("Not in any list, left as it is"));
    // A disk that already is an entry stays as it is, known.
    for (const known_match& match : matches)
        if (match.as_it_is)
            return finish(true, before);
    // The lists named with --prefer, in their order, settle a disk their
    // entries give a length.
    for (const std::string& preferred : g_options.preferred) {
        std::vector<known_match> kept;
        for (const known_match& match : matches)
            if (g_known.files[g_known.entries[match.entry].list] == preferred ||
                g_known.names[g_known.entries[match.entry].list] == preferred)
                kept.push_back(match);
        if (!kept.empty()) {
            matches = kept;
            break;
        }
    }
    std::vector<int64_t> lengths;
    for (const known_match& match : matches)
        lengths.push_back(g_known.entries[match.entry].size);
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    if (lengths.size() > 1) {
        std::string named;
        for (size_t i = 0; i < lengths.size(); ++i)
            named += (i == 0                    ? ""
                      : i + 1 == lengths.size() ? tr(" and ")
                                                : ", ") +
                     number(lengths[i]);
        return leave(formatted(tr("Not changed: its lists give it %s bytes"), named.c_str()));
    }
    const known_entry& entry = g_known.entries[matches.front().entry];
    const int64_t target = entry.size;
    if (target == identity.length)
        return finish(true, before);
    if (g_options.dry_run) {
        // A change the run could not make is a failure already, as in the
        // operations' dry runs.
        if (FILE* writable = open_stream(name.c_str(), "r+b")) {
            close_stream(writable);
        } else {
            status_print_errno();
            return finish(false, before);
        }
        status_print((counted(identity.length, "Dry run: %lld byte would become ",
                              "Dry run: %lld bytes would become ") +
                      formatted(tr("%lld, as %s"), static_cast<long long>(target),
                                entry_words(entry).c_str()))
                         .c_str());
        return finish(true, target);
    }
    std::string why;
    const bool made = conform_length(name.c_str(), identity.length, target, entry, &why);
    if (!made && !why.empty())
        status_print(why.c_str());
    return finish(made, length_of_file(name.c_str()));
}

// ---- dupes ----

bool note_dupe(const std::string& name, const std::vector<std::string>& other_names)
{
    identified_file file;
    ++g_identify_totals.files;
    if (!identify_file(name, identity_request(), &file)) {
        report_unreadable(name);
        return false;
    }
    if (!file.image && !file.other_form)
        ++g_identify_totals.not_disks;
    const std::string key = hex_digest(file.identity.content_sha1, DIGEST_SHA1_SIZE);
    std::string names = name;
    for (const std::string& other : other_names)
        names += " = " + other;
    g_disks[{file.identity.content_end, key}].push_back({names, file.identity.length});
    // The files it holds, as one SCL archive.
    std::vector<unsigned char> archive;
    disk_form form = FORM_TRD;
    if (file.image) {
        whole_file image = file.whole;
        if (image.bytes || read_to_buffer(name, &image))
            archive = scl_of_disk(image.bytes, image.size, true);
    } else if (file.other_form) {
        form_contents contents;
        const bool read = file.whole.bytes ? read_form(file.whole.bytes, file.whole.size, &contents)
                                           : read_form_file(name.c_str(), &contents) != FORM_NONE;
        if (read && contents.form == FORM_SCL && contents.problems.empty()) {
            archive = contents.bytes;
            form = FORM_SCL;
        }
    }
    if (!archive.empty() && archive.size() > SCL_HEADER_SIZE + SCL_SUM_SIZE) {
        unsigned char digest[DIGEST_SHA1_SIZE];
        if (digest_state* state = digest_begin(DIGEST_SHA1)) {
            digest_add(state, archive.data(), archive.size());
            digest_end(state, digest);
            g_held_files[hex_digest(digest, sizeof digest)].push_back(
                {name, file.identity.length, form,
                 std::to_string(file.identity.content_end) + key});
        }
    }
    return true;
}

std::string dupes_summary()
{
    // Largest group first, then by the first file's name.
    std::vector<const std::pair<const std::pair<int64_t, std::string>, std::vector<dupe_file>>*>
        groups;
    for (const auto& disk : g_disks)
        if (disk.second.size() > 1)
            groups.push_back(&disk);
    std::sort(groups.begin(), groups.end(), [](const auto* a, const auto* b) {
        if (a->second.size() != b->second.size())
            return a->second.size() > b->second.size();
        return a->second.front().name < b->second.front().name;
    });
    long long copies_bytes = 0;
    if (g_options.table)
        print_line("disk\tpath\tlength\tcontent_end\tcontent_sha1");
    for (size_t g = 0; g < groups.size(); ++g) {
        const auto& files = groups[g]->second;
        const int64_t content_end = groups[g]->first.first;
        const std::string& key = groups[g]->first.second;
        if (!g_options.table)
            print_line(formatted(tr("disk %lld: "), static_cast<long long>(g + 1)) +
                       counted(static_cast<int64_t>(files.size()), "%lld file", "%lld files") +
                       formatted(tr(", content end %lld, sha1 of the content %s"),
                                 static_cast<long long>(content_end), key.c_str()));
        for (size_t i = 0; i < files.size(); ++i) {
            if (i > 0)
                copies_bytes += files[i].length;
            if (g_options.table)
                print_row({number(static_cast<int64_t>(g + 1)), files[i].name,
                           number(files[i].length), number(content_end), key});
            else
                print_line("  " + files[i].name + "  " +
                           counted(files[i].length, "%lld byte", "%lld bytes"));
        }
    }
    // Then the same files in other forms: a disk and an archive, or disks
    // that differ only outside their files, each group once.
    long long other_forms = 0;
    for (const auto& held : g_held_files) {
        const std::vector<held_files>& files = held.second;
        std::set<std::string> disks;
        bool archive = false;
        for (const held_files& f : files) {
            disks.insert(f.disk_key);
            archive = archive || f.form == FORM_SCL;
        }
        if (files.size() < 2 || (disks.size() < 2 && !archive))
            continue;
        ++other_forms;
        if (!g_options.table)
            print_line(
                formatted(tr("files %lld: "), other_forms) +
                counted(static_cast<int64_t>(files.size()), "%lld file holds the same files",
                        "%lld files hold the same files") +
                formatted(tr(" in other forms, sha1 of their SCL archive %s"), held.first.c_str()));
        for (const held_files& f : files) {
            if (g_options.table)
                print_row(
                    {"files-" + number(other_forms), f.name, number(f.length), "-", held.first});
            else
                print_line("  " + f.name + "  " + (f.form == FORM_SCL ? "scl" : "trd") + "  " +
                           counted(f.length, "%lld byte", "%lld bytes"));
        }
    }
    const identify_totals& t = g_identify_totals;
    return counted(t.files, "%lld file", "%lld files") + ", " +
           counted(static_cast<int64_t>(groups.size()), "%lld disk held more than once",
                   "%lld disks held more than once") +
           (other_forms > 0 ? ", " + counted(other_forms, "%lld set of files held in other forms",
                                             "%lld sets of files held in other forms")
                            : std::string()) +
           ", " +
           counted(copies_bytes, "%lld byte in copies beyond the first",
                   "%lld bytes in copies beyond the first") +
           ", " + formatted(tr("%lld unreadable"), t.unreadable);
}

std::string identify_summary()
{
    const identify_totals& t = g_identify_totals;
    if (g_options.lists.empty())
        return counted(t.files, "%lld file", "%lld files") + ", " +
               formatted(tr("%lld hashed"), t.hashed) + ", " +
               formatted(tr("%lld unreadable"), t.unreadable);
    return counted(t.files, "%lld file", "%lld files") + ", " +
           counted(t.as_is, "%lld known as it is", "%lld known as they are") + ", " +
           formatted(tr("%lld known after a size change"), t.after_change) + ", " +
           (t.by_files > 0 ? formatted(tr("%lld known by the files they hold"), t.by_files) + ", "
                           : std::string()) +
           formatted(tr("%lld unknown"), t.unknown) + ", " +
           formatted(tr("%lld unreadable"), t.unreadable);
}
