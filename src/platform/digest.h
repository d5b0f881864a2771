// SHA-1 and MD5, the hashes the lists of known disks name images by, from
// the system's own library: Windows' CNG (bcrypt.dll), or Nettle elsewhere.
// A state can be copied, so that one pass over a file can finish the hash
// at several lengths on its way.
#pragma once

#include <cstddef>

enum digest_kind { DIGEST_SHA1, DIGEST_MD5 };

constexpr size_t DIGEST_SHA1_SIZE = 20;
constexpr size_t DIGEST_MD5_SIZE = 16;
constexpr size_t DIGEST_MAX_SIZE = DIGEST_SHA1_SIZE;

// The size of a kind's digest in bytes.
size_t digest_size(digest_kind kind);

struct digest_state;

// A new state, or null when the system cannot give one.
digest_state* digest_begin(digest_kind kind);
// Adds bytes to the hash.
void digest_add(digest_state* state, const void* bytes, size_t count);
// A copy that goes on from where the state is, or null.
digest_state* digest_copy(const digest_state* state);
// The hash of what the state has been given so far, into out (digest_size
// bytes); the state goes on as it was. False when the system cannot.
bool digest_peek(const digest_state* state, unsigned char* out);
// Finishes the hash into out (digest_size bytes) and frees the state.
void digest_end(digest_state* state, unsigned char* out);
// Frees a state without finishing it; null is allowed.
void digest_free(digest_state* state);

// CRC-32 (the zlib and Logiqx one) of bytes, carried on from the CRC of
// what came before them (0 to begin): libdeflate's, on every build.
unsigned crc32_add(unsigned crc, const void* bytes, size_t count);
