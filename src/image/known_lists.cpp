// The lists of known disks, read with expat: Logiqx datafiles and MAME
// software lists, as untrusted input.
#include "known_disks.h"

#include "file_io.h"
#include "messages.h"
#include "trd_image.h"

#include <expat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace
{

enum list_kind { LIST_UNKNOWN, LIST_LOGIQX, LIST_MAME };

// What the parser's handlers build while they read one list.
struct list_reader {
    XML_Parser parser;
    std::string file;
    list_kind kind = LIST_UNKNOWN;
    int depth = 0;
    std::vector<std::string> path; // the open elements' names
    std::string list_name, header_name, header_description;
    std::string* text = nullptr; // the character data being kept, if any
    std::string game;
    std::vector<known_entry> entries;
    long long unusable = 0;
    std::string refusal; // why the handlers stopped the parser
    size_t total_before; // entries of the lists read before
};

const char* attribute(const XML_Char** attributes, const char* name)
{
    for (size_t i = 0; attributes[i]; i += 2)
        if (std::strcmp(attributes[i], name) == 0)
            return attributes[i + 1];
    return nullptr;
}

// expat's own texts for what is wrong with a list, so that they are in the
// catalogue and shown in the user's language (the parser gives English).
// All but the one about XML_DTD support, which no call here can meet (and
// which would make the program look like a copy of expat to lintian).
[[maybe_unused]] const char* const expat_texts[] = {
    text_to_translate("out of memory"),
    text_to_translate("syntax error"),
    text_to_translate("no element found"),
    text_to_translate("not well-formed (invalid token)"),
    text_to_translate("unclosed token"),
    text_to_translate("partial character"),
    text_to_translate("mismatched tag"),
    text_to_translate("duplicate attribute"),
    text_to_translate("junk after document element"),
    text_to_translate("illegal parameter entity reference"),
    text_to_translate("undefined entity"),
    text_to_translate("recursive entity reference"),
    text_to_translate("asynchronous entity"),
    text_to_translate("reference to invalid character number"),
    text_to_translate("reference to binary entity"),
    text_to_translate("reference to external entity in attribute"),
    text_to_translate("XML or text declaration not at start of entity"),
    text_to_translate("unknown encoding"),
    text_to_translate("encoding specified in XML declaration is incorrect"),
    text_to_translate("unclosed CDATA section"),
    text_to_translate("error in processing external entity reference"),
    text_to_translate("document is not standalone"),
    text_to_translate("unexpected parser state - please send a bug report"),
    text_to_translate("entity declared in parameter entity"),
    text_to_translate("cannot change setting once parsing has begun"),
    text_to_translate("unbound prefix"),
    text_to_translate("must not undeclare prefix"),
    text_to_translate("incomplete markup in parameter entity"),
    text_to_translate("XML declaration not well-formed"),
    text_to_translate("text declaration not well-formed"),
    text_to_translate("illegal character(s) in public id"),
    text_to_translate("parser suspended"),
    text_to_translate("parser not suspended"),
    text_to_translate("parsing aborted"),
    text_to_translate("parsing finished"),
    text_to_translate("cannot suspend in external parameter entity"),
    text_to_translate("reserved prefix (xmlns) must not be declared or undeclared"),
    text_to_translate("invalid argument"),
    text_to_translate("parser not started"),
    text_to_translate(
        "reserved prefix (xml) must not be undeclared or bound to another namespace name"),
    text_to_translate("prefix must not be bound to one of the reserved namespace names"),
    text_to_translate("a successful prior call to function XML_GetBuffer is required"),
    text_to_translate("limit on input amplification factor (from DTD and entities) breached"),
};

void refuse(list_reader* reader, const std::string& why)
{
    if (reader->refusal.empty())
        reader->refusal = why;
    XML_StopParser(reader->parser, XML_FALSE);
}

// A <rom> element: kept when it is named like an image, and counted as
// unusable when it then has no size, or no hash the program can use.
void add_rom(list_reader* reader, const XML_Char** attributes)
{
    const char* name = attribute(attributes, "name");
    const disk_form form = name ? form_of_entry_name(name) : FORM_NONE;
    if (form == FORM_NONE)
        return;
    known_entry entry = {};
    entry.form = form;
    entry.list = 0; // set when the list is taken
    entry.game = reader->game;
    entry.name = name;
    const char* size = attribute(attributes, "size");
    int64_t value = 0;
    const char* size_end = size ? size + std::strlen(size) : nullptr;
    const bool sized = size && *size && std::from_chars(size, size_end, value).ptr == size_end &&
                       value > 0 && value <= IDENTITY_MAX_LENGTH;
    entry.size = value;
    const char* sha1 = attribute(attributes, "sha1");
    const char* md5 = attribute(attributes, "md5");
    entry.has_sha1 = sha1 && parse_hex_digest(sha1, entry.sha1, sizeof entry.sha1);
    entry.has_md5 = md5 && parse_hex_digest(md5, entry.md5, sizeof entry.md5);
    const char* crc = attribute(attributes, "crc");
    unsigned char crc_bytes[4];
    entry.has_crc = crc && parse_hex_digest(crc, crc_bytes, sizeof crc_bytes);
    entry.crc = entry.has_crc ? uint32_t{crc_bytes[0]} << 24 | uint32_t{crc_bytes[1]} << 16 |
                                    uint32_t{crc_bytes[2]} << 8 | crc_bytes[3]
                              : 0;
    if (!sized || (!entry.has_sha1 && !entry.has_md5) || entry.name.size() > LIST_MAX_TEXT ||
        entry.game.size() > LIST_MAX_TEXT) {
        ++reader->unusable;
        return;
    }
    if (reader->total_before + reader->entries.size() >= LIST_MAX_ENTRIES) {
        refuse(reader, formatted(tr("more than %lld images in the lists"),
                                 static_cast<long long>(LIST_MAX_ENTRIES)));
        return;
    }
    reader->entries.push_back(entry);
}

void XMLCALL start_element(void* data, const XML_Char* name, const XML_Char** attributes)
{
    list_reader* reader = static_cast<list_reader*>(data);
    ++reader->depth;
    if (reader->depth > LIST_MAX_DEPTH) {
        refuse(reader, formatted(tr("elements nested more than %d deep, more than any list of "
                                    "disks"),
                                 LIST_MAX_DEPTH));
        return;
    }
    if (reader->depth == 1) {
        if (std::strcmp(name, "datafile") == 0) {
            reader->kind = LIST_LOGIQX;
        } else if (std::strcmp(name, "softwarelist") == 0) {
            reader->kind = LIST_MAME;
            const char* list = attribute(attributes, "name");
            reader->list_name = list ? std::string(list).substr(0, LIST_MAX_TEXT) : "";
        } else {
            refuse(reader, formatted(tr("not a Logiqx datafile or a MAME software list (its root "
                                        "is <%s>)"),
                                     std::string(name).substr(0, 64).c_str()));
        }
        return;
    }
    const std::string parent = reader->path.empty() ? "" : reader->path.back();
    reader->path.push_back(name);
    if (reader->kind == LIST_LOGIQX) {
        if (reader->depth == 3 && parent == "header" && std::strcmp(name, "name") == 0)
            reader->text = &reader->header_name;
        else if (reader->depth == 3 && parent == "header" && std::strcmp(name, "description") == 0)
            reader->text = &reader->header_description;
        else if (reader->depth == 2 &&
                 (std::strcmp(name, "game") == 0 || std::strcmp(name, "machine") == 0)) {
            const char* game = attribute(attributes, "name");
            reader->game = game ? game : "";
        } else if (reader->depth == 3 && std::strcmp(name, "rom") == 0)
            add_rom(reader, attributes);
    } else if (reader->kind == LIST_MAME) {
        if (reader->depth == 2 && std::strcmp(name, "software") == 0) {
            const char* game = attribute(attributes, "name");
            reader->game = game ? game : "";
        } else if (std::strcmp(name, "rom") == 0 && parent == "dataarea") {
            add_rom(reader, attributes);
        }
    }
}

void XMLCALL end_element(void* data, const XML_Char*)
{
    list_reader* reader = static_cast<list_reader*>(data);
    if (reader->depth > 1 && !reader->path.empty())
        reader->path.pop_back();
    --reader->depth;
    reader->text = nullptr;
}

void XMLCALL character_data(void* data, const XML_Char* text, int length)
{
    list_reader* reader = static_cast<list_reader*>(data);
    if (reader->text && reader->text->size() < LIST_MAX_TEXT)
        reader->text->append(
            text, std::min<size_t>(size_t(length), LIST_MAX_TEXT - reader->text->size()));
}

// A list may name a document type, but may not declare entities: none is
// ever expanded, internal or external.
void XMLCALL entity_declaration(void* data, const XML_Char*, int, const XML_Char*, int,
                                const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*)
{
    refuse(static_cast<list_reader*>(data),
           tr("declares entities, which a list of disks never needs"));
}

// A document type may be named, but any declaration in it is refused,
// whatever it declares, on every build (one built without expat's DTD
// support does not see parameter entities).
void XMLCALL document_type(void* data, const XML_Char*, const XML_Char*, const XML_Char*,
                           int has_internal_subset)
{
    if (has_internal_subset)
        refuse(static_cast<list_reader*>(data),
               tr("declares a document type's contents, which a list of disks never needs"));
}

// "FILE:LINE:COLUMN: what", where the parser stands.
std::string where(const list_reader& reader, const std::string& what)
{
    return reader.file + ":" + std::to_string(XML_GetCurrentLineNumber(reader.parser)) + ":" +
           std::to_string(XML_GetCurrentColumnNumber(reader.parser) + 1) + ": " + what;
}

// Feeds bytes to the reader's parser; false with the error when it stops.
bool feed(list_reader* reader, const char* bytes, size_t size, bool last, std::string* error)
{
    while (size > 0 || last) {
        const int piece = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
        const bool final_piece = last && static_cast<size_t>(piece) == size;
        if (XML_Parse(reader->parser, bytes, piece, final_piece) != XML_STATUS_OK) {
            *error = where(*reader, reader->refusal.empty()
                                        ? tr(XML_ErrorString(XML_GetErrorCode(reader->parser)))
                                        : reader->refusal);
            return false;
        }
        bytes += piece;
        size -= static_cast<size_t>(piece);
        if (final_piece)
            break;
    }
    return true;
}

// A parser for one list, with every handler set and no entity ever loaded.
XML_Parser make_parser(list_reader* reader)
{
    // The encoding the list declares (UTF-8, UTF-16, ISO-8859-1, ASCII);
    // every text comes out as UTF-8.
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser)
        return nullptr;
    XML_SetUserData(parser, reader);
    XML_SetElementHandler(parser, start_element, end_element);
    XML_SetCharacterDataHandler(parser, character_data);
    XML_SetEntityDeclHandler(parser, entity_declaration);
    XML_SetStartDoctypeDeclHandler(parser, document_type);
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    return parser;
}

