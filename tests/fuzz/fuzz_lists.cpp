// Fuzz target: any bytes as a list of known disks. The reader must never
// crash or leak, must stay within its limits, and must either keep the
// whole list or nothing of it; every entry it keeps is usable.
#include "known_disks.h"
#include "trd_image.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace
{

void require(bool condition, const char* rule)
{
    if (!condition) {
        std::fprintf(stderr, "list rule broken: %s\n", rule);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    known_lists lists;
    std::string error;
    const bool read = read_known_list_bytes("fuzz.dat", reinterpret_cast<const char*>(data), size,
                                            &lists, &error);
    require(read == error.empty(), "a refusal says why, and only a refusal");
    require(read == (lists.names.size() == 1), "a list is kept whole or not at all");
    require(read || lists.entries.empty(), "nothing of a refused list is kept");
    require(lists.entries.size() <= LIST_MAX_ENTRIES, "no more entries than the limit");
    for (const known_entry& entry : lists.entries) {
        require(form_of_entry_name(entry.name.c_str()) != FORM_NONE && entry.form != FORM_NONE,
                "only disks, archives and Hobeta files are kept");
        require(entry.size > 0 && entry.size <= IDENTITY_MAX_LENGTH, "every entry has a size");
        require(entry.has_sha1 || entry.has_md5, "every entry has a hash");
        require(entry.name.size() <= LIST_MAX_TEXT, "no text past the limit");
    }
    if (read) {
        index_known_lists(&lists);
        require(lists.by_digest.size() == lists.entries.size(), "every entry indexed");
        const identity_request request = request_for(lists);
        require(request.sha1_lengths.size() + request.md5_lengths.size() <= lists.entries.size(),
                "no length asked for that no entry has");
    }
    return 0;
}
