#include "standardfiles.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

void openMissingStandardFiles()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free descriptor is this one: every lower one is open by now.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened < 0)
            return; // no /dev/null to be had: nothing more can be done
        if (opened != fd)
            ::close(opened); // cannot happen; never leave a stray descriptor
    }
}
