// The hashes from Windows' own CNG (bcrypt.dll, Windows Vista and later),
// loaded from the system folder only, at the first hash; its providers are
// opened once and kept for the run.
#include "../digest.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <bcrypt.h>

#include "dll_search.h"

#include <new>

struct digest_state {
    digest_kind kind;
    BCRYPT_HASH_HANDLE hash;
};

// The providers, opened at their first use; never closed (the system
// closes them with the process).
static BCRYPT_ALG_HANDLE g_providers[2];

// The calls, looked up in bcrypt.dll, which is never taken from the
// program's own folder.
static struct {
    bool loaded;
    decltype(&BCryptOpenAlgorithmProvider) open_provider;
    decltype(&BCryptCreateHash) create_hash;
    decltype(&BCryptHashData) hash_data;
    decltype(&BCryptDuplicateHash) duplicate_hash;
    decltype(&BCryptFinishHash) finish_hash;
    decltype(&BCryptDestroyHash) destroy_hash;
} g_cng;

template <typename Function> static void look_up(HMODULE module, const char* name, Function* call)
{
    *call = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

static bool load_cng()
{
    if (g_cng.loaded)
        return g_cng.open_provider != nullptr;
    g_cng.loaded = true;
    HMODULE module = static_cast<HMODULE>(load_system_library(L"bcrypt.dll"));
    if (!module)
        return false;
    look_up(module, "BCryptCreateHash", &g_cng.create_hash);
    look_up(module, "BCryptHashData", &g_cng.hash_data);
    look_up(module, "BCryptDuplicateHash", &g_cng.duplicate_hash);
    look_up(module, "BCryptFinishHash", &g_cng.finish_hash);
    look_up(module, "BCryptDestroyHash", &g_cng.destroy_hash);
    if (g_cng.create_hash && g_cng.hash_data && g_cng.duplicate_hash && g_cng.finish_hash &&
        g_cng.destroy_hash)
        look_up(module, "BCryptOpenAlgorithmProvider", &g_cng.open_provider);
    return g_cng.open_provider != nullptr;
}

size_t digest_size(digest_kind kind)
{
    return kind == DIGEST_SHA1 ? DIGEST_SHA1_SIZE : DIGEST_MD5_SIZE;
}

static BCRYPT_ALG_HANDLE provider(digest_kind kind)
{
    BCRYPT_ALG_HANDLE& handle = g_providers[kind == DIGEST_SHA1 ? 0 : 1];
    if (!load_cng())
        return nullptr;
    const wchar_t* name = kind == DIGEST_SHA1 ? BCRYPT_SHA1_ALGORITHM : BCRYPT_MD5_ALGORITHM;
    if (!handle && !BCRYPT_SUCCESS(g_cng.open_provider(&handle, name, nullptr, 0)))
        handle = nullptr;
    return handle;
}

digest_state* digest_begin(digest_kind kind)
{
    BCRYPT_ALG_HANDLE algorithm = provider(kind);
    if (!algorithm)
        return nullptr;
    digest_state* state = new (std::nothrow) digest_state{kind, nullptr};
    // The hash object's memory is the system's own (Windows 7 and later).
    if (state &&
        !BCRYPT_SUCCESS(g_cng.create_hash(algorithm, &state->hash, nullptr, 0, nullptr, 0, 0))) {
        delete state;
        return nullptr;
    }
    return state;
}

void digest_add(digest_state* state, const void* bytes, size_t count)
{
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    while (count > 0) {
        const ULONG piece = count > 0x40000000 ? 0x40000000 : static_cast<ULONG>(count);
        g_cng.hash_data(state->hash, const_cast<PUCHAR>(data), piece, 0);
        data += piece;
        count -= piece;
    }
}

digest_state* digest_copy(const digest_state* state)
{
    digest_state* copy = new (std::nothrow) digest_state{state->kind, nullptr};
    if (copy && !BCRYPT_SUCCESS(g_cng.duplicate_hash(state->hash, &copy->hash, nullptr, 0, 0))) {
        delete copy;
        return nullptr;
    }
    return copy;
}

bool digest_peek(const digest_state* state, unsigned char* out)
{
    digest_state* copy = digest_copy(state);
    if (copy)
        digest_end(copy, out);
    return copy != nullptr;
}

void digest_end(digest_state* state, unsigned char* out)
{
    g_cng.finish_hash(state->hash, out, static_cast<ULONG>(digest_size(state->kind)), 0);
    digest_free(state);
}

void digest_free(digest_state* state)
{
    if (!state)
        return;
    g_cng.destroy_hash(state->hash);
    delete state;
}
