// Linux: a device node that root may read but the user may not (a disk belongs to root and the
// "disk" group) fails to open with EACCES; the user is told to run the command with sudo.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "cli/cli_common.h"

namespace quarrow::cli {

bool explain_refused_drive(const char* path) {
    struct stat st;
    if (!path || stat(path, &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)))
        return false;
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    if (errno != EACCES && errno != EPERM) return false;
    std::cerr << "Permission denied opening " << path
              << ": reading a drive needs root rights. Run the command again with sudo (or as "
                 "root).\n";
    return true;
}

}  // namespace quarrow::cli