// Takes what a reader read into the lists, or says why it cannot.
bool take_list(list_reader* reader, known_lists* lists, std::string* error)
{
    if (reader->kind == LIST_UNKNOWN) {
        *error = reader->file + ": " + tr("an empty list");
        return false;
    }
    std::string name = reader->kind == LIST_MAME             ? reader->list_name
                       : !reader->header_description.empty() ? reader->header_description
                                                             : reader->header_name;
    if (name.empty())
        name = reader->file;
    const size_t index = lists->names.size();
    lists->names.push_back(name);
    lists->files.push_back(reader->file);
    lists->unusable.push_back(reader->unusable);
    for (known_entry& entry : reader->entries) {
        entry.list = index;
        lists->entries.push_back(std::move(entry));
    }
    return true;
}

} // namespace

bool read_known_list_bytes(const std::string& file, const char* bytes, size_t size,
                           known_lists* lists, std::string* error)
{
    list_reader reader;
    reader.file = file;
    reader.total_before = lists->entries.size();
    reader.parser = make_parser(&reader);
    if (!reader.parser) {
        *error = file + ": " + error_message(ENOMEM);
        return false;
    }
    const bool read = feed(&reader, bytes, size, true, error) && take_list(&reader, lists, error);
    XML_ParserFree(reader.parser);
    return read;
}

