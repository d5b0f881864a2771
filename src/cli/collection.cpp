// korvat-cli's commands for a collection and its lists: dat (a Logiqx
// datafile of the files, as TOSEC writes its own), rename (each identified
// file given its entry's name) and have (what the collection holds of each
// list, what it misses, and the files no list knows).
#include "cli.h"

#include "disk_forms.h"
#include "file_io.h"
#include "known_disks.h"
#include "korvat_version.h"
#include "operands.h"
#include "status_log.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

collection_totals g_collection_totals;

namespace
{

// ---- dat ----

// Text for an attribute or an element: the five characters XML reserves
// escaped; a byte that is no part of UTF-8, and a control XML 1.0 cannot
// carry, as U+FFFD, so that the list is always well-formed.
std::string xml_text(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80         ? 1
                        : (c >> 5) == 6  ? 2
                        : (c >> 4) == 14 ? 3
                        : (c >> 3) == 30 ? 4
                                         : 0;
        for (size_t k = 1; k < length; ++k)
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) >> 6) != 2)
                length = 0;
        if (length == 0 || (c < 0x20 && c != '\t')) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

// The list being made, game by game.
std::string g_dat_games;

// The name a list is given without --name: its first operand's own name
// (a folder's, or a file's without its extension).
std::string default_list_name(const std::string& operand)
{
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(library_path(operand), error);
    if (error)
        path = library_path(operand);
    while (!path.empty() && path.filename().empty())
        path = path.parent_path();
    while (!path.empty() && (path.filename() == "." || path.filename() == ".."))
        path = path.parent_path();
    const std::string name = name_of(path.filename());
    return name.empty() ? "korvat" : name;
}

// The date the list is of: SOURCE_DATE_EPOCH's where set (a list made again
// from the same files is then the same bytes), today's otherwise, in UTC.
std::string list_date()
{
    std::time_t now = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"))
        now = static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
    std::tm parts = {};
#ifdef _WIN32
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &parts);
    return date;
}

std::string rom_line(const std::string& name, const image_identity& identity, int64_t length)
{
    const unsigned char* sha1 = digest_at(identity, length, DIGEST_SHA1);
    const unsigned char* md5 = digest_at(identity, length, DIGEST_MD5);
    uint32_t crc = 0;
    for (const length_crc& made : identity.crcs)
        if (made.length == length)
            crc = made.crc;
    char crc_text[9];
    std::snprintf(crc_text, sizeof crc_text, "%08x", static_cast<unsigned>(crc));
    return "\t\t<rom name=\"" + xml_text(name) + "\" size=\"" + std::to_string(length) +
           "\" crc=\"" + crc_text + "\" md5=\"" + hex_digest(md5, DIGEST_MD5_SIZE) + "\" sha1=\"" +
           hex_digest(sha1, DIGEST_SHA1_SIZE) + "\"/>\n";
}

// The hashes of a stream from its start at the lengths given.
bool hash_at(FILE* stream, const std::vector<int64_t>& lengths, image_identity* identity)
{
    identity_request request;
    request.content_hash = false;
    request.sha1_lengths = request.md5_lengths = request.crc_lengths = lengths;
    return seek_stream(stream, 0, SEEK_SET) == 0 &&
           identify_stream(stream, nullptr, 0, request, identity) == 0;
}

