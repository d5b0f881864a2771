// The identity pass: one read of an image, hashed at every length asked for.
#include "known_disks.h"

#include "batch.h"
#include "file_io.h"
#include "messages.h"
#include "trd_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

namespace
{

// The image is read in pieces of this size straight into this buffer.
constexpr size_t IDENTITY_PIECE_SIZE = 256 * 1024;
alignas(64) unsigned char g_identity_piece[IDENTITY_PIECE_SIZE];
// Zeros to hash, never written to.
unsigned char g_zeros[64 * 1024];

void add_zeros(digest_state* state, int64_t count)
{
    while (count > 0) {
        const size_t piece =
            count < int64_t{sizeof g_zeros} ? static_cast<size_t>(count) : sizeof g_zeros;
        digest_add(state, g_zeros, piece);
        count -= static_cast<int64_t>(piece);
    }
}

void add_zero_crc(uint32_t* crc, int64_t count)
{
    while (count > 0) {
        const size_t piece =
            count < int64_t{sizeof g_zeros} ? static_cast<size_t>(count) : sizeof g_zeros;
        *crc = crc32_add(*crc, g_zeros, piece);
        count -= static_cast<int64_t>(piece);
    }
}

// The hashes of one kind: a state that stands at the content end as the
// file is read (the zeros after the last non-zero byte are held back until
// more data comes), then is carried on over zeros to each length asked for.
struct hash_run {
    digest_kind kind;
    digest_state* state;
};

// Finishes a copy of the state at each length asked for at or past the
// content end, carrying the state on over zeros between them.
bool finish_at_lengths(hash_run* run, const std::vector<int64_t>& lengths, image_identity* identity)
{
    int64_t at = identity->content_end;
    for (int64_t length : lengths) {
        // No length past the largest a list can name, but the file's own:
        // its zeros are in it, and were read.
        if (length < identity->content_end ||
            (length > IDENTITY_MAX_LENGTH && length != identity->length))
            continue;
        add_zeros(run->state, length - at);
        at = length;
        length_digest made = {length, run->kind, {}};
        if (!digest_peek(run->state, made.digest))
            return false;
        identity->digests.push_back(made);
    }
    return true;
}

// The same for the CRC-32, from the content's.
void crcs_at_lengths(uint32_t crc, const std::vector<int64_t>& lengths, image_identity* identity)
{
    int64_t at = identity->content_end;
    for (int64_t length : lengths) {
        if (length < identity->content_end ||
            (length > IDENTITY_MAX_LENGTH && length != identity->length))
            continue;
        add_zero_crc(&crc, length - at);
        at = length;
        identity->crcs.push_back({length, crc});
    }
}

} // namespace

