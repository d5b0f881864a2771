// The hashes from Nettle.
#include "../digest.h"

#include <nettle/md5.h>
#include <nettle/sha1.h>

#include <new>

struct digest_state {
    digest_kind kind;
    union {
        sha1_ctx sha1;
        md5_ctx md5;
    };
};

size_t digest_size(digest_kind kind)
{
    return kind == DIGEST_SHA1 ? DIGEST_SHA1_SIZE : DIGEST_MD5_SIZE;
}

digest_state* digest_begin(digest_kind kind)
{
    digest_state* state = new (std::nothrow) digest_state;
    if (!state)
        return nullptr;
    state->kind = kind;
    if (kind == DIGEST_SHA1)
        sha1_init(&state->sha1);
    else
        md5_init(&state->md5);
    return state;
}

void digest_add(digest_state* state, const void* bytes, size_t count)
{
    const uint8_t* data = static_cast<const uint8_t*>(bytes);
    if (state->kind == DIGEST_SHA1)
        sha1_update(&state->sha1, count, data);
    else
        md5_update(&state->md5, count, data);
}

digest_state* digest_copy(const digest_state* state)
{
    return new (std::nothrow) digest_state(*state);
}

bool digest_peek(const digest_state* state, unsigned char* out)
{
    // A copy on the stack is finished; the state itself is left as it was.
    digest_state copy = *state;
    if (copy.kind == DIGEST_SHA1)
        sha1_digest(&copy.sha1, DIGEST_SHA1_SIZE, out);
    else
        md5_digest(&copy.md5, DIGEST_MD5_SIZE, out);
    return true;
}

void digest_end(digest_state* state, unsigned char* out)
{
    if (state->kind == DIGEST_SHA1)
        sha1_digest(&state->sha1, DIGEST_SHA1_SIZE, out);
    else
        md5_digest(&state->md5, DIGEST_MD5_SIZE, out);
    delete state;
}

void digest_free(digest_state* state)
{
    delete state;
}
