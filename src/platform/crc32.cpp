// CRC-32 from libdeflate, which picks carry-less multiplication where the
// processor has it: Debian's library on Linux, the same source compiled
// for Windows.
#include "digest.h"

#include <libdeflate.h>

unsigned crc32_add(unsigned crc, const void* bytes, size_t count)
{
    return libdeflate_crc32(crc, bytes, count);
}
