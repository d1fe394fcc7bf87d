#include <sys/stat.h>

#include "disk/file_identity.h"

namespace quarrow {

// Shared with sector_access_posix.cpp, which has the descriptor of an open disk.
void identity_from_stat(const struct stat& st, FileIdentity* out) {
    out->volume = static_cast<uint64_t>(st.st_dev);
    out->index = static_cast<uint64_t>(st.st_ino);
    out->block_device = S_ISBLK(st.st_mode);
    out->regular = S_ISREG(st.st_mode);
    // Two device nodes of one drive have different inodes but the same device number.
    out->device =
        S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode) ? static_cast<uint64_t>(st.st_rdev) : 0;
    out->mode_writable = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

bool path_identity(const char* path, FileIdentity* out) {
    struct stat st;
    if (!path || !*path || stat(path, &st) != 0) return false;
    *out = FileIdentity{};
    identity_from_stat(st, out);
    return true;
}

}  // namespace quarrow