bool read_known_list(const std::string& file, known_lists* lists, std::string* error)
{
    FILE* stream = open_stream(file.c_str(), "rb");
    if (!stream) {
        *error = file + ": " + error_message(errno);
        return false;
    }
    // The whole list, and never more than the limit, whatever the file
    // does: given to the parser in one call, so that a long text costs time
    // in proportion to its length (the parser looks again at what it was
    // given in pieces whenever a token spans them).
    std::vector<char> bytes;
    char piece[64 * 1024];
    bool read = true;
    for (;;) {
        const size_t count = read_stream(piece, 1, sizeof piece, stream);
        if (stream_failed(stream)) {
            *error = file + ": " + error_message(errno);
            read = false;
            break;
        }
        if (int64_t(bytes.size() + count) > LIST_MAX_FILE_SIZE) {
            *error = file + ": " +
                     formatted(tr("larger than %lld MiB, more than any list of disks"),
                               static_cast<long long>(LIST_MAX_FILE_SIZE / (1024 * 1024)));
            read = false;
            break;
        }
        bytes.insert(bytes.end(), piece, piece + count);
        if (count < sizeof piece)
            break;
    }
    close_stream(stream);
    return read && read_known_list_bytes(file, bytes.data(), bytes.size(), lists, error);
}

identity_request request_for(const known_lists& lists)
{
    identity_request request;
    request.content_hash = false;
    for (const known_entry& entry : lists.entries) {
        // The other forms are hashed whole, where their size is met; an
        // entry with a CRC-32 is looked for by it first.
        if (entry.form != FORM_TRD)
            (entry.has_crc    ? request.form_crc_sizes
             : entry.has_sha1 ? request.form_sha1_sizes
                              : request.form_md5_sizes)
                .insert(entry.size);
        if (entry.form == FORM_SCL)
            request.scl_sizes.insert(entry.size);
        else if (entry.form == FORM_HOBETA)
            request.hobeta_sizes.insert(entry.size);
        else if (entry.has_crc)
            request.crc_lengths.push_back(entry.size);
        else if (entry.has_sha1)
            request.sha1_lengths.push_back(entry.size);
        else if (entry.has_md5)
            request.md5_lengths.push_back(entry.size);
    }
    for (std::vector<int64_t>* lengths :
         {&request.sha1_lengths, &request.md5_lengths, &request.crc_lengths}) {
        std::sort(lengths->begin(), lengths->end());
        lengths->erase(std::unique(lengths->begin(), lengths->end()), lengths->end());
    }
    return request;
}