// The name's part after its folder, and that without its extension (".$X"
// of a Hobeta file's three, any other's last).
std::string own_name(const std::string& name)
{
    const size_t slash = name.find_last_of(
#ifdef _WIN32
        "/\\"
#else
        "/"
#endif
    );
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string stem_of_name(const std::string& name)
{
    if (form_of_entry_name(name.c_str()) == FORM_HOBETA)
        return name.substr(0, name.size() - 3);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// ---- rename ----

// A name made safe for every file system, the same on every build: a
// control and each of <>:"/\|?* as "_"; trailing dots and blanks dropped
// (an empty stem is "_"); a device name Windows keeps (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, CONIN$, CONOUT$, in any case, alone or before a dot) with
// "_" after it; and the stem cut at a whole UTF-8 character, so that the
// name with its extension holds at most 240 bytes.
std::string safe_stem(const std::string& stem, size_t extension_size)
{
    std::string safe;
    for (const char c : stem)
        safe += static_cast<unsigned char>(c) < 0x20 || c == 0x7F || std::strchr("<>:\"/\\|?*", c)
                    ? '_'
                    : c;
    const size_t most = 240 - extension_size;
    if (safe.size() > most) {
        size_t cut = most;
        while (cut > 0 && (static_cast<unsigned char>(safe[cut]) >> 6) == 2)
            --cut;
        safe.resize(cut);
    }
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' '))
        safe.pop_back();
    if (safe.empty())
        safe = "_";
    std::string device = safe.substr(0, safe.find('.'));
    for (char& c : device)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    static const char* const reserved[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    bool kept = std::find_if(std::begin(reserved), std::end(reserved), [&](const char* name) {
                    return device == name;
                }) != std::end(reserved);
    kept = kept ||
           (device.size() == 4 && (device.rfind("COM", 0) == 0 || device.rfind("LPT", 0) == 0) &&
            device[3] >= '1' && device[3] <= '9');
    if (kept)
        safe.insert(device.size(), "_");
    return safe;
}

// The extension of a file's form: ".trd", ".scl", or ".$" and its type as
// a Hobeta file's name carries it.
std::string form_extension(const file_matches& found)
{
    if (found.form == FORM_SCL)
        return ".scl";
    if (found.form == FORM_HOBETA) {
        unsigned char entry[16] = {'x', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
        entry[8] = found.type;
        const std::string name = hobeta_file_name(entry);
        return name.substr(name.find(".$"));
    }
    return ".trd";
}

// The match a file is named by: as it is first, then after a change of its
// zero tail, then by its files as one archive; in the lists' order within
// each. Null when there is none (a file of a disk known as a Hobeta entry
// does not name the disk).
const known_match* naming_match(const file_matches& found)
{
    for (int rank = 0; rank < 3; ++rank)
        for (const known_match& match : found.matches) {
            const bool whole = match.part.empty();
            if ((rank == 0 && whole && match.as_it_is) || (rank == 1 && whole && !match.as_it_is) ||
                (rank == 2 && match.part == "*"))
                return &match;
        }
    return nullptr;
}

// The names files were given in this run.
std::set<std::string> g_claimed;

// Whether two names are one file (a change of case alone, where the file
// system ignores case).
bool same_file(const std::string& one, const std::string& other)
{
    file_identity identities[2];
    const std::string* names[2] = {&one, &other};
    for (int i = 0; i < 2; ++i) {
        FILE* stream = open_stream(names[i]->c_str(), "rb");
        if (!stream)
            return false;
        const bool known = stream_identity(stream, &identities[i]) == 0;
        close_stream(stream);
        if (!known)
            return false;
    }
    return identities[0].device == identities[1].device && identities[0].file == identities[1].file;
}

// ---- have ----

// A file that holds an entry, and how.
struct holder {
    std::string path;
    disk_form form;
    int64_t length;
    known_match match;
};
std::map<size_t, std::vector<holder>> g_held; // by entry
struct unknown_file {
    std::string path;
    disk_form form;
    int64_t length;
};
std::vector<unknown_file> g_unknown;

const char* form_word(disk_form form)
{
    return form == FORM_TRD      ? "trd"
           : form == FORM_SCL    ? "scl"
           : form == FORM_HOBETA ? "hobeta"
                                 : "-";
}

std::string how_word(const known_match& match)
{
    return match.part == "*"     ? "files-as-scl"
           : !match.part.empty() ? "file-as-hobeta:" + match.part
           : match.as_it_is      ? "as-is"
                                 : "after-change";
}

std::string how_text(const holder& held, const known_entry& entry)
{
    if (held.match.part == "*")
        return tr("its files are the archive");
    if (!held.match.part.empty())
        return formatted(tr("its file %s is this file"), held.match.part.c_str());
    if (held.match.as_it_is)
        return tr("as it is");
    return formatted(entry.size > held.length ? tr("the entry's %lld bytes with zeros added")
                                              : tr("the entry's %lld bytes with zeros cut"),
                     static_cast<long long>(entry.size));
}

} // namespace

bool add_to_dat(const std::string& name)
{
    ++g_collection_totals.files;
    FILE* stream = open_image(name.c_str(), "rb", TRD_TRACK_SIZE);
    if (!stream) {
        ++g_collection_totals.failed;
        report(name, error_message(errno));
        return false;
    }
    const int64_t count = read_track0(stream);
    const bool disk = count >= 0 && judge_track0(count, true);
    file_identity own;
    image_identity identity, content;
    bool read = count >= 0 && stream_identity(stream, &own) == 0 &&
                hash_at(stream, {own.size}, &identity) && identity.length == own.size;
    // A disk's content end, as cut-zeros would give it, where that is not
    // its length: so that a collection kept full matches its short copies.
    int64_t cut = -1;
    if (read && disk && g_options.content && identity.length > TRD_TRACK_SIZE &&
        identity.length <= TRD_MAX_LENGTH) {
        const zero_tail tail = {identity.length,
                                std::max<int64_t>(identity.content_end, TRD_TRACK_SIZE), 0};
        cut = zero_cut_length(&tail);
        if (cut != identity.length)
            read = hash_at(stream, {cut}, &content);
    }
    const int error = errno;
    close_stream(stream);
    if (!read) {
        ++g_collection_totals.failed;
        report(name, error_message(error));
        return false;
    }
    const std::string file = own_name(name), stem = stem_of_name(own_name(name));
    g_dat_games += "\t<game name=\"" + xml_text(stem) + "\">\n\t\t<description>" + xml_text(stem) +
                   "</description>\n" + rom_line(file, identity, identity.length);
    if (cut >= 0 && cut != identity.length)
        g_dat_games += rom_line(file, content, cut);
    g_dat_games += "\t</game>\n";
    ++g_collection_totals.done;
    if (!g_options.quiet && !g_options.output.empty())
        print_line(name);
    return true;
}

bool finish_dat(const std::string& first_operand)
{
    const std::string name =
        g_options.list_name.empty() ? default_list_name(first_operand) : g_options.list_name;
    const std::string list =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
        "\"http://www.logiqx.com/Dats/datafile.dtd\">\n\n<datafile>\n\t<header>\n\t\t<name>" +
        xml_text(name) + "</name>\n\t\t<description>" + xml_text(name) +
        "</description>\n\t\t<version>" + list_date() +
        "</version>\n\t\t<author>korvat-cli " KORVAT_VERSION "</author>\n\t</header>\n" +
        g_dat_games + "</datafile>\n";
    if (g_options.output.empty()) {
        std::fwrite(list.data(), 1, list.size(), stdout);
        return true;
    }
    begin_file();
    const std::vector<unsigned char> bytes(list.begin(), list.end());
    if (!put_file(g_options.output, bytes)) {
        report_failure(g_options.output);
        ++g_collection_totals.failed;
        return false;
    }
    return true;
}

// One file of rename or have, counted and matched against the lists; false
// after reporting a file that cannot be read.
static bool count_and_match(const std::string& name, file_matches* found)
{
    ++g_collection_totals.files;
    if (match_file(name, found))
        return true;
    ++g_collection_totals.failed;
    report(name, error_message(errno));
    return false;
}

bool rename_to_entry(const std::string& name)
{
    file_matches found;
    if (!count_and_match(name, &found))
        return false;
    const known_match* match = naming_match(found);
    if (!match) {
        ++g_collection_totals.unknown;
        if (!g_options.quiet)
            print_line(formatted(tr("%s: in no list, left as it is"), name.c_str()));
        return true;
    }
    const known_entry& entry = g_known.entries[match->entry];
    const std::string extension = form_extension(found);
    const std::string own = own_name(name);
    const std::string folder = name.substr(0, name.size() - own.size());
    const std::string target =
        folder + safe_stem(stem_of_name(entry.name), extension.size()) + extension;
    if (target == name) {
        ++g_collection_totals.unchanged;
        g_claimed.insert(target);
        return true;
    }
    // Never over another file: one that is there, or that an earlier file
    // of this run was given (or, in a dry run, would be).
    auto leave = [&]() {
        ++g_collection_totals.taken;
        if (!g_options.quiet)
            print_line(
                formatted(tr("%s: left as it is, %s is taken"), name.c_str(), target.c_str()));
        return true;
    };
    if (g_claimed.count(target) ||
        (length_of_file(target.c_str()) >= 0 && !same_file(name, target)))
        return leave();
    g_claimed.insert(target);
    if (g_options.dry_run) {
        ++g_collection_totals.done;
        if (!g_options.quiet)
            print_line(formatted(tr("Dry run: %s would be %s"), name.c_str(), target.c_str()));
        return true;
    }
    if (put_in_place(name.c_str(), target.c_str(), false) != 0) {
        if (errno == EEXIST)
            return leave();
        ++g_collection_totals.failed;
        report(name, formatted(tr("not renamed to %s: %s"), target.c_str(),
                               error_message(errno).c_str()));
        return false;
    }
    ++g_collection_totals.done;
    if (!g_options.quiet)
        print_line(formatted(tr("%s is now %s"), name.c_str(), target.c_str()));
    return true;
}

bool note_held(const std::string& name)
{
    file_matches found;
    if (!count_and_match(name, &found))
        return false;
    if (found.matches.empty()) {
        g_unknown.push_back({name, found.form, found.length});
        ++g_collection_totals.unknown;
        return true;
    }
    ++g_collection_totals.done;
    for (const known_match& match : found.matches)
        g_held[match.entry].push_back({name, found.form, found.length, match});
    return true;
}

void show_holdings()
{
    if (g_options.table)
        print_line("list\tentry\tstatus\tpath\tform\tlength\thow");
    // Each list's entries lie together, in its order.
    size_t e = 0;
    for (size_t list = 0; list < g_known.names.size(); ++list) {
        const std::string& list_name = g_known.names[list];
        long long held = 0, entries = 0;
        for (; e < g_known.entries.size() && g_known.entries[e].list == list; ++e) {
            const known_entry& entry = g_known.entries[e];
            ++entries;
            const auto found = g_held.find(e);
            if (found != g_held.end())
                ++held;
            if (g_options.table) {
                if (found == g_held.end())
                    print_row({list_name, entry.name, "missing", "-", "-", "-", "-"});
                else if (!g_options.missing)
                    for (const holder& h : found->second)
                        print_row({list_name, entry.name, "held", h.path, form_word(h.form),
                                   number(h.length), how_word(h.match)});
                continue;
            }
            if (found == g_held.end()) {
                print_line(formatted(tr("  missing  %s"), entry.name.c_str()));
            } else if (!g_options.missing && !g_options.quiet) {
                for (const holder& h : found->second)
                    print_line(formatted(tr("  held     %s: %s (%s, %s; %s)"), entry.name.c_str(),
                                         h.path.c_str(), form_word(h.form),
                                         counted(h.length, "%lld byte", "%lld bytes").c_str(),
                                         how_text(h, entry).c_str()));
            }
        }
        const std::string line = formatted(tr("%s: %s of %s held"), list_name.c_str(),
                                           grouped(held).c_str(), grouped(entries).c_str());
        // Under a table, on standard error, after the rows before it.
        if (g_options.table) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s\n", line.c_str());
        } else
            print_line(line);
    }
    for (const unknown_file& file : g_unknown) {
        if (g_options.table)
            print_row(
                {"-", "-", "unknown", file.path, form_word(file.form), number(file.length), "-"});
        else if (!g_options.missing)
            print_line(formatted(tr("in no list: %s"), file.path.c_str()));
    }
}

std::string collection_summary()
{
    const collection_totals& t = g_collection_totals;
    const std::string files = counted(t.files, "%lld file", "%lld files") + ", ";
    if (g_options.command == COMMAND_DAT)
        return files + formatted(tr("%lld listed"), t.done) + ", " +
               formatted(tr("%lld failed"), t.failed);
    if (g_options.command == COMMAND_RENAME)
        return files +
               formatted(g_options.dry_run ? tr("%lld would be renamed") : tr("%lld renamed"),
                         t.done) +
               ", " + formatted(tr("%lld named so already"), t.unchanged) + ", " +
               formatted(tr("%lld left, the name taken"), t.taken) + ", " +
               formatted(tr("%lld in no list"), t.unknown) + ", " +
               formatted(tr("%lld failed"), t.failed);
    return files + formatted(tr("%lld in a list"), t.done) + ", " +
           formatted(tr("%lld in no list"), t.unknown) + ", " +
           formatted(tr("%lld unreadable"), t.failed);
}
