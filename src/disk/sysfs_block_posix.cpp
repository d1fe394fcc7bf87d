// sysfs lookups for block devices (Linux); elsewhere sysfs is absent and every lookup fails.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <dirent.h>
#include <sys/sysmacros.h>
#endif

#include "disk/sysfs_block.h"

namespace quarrow {
namespace {

#if defined(__linux__)
// The device's folder under /sys/devices, through the /sys/dev/block/MAJOR:MINOR link.
bool device_dir(dev_t device, std::string* dir) {
    char link[64];
    snprintf(link, sizeof link, "/sys/dev/block/%u:%u", major(device), minor(device));
    char resolved[PATH_MAX];
    if (!realpath(link, resolved)) return false;
    *dir = resolved;
    return true;
}

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::string base_name(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> entries_of(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        names.push_back(e->d_name);
    }
    closedir(d);
    return names;
}

// "MAJOR:MINOR" of a sysfs dev file.
bool read_dev(const std::string& path, dev_t* device) {
    unsigned ma = 0, mi = 0;
    if (sscanf(sysfs_line(path).c_str(), "%u:%u", &ma, &mi) != 2) return false;
    *device = makedev(ma, mi);
    return true;
}

BlockNode node_of(const std::string& dir, dev_t device) {
    BlockNode node;
    node.name = base_name(dir);
    node.device = device;
    node.holders = entries_of(dir + "/holders");
    return node;
}
#endif

}  // namespace

std::string sysfs_line(const std::string& path) {
#if defined(__linux__)
    FILE* f = fopen(path.c_str(), "r");
    if (!f) return {};
    char line[256] = {0};
    if (!fgets(line, sizeof line, f)) line[0] = 0;
    fclose(f);
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
#else
    (void)path;
    return {};
#endif
}

std::vector<std::string> sysfs_block_names() {
#if defined(__linux__)
    return entries_of("/sys/block");
#else
    return {};
#endif
}

bool sysfs_whole_disk_name(dev_t device, char* name, size_t size) {
#if defined(__linux__)
    std::string dir;
    if (!device_dir(device, &dir)) return false;
    // A partition's folder sits inside its disk's folder and has a "partition" file.
    if (exists(dir + "/partition")) dir = dir.substr(0, dir.rfind('/'));
    std::string whole = base_name(dir);
    if (whole.empty() || whole.size() + 1 > size) return false;
    memcpy(name, whole.c_str(), whole.size() + 1);
    return true;
#else
    (void)device;
    (void)name;
    (void)size;
    return false;
#endif
}

std::vector<BlockNode> sysfs_block_nodes(dev_t device) {
    std::vector<BlockNode> nodes;
#if defined(__linux__)
    std::string dir;
    if (!device_dir(device, &dir)) return nodes;
    nodes.push_back(node_of(dir, device));
    if (exists(dir + "/partition")) return nodes;
    for (const std::string& entry : entries_of(dir)) {
        std::string sub = dir;
        sub.append("/").append(entry);
        dev_t part;
        if (!exists(sub + "/partition") || !read_dev(sub + "/dev", &part)) continue;
        nodes.push_back(node_of(sub, part));
    }
#else
    (void)device;
#endif
    return nodes;
}

}  // namespace quarrow