int identify_stream(FILE* image, const unsigned char* head, size_t first,
                    const identity_request& request, image_identity* identity)
{
    identity->length = 0;
    identity->content_end = 0;
    identity->digests.clear();
    identity->crcs.clear();
    identity->content_crc = 0;
    std::memset(identity->content_sha1, 0, sizeof identity->content_sha1);

    // Only the kinds asked for are made: the CRC-32 costs a small part of
    // what a hash does.
    hash_run runs[2] = {{DIGEST_SHA1, nullptr}, {DIGEST_MD5, nullptr}};
    size_t run_count = 0;
    if (request.content_hash || !request.sha1_lengths.empty())
        runs[run_count++] = {DIGEST_SHA1, digest_begin(DIGEST_SHA1)};
    if (!request.md5_lengths.empty())
        runs[run_count++] = {DIGEST_MD5, digest_begin(DIGEST_MD5)};
    const bool crc_wanted = !request.crc_lengths.empty();
    uint32_t crc = 0, crc_held = 0; // crc_held: up to the content end
    auto release = [&]() {
        for (hash_run& run : runs)
            digest_free(run.state);
    };
    for (size_t k = 0; k < run_count; ++k) {
        if (!runs[k].state) {
            release();
            errno = ENOMEM;
            return -1;
        }
    }

    // Each piece up to its last non-zero byte is hashed, after the zeros
    // held back before it; the zeros after it are held back in turn.
    int64_t held_zeros = 0;
    auto take = [&](const unsigned char* bytes, size_t count) {
        const size_t data = end_of_data(bytes, count);
        if (data > 0) {
            for (size_t k = 0; k < run_count; ++k) {
                add_zeros(runs[k].state, held_zeros);
                digest_add(runs[k].state, bytes, data);
            }
            if (crc_wanted) {
                add_zero_crc(&crc, held_zeros);
                crc = crc32_add(crc, bytes, data);
                crc_held = crc;
            }
            held_zeros = 0;
            identity->content_end = identity->length + static_cast<int64_t>(data);
        }
        held_zeros += static_cast<int64_t>(count - data);
        identity->length += static_cast<int64_t>(count);
    };
    if (first > 0)
        take(head, first);
    for (; image;) {
        const size_t count = read_stream(g_identity_piece, 1, sizeof g_identity_piece, image);
        if (stream_failed(image)) {
            release();
            return -1;
        }
        take(g_identity_piece, count);
        if (count < sizeof g_identity_piece)
            break;
    }

    bool made = true;
    for (size_t k = 0; made && k < run_count; ++k) {
        if (runs[k].kind == DIGEST_SHA1)
            made = (!request.content_hash || digest_peek(runs[k].state, identity->content_sha1)) &&
                   finish_at_lengths(&runs[k], request.sha1_lengths, identity);
        else
            made = finish_at_lengths(&runs[k], request.md5_lengths, identity);
    }
    identity->content_crc = crc_held;
    if (crc_wanted)
        crcs_at_lengths(crc_held, request.crc_lengths, identity);
    release();
    if (!made) {
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

int identify_bytes(const unsigned char* bytes, size_t size, const identity_request& request,
                   image_identity* identity)
{
    return identify_stream(nullptr, bytes, size, request, identity);
}

int confirm_identity(FILE* image, const known_lists& lists, image_identity* identity)
{
    return confirm_identity_bytes(image, nullptr, 0, lists, identity);
}

// Contents already hashed to confirm an entry, with the hashes made: a copy
// of one of them is confirmed by comparing its bytes, at memory speed,
// instead of hashing it again. Hashes at any length are kept, since they
// follow from the content alone.
struct confirmed_content {
    std::vector<unsigned char> content;
    std::vector<length_digest> digests;
};
static std::unordered_multimap<uint64_t, confirmed_content> g_confirmed;
static size_t g_confirmed_bytes = 0;
// What the kept contents may hold in all: past it, contents are hashed.
constexpr size_t CONFIRMED_MAX_BYTES = 64 * 1024 * 1024;

int confirm_identity_bytes(FILE* image, const unsigned char* bytes, size_t size,
                           const known_lists& lists, image_identity* identity)
{
    identity_request request = confirmations_for(lists, *identity);
    if (request.sha1_lengths.empty() && request.md5_lengths.empty())
        return 0;
    confirmed_content* kept = nullptr;
    const size_t content = static_cast<size_t>(identity->content_end);
    const uint64_t key = size_crc_key(identity->content_end, identity->content_crc);
    if (!image) {
        const auto found = g_confirmed.equal_range(key);
        for (auto at = found.first; !kept && at != found.second; ++at)
            if (content <= size && at->second.content.size() == content &&
                std::memcmp(at->second.content.data(), bytes, content) == 0)
                kept = &at->second;
        // Only what the kept content was not hashed at is hashed.
        if (kept) {
            for (const digest_kind kind : {DIGEST_SHA1, DIGEST_MD5}) {
                std::vector<int64_t>& lengths =
                    kind == DIGEST_SHA1 ? request.sha1_lengths : request.md5_lengths;
                std::vector<int64_t> missing;
                for (const int64_t length : lengths) {
                    bool found_digest = false;
                    for (const length_digest& made : kept->digests)
                        if (made.length == length && made.kind == kind) {
                            identity->digests.push_back(made);
                            found_digest = true;
                        }
                    if (!found_digest)
                        missing.push_back(length);
                }
                lengths = missing;
            }
            if (request.sha1_lengths.empty() && request.md5_lengths.empty())
                return 0;
        }
    }
    image_identity confirmed;
    if (image ? seek_stream(image, 0, SEEK_SET) != 0 ||
                    identify_stream(image, nullptr, 0, request, &confirmed) != 0
              : identify_bytes(bytes, size, request, &confirmed) != 0)
        return -1;
    // The file changed between the two reads: only what both saw is kept.
    if (confirmed.length != identity->length || confirmed.content_end != identity->content_end)
        return 0;
    identity->digests.insert(identity->digests.end(), confirmed.digests.begin(),
                             confirmed.digests.end());
    if (image)
        return 0;
    if (!kept && g_confirmed_bytes + content <= CONFIRMED_MAX_BYTES) {
        kept = &g_confirmed.emplace(key, confirmed_content())->second;
        kept->content.assign(bytes, bytes + content);
        g_confirmed_bytes += content;
    }
    if (kept)
        kept->digests.insert(kept->digests.end(), confirmed.digests.begin(),
                             confirmed.digests.end());
    return 0;
}

const unsigned char* digest_at(const image_identity& identity, int64_t length, digest_kind kind)
{
    for (const length_digest& made : identity.digests)
        if (made.length == length && made.kind == kind)
            return made.digest;
    return nullptr;
}

std::string hex_digest(const unsigned char* digest, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 15];
    }
    return text;
}