// The key an entry is found by: the bytes of the hash it is matched by.
static std::string digest_key(const unsigned char* digest, digest_kind kind)
{
    return std::string(reinterpret_cast<const char*>(digest), digest_size(kind));
}

void index_known_lists(known_lists* lists)
{
    lists->by_digest.clear();
    lists->by_size.clear();
    lists->by_size_crc.clear();
    lists->by_digest.reserve(lists->entries.size());
    lists->by_size.reserve(lists->entries.size());
    for (size_t i = 0; i < lists->entries.size(); ++i) {
        const known_entry& entry = lists->entries[i];
        lists->by_digest.emplace(entry.has_sha1 ? digest_key(entry.sha1, DIGEST_SHA1)
                                                : digest_key(entry.md5, DIGEST_MD5),
                                 i);
        lists->by_size.emplace(entry.size, i);
        if (entry.has_crc)
            lists->by_size_crc.emplace(size_crc_key(entry.size, entry.crc), i);
    }
}

identity_request confirmations_for(const known_lists& lists, const image_identity& identity)
{
    identity_request request;
    request.content_hash = false;
    for (const length_crc& made : identity.crcs) {
        const auto found = lists.by_size_crc.equal_range(size_crc_key(made.length, made.crc));
        for (auto at = found.first; at != found.second; ++at) {
            const digest_kind kind = lists.entries[at->second].has_sha1 ? DIGEST_SHA1 : DIGEST_MD5;
            // Not where the pass made that hash already.
            if (!digest_at(identity, made.length, kind))
                (kind == DIGEST_SHA1 ? request.sha1_lengths : request.md5_lengths)
                    .push_back(made.length);
        }
    }
    for (std::vector<int64_t>* lengths : {&request.sha1_lengths, &request.md5_lengths}) {
        std::sort(lengths->begin(), lengths->end());
        lengths->erase(std::unique(lengths->begin(), lengths->end()), lengths->end());
    }
    return request;
}

