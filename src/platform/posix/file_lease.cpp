// Write leases (fcntl F_SETLEASE) on Linux: the kernel tells the holder
// that another program is opening the file with SIGIO, whose default would
// end the program, so a handler of ours notes it instead.
#include "../file_io.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>

namespace
{

volatile std::sig_atomic_t g_lease_wanted;

extern "C" void note_lease_wanted(int)
{
    g_lease_wanted = 1;
}

} // namespace

int lease_stream(FILE* stream)
{
    static bool noted;
    if (!noted) {
        struct sigaction action = {};
        action.sa_handler = note_lease_wanted;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        if (sigaction(SIGIO, &action, nullptr) != 0)
            return -1;
        noted = true;
    }
    g_lease_wanted = 0;
    if (fcntl(fileno(stream), F_SETLEASE, F_WRLCK) == 0)
        return 0;
    // EAGAIN: some other descriptor has the file open.
    if (errno == EAGAIN || errno == EBUSY)
        errno = ERROR_FILE_IN_USE;
    return -1;
}

bool lease_wanted()
{
    return g_lease_wanted != 0;
}