bool parse_hex_digest(const std::string& text, unsigned char* digest, size_t size)
{
    if (text.size() != 2 * size)
        return false;
    auto value = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < size; ++i) {
        const int high = value(text[2 * i]), low = value(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        digest[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

// True when every byte of the stream from `from` to its end is zero.
static bool zeros_to_end(FILE* image, int64_t from)
{
    if (seek_stream(image, from, SEEK_SET) != 0)
        return false;
    for (;;) {
        const size_t count = read_stream(g_identity_piece, 1, sizeof g_identity_piece, image);
        if (stream_failed(image) || end_of_data(g_identity_piece, count) > 0)
            return false;
        if (count < sizeof g_identity_piece)
            return true;
    }
}

// Appends count zeros at the end of a file of `length` bytes.
static bool append_zeros(FILE* image, int64_t length, int64_t count)
{
    if (seek_stream(image, length, SEEK_SET) != 0)
        return false;
    while (count > 0) {
        const size_t piece =
            count < int64_t{sizeof g_zeros} ? static_cast<size_t>(count) : sizeof g_zeros;
        if (write_stream(g_zeros, piece, 1, image) != 1)
            return false;
        count -= static_cast<int64_t>(piece);
    }
    return flush_stream(image) == 0;
}

bool conform_length(const char* name, int64_t length, int64_t target, const known_entry& entry,
                    std::string* why)
{
    FILE* image = open_image(name, "r+b", TRD_TRACK_SIZE);
    if (!image) {
        *why = error_message(errno);
        return false;
    }
    bool done = false;
    file_identity now;
    // The lease is taken before the file is looked at again; its own line
    // says why a file it keeps is left.
    if (!lease_for_change(image)) {
        why->clear();
    } else if (stream_identity(image, &now) != 0) {
        *why = error_message(errno);
    } else if (now.size != length || (target < length && !zeros_to_end(image, target))) {
        *why = tr("Changed since it was read, left as it is");
    } else if (!still_leased()) {
        why->clear();
    } else if (target > length && !append_zeros(image, length, target - length)) {
        const int error = errno;
        reset_stream_length(image, length);
        *why = error_message(error);
    } else if (target < length && set_stream_length(image, target) != 0) {
        *why = error_message(errno);
    } else {
        // Read again: the bytes are the list's, or the change is undone.
        identity_request request;
        (entry.has_sha1 ? request.sha1_lengths : request.md5_lengths).push_back(target);
        image_identity result;
        const digest_kind kind = entry.has_sha1 ? DIGEST_SHA1 : DIGEST_MD5;
        const unsigned char* made = nullptr;
        if (seek_stream(image, 0, SEEK_SET) == 0 &&
            identify_stream(image, nullptr, 0, request, &result) == 0 && result.length == target)
            made = digest_at(result, target, kind);
        done = made &&
               std::memcmp(made, entry.has_sha1 ? entry.sha1 : entry.md5, digest_size(kind)) == 0;
        if (!done) {
            *why = tr("The result does not match the list's hash: the file has its length back");
            if (target > length)
                reset_stream_length(image, length);
            else
                append_zeros(image, target, length - target);
        }
    }
    close_stream(image);
    return done;
}