bool form_may_match(const known_lists& lists, disk_form form, int64_t size, uint32_t crc)
{
    const auto found = lists.by_size.equal_range(size);
    for (auto at = found.first; at != found.second; ++at) {
        const known_entry& entry = lists.entries[at->second];
        if (entry.form == form && (!entry.has_crc || entry.crc == crc))
            return true;
    }
    return false;
}

// An entry that gives a CRC-32 is named only where the image's agrees with
// it too, whichever entry its hash was made for.
static bool crc_agrees(const image_identity& identity, const known_entry& entry)
{
    for (const length_crc& made : identity.crcs)
        if (made.length == entry.size)
            return made.crc == entry.crc;
    return false;
}

std::vector<known_match> find_matches(const known_lists& lists, const image_identity& identity)
{
    std::vector<known_match> matches;
    for (const length_digest& made : identity.digests) {
        const auto found = lists.by_digest.equal_range(digest_key(made.digest, made.kind));
        for (auto at = found.first; at != found.second; ++at) {
            const known_entry& entry = lists.entries[at->second];
            // A hash of one kind never stands for the other's, and the
            // length is the entry's own; an archive or a Hobeta file is its
            // bytes as they are.
            if (entry.size == made.length && entry.has_sha1 == (made.kind == DIGEST_SHA1) &&
                (entry.form == FORM_TRD || entry.size == identity.length) &&
                (!entry.has_crc || crc_agrees(identity, entry)))
                matches.push_back({at->second, entry.size == identity.length, ""});
        }
    }
    std::sort(matches.begin(), matches.end(),
              [](const known_match& a, const known_match& b) { return a.entry < b.entry; });
    return matches;
}

disk_form form_of_entry_name(const char* name)
{
    const size_t length = std::strlen(name);
    if (has_trd_extension(name))
        return FORM_TRD;
    if (length >= 3 && name[length - 3] == '.' && name[length - 2] == '$')
        return FORM_HOBETA;
    if (length >= 4 && name[length - 4] == '.') {
        std::string extension(name + length - 3);
        for (char& c : extension)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (extension == "scl")
            return FORM_SCL;
    }
    return FORM_NONE;
}

std::vector<known_match> find_form_matches(const known_lists& lists, disk_form form,
                                           const std::vector<unsigned char>& bytes,
                                           const std::string& part)
{
    std::vector<known_match> matches;
    // Each made once, and only when an entry of this form and size asks for it.
    bool have_crc = false, have[2] = {false, false};
    uint32_t crc = 0;
    unsigned char digests[2][DIGEST_MAX_SIZE];
    const auto found = lists.by_size.equal_range(int64_t(bytes.size()));
    for (auto at = found.first; at != found.second; ++at) {
        const known_entry& entry = lists.entries[at->second];
        if (entry.form != form)
            continue;
        if (entry.has_crc) {
            if (!have_crc)
                crc = crc32_add(0, bytes.data(), bytes.size());
            have_crc = true;
            if (crc != entry.crc)
                continue;
        }
        const digest_kind kind = entry.has_sha1 ? DIGEST_SHA1 : DIGEST_MD5;
        if (!have[kind]) {
            digest_state* state = digest_begin(kind);
            if (!state)
                continue;
            digest_add(state, bytes.data(), bytes.size());
            digest_end(state, digests[kind]);
            have[kind] = true;
        }
        if (std::memcmp(digests[kind], entry.has_sha1 ? entry.sha1 : entry.md5,
                        digest_size(kind)) == 0)
            matches.push_back({at->second, true, part});
    }
    std::sort(matches.begin(), matches.end(),
              [](const known_match& a, const known_match& b) { return a.entry < b.entry; });
    return matches;
}
