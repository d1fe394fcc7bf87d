// Linux block devices as sysfs describes them: the whole disks, which whole disk a device number
// belongs to, its partitions, what holds them, and their one-line attribute files. Used by the
// POSIX drive table and drive list and by the erase's in-use checks. Elsewhere sysfs is absent and
// every lookup fails.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace quarrow {

// The /sys/block name of the whole disk that device (a disk or one of its partitions) belongs
// to, such as "sda" for 8:1; false when sysfs does not know the device.
bool sysfs_whole_disk_name(dev_t device, char* name, size_t size);

// The names in /sys/block ("sda", "loop0", ...), in the order sysfs gives them.
std::vector<std::string> sysfs_block_names();

// The first line of a one-line sysfs file such as "/sys/block/sda/size", without its line end
// and trailing spaces; empty when the file cannot be read.
std::string sysfs_line(const std::string& path);

// One block device of a drive: the drive itself or one of its partitions.
struct BlockNode {
    std::string name;  // sysfs name ("sda1")
    dev_t device;
    std::vector<std::string> holders;  // devices stacked on it (device mapper, md, ...)
};

// The device itself and, for a whole disk, each of its partitions; empty when sysfs does not
// know the device.
std::vector<BlockNode> sysfs_block_nodes(dev_t device);

}  // namespace quarrow
