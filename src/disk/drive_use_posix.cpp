// POSIX half of the drive claim. A drive is in use when one of its block devices (the disk or a
// partition) is mounted, is swap space, or has another device stacked on it (LVM, RAID, crypt);
// Linux then also refuses an exclusive open, which the claim holds for the whole erase.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "disk/drive_use.h"
#include "disk/sector_access.h"
#include "disk/sysfs_block.h"

namespace quarrow {
namespace {

// Mount and swap tables escape spaces, tabs, newlines and backslashes as \ooo.
std::string unescape(const char* field) {
    std::string out;
    for (const char* p = field; *p; ++p) {
        if (p[0] == '\\' && p[1] >= '0' && p[1] <= '7' && p[2] >= '0' && p[2] <= '7' &&
            p[3] >= '0' && p[3] <= '7') {
            out += static_cast<char>((p[1] - '0') * 64 + (p[2] - '0') * 8 + (p[3] - '0'));
            p += 3;
        } else {
            out += *p;
        }
    }
    return out;
}

const BlockNode* node_for(const std::vector<BlockNode>& nodes, dev_t device) {
    for (const BlockNode& n : nodes)
        if (n.device == device) return &n;
    return nullptr;
}

// The node a path stands for, when it is one of the drive's block devices.
const BlockNode* node_at(const std::vector<BlockNode>& nodes, const std::string& path) {
    struct stat st;
    if (path.empty() || path[0] != '/' || stat(path.c_str(), &st) != 0) return nullptr;
    if (!S_ISBLK(st.st_mode)) return nullptr;
    return node_for(nodes, st.st_rdev);
}

bool mounted(int drive, const std::vector<BlockNode>& nodes, char* message) {
    FILE* f = fopen("/proc/self/mounts", "r");
    if (!f) return false;
    char line[4096];
    bool found = false;
    while (!found && fgets(line, sizeof line, f)) {
        char source[2048], target[2048];
        if (sscanf(line, "%2047s %2047s", source, target) != 2) continue;
        std::string from = unescape(source), on = unescape(target);
        const BlockNode* node = node_at(nodes, from);
        // The root file system may be shown under a name with no device node ("/dev/root"):
        // the device of the mount point itself tells.
        if (!node && from.rfind("/dev/", 0) == 0) {
            struct stat st;
            if (stat(on.c_str(), &st) == 0) node = node_for(nodes, st.st_dev);
        }
        if (node) {
            put_message(message,
                        "Drive %d is in use: /dev/%s is mounted on %s. Nothing was erased.", drive,
                        node->name.c_str(), on.c_str());
            found = true;
        }
    }
    fclose(f);
    return found;
}

bool swap_space(int drive, const std::vector<BlockNode>& nodes, char* message) {
    FILE* f = fopen("/proc/swaps", "r");
    if (!f) return false;
    char line[4096];
    bool found = false;
    while (!found && fgets(line, sizeof line, f)) {
        char name[2048];
        if (sscanf(line, "%2047s", name) != 1) continue;
        if (const BlockNode* node = node_at(nodes, unescape(name))) {
            put_message(message, "Drive %d is in use: /dev/%s is swap space. Nothing was erased.",
                        drive, node->name.c_str());
            found = true;
        }
    }
    fclose(f);
    return found;
}

bool held(int drive, const std::vector<BlockNode>& nodes, char* message) {
    for (const BlockNode& n : nodes) {
        if (n.holders.empty()) continue;
        put_message(message, "Drive %d is in use: /dev/%s is held by %s. Nothing was erased.",
                    drive, n.name.c_str(), n.holders[0].c_str());
        return true;
    }
    return false;
}

}  // namespace

bool claim_drive(int drive, const char* path, DriveClaim* claim, char* message) {
    claim->token = -1;
    struct stat st;
    if (!path || stat(path, &st) != 0) {
        put_message(message, "Could not open drive %d. Nothing was erased.", drive);
        return false;
    }
    if (S_ISBLK(st.st_mode)) {
        std::vector<BlockNode> nodes = sysfs_block_nodes(st.st_rdev);
        if (mounted(drive, nodes, message) || swap_space(drive, nodes, message) ||
            held(drive, nodes, message))
            return false;
    }
    // On Linux an exclusive open of a block device fails with EBUSY while the device or one of
    // its partitions is mounted or claimed, and keeps anyone else from claiming it while held.
    int flags = O_RDONLY | O_CLOEXEC | (S_ISBLK(st.st_mode) ? O_EXCL : 0);
    int fd = ::open(path, flags);
    if (fd < 0) {
        if (errno == EBUSY)
            put_message(message, "Drive %d is in use by the system. Nothing was erased.", drive);
        else
            put_message(message, "Could not open drive %d: %s. Nothing was erased.", drive,
                        strerror(errno));
        return false;
    }
    claim->token = fd;
    return true;
}

bool release_drive_claim(DriveClaim* claim) {
    if (claim->token < 0) return true;
    int fd = static_cast<int>(claim->token);
    claim->token = -1;
    // The erase wrote through another descriptor of the same device or file; syncing this one
    // pushes those writes out and reports a failure that the write calls could not see.
    bool ok = fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace quarrow
