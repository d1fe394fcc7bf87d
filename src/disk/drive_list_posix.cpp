// POSIX half of the drive list: the machine's drive table from sysfs, and the model name from
// the drive's ATA identity (HDIO_GET_IDENTITY), else the model that sysfs shows, else
// "[unknown]".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(__linux__)
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#endif

#include "disk/drive_list.h"
#include "disk/sysfs_block.h"

namespace quarrow {

const char DRIVE_LIST_SEPARATOR = ':';

namespace {

void put_text(char* buffer, size_t size, const char* text) {
    snprintf(buffer, size, "%s", text);
}

#if defined(__linux__)
// The whole-disk devices of the machine, the disk of the root file system first, then the others
// by name.
std::vector<std::string> system_drive_table() {
    std::vector<std::string> names;
    for (const std::string& name : sysfs_block_names()) {
        if (name.rfind("ram", 0) == 0 || name.rfind("zram", 0) == 0) continue;
        if (name.rfind("loop", 0) == 0 &&
            sysfs_line("/sys/block/" + name + "/loop/backing_file").empty())
            continue;
        // A drive without a medium (an empty CD or card reader) has size 0 and cannot be opened;
        // since the scan and the drive list end at the first drive that does not open, it would
        // hide every drive named after it.
        if (sysfs_line("/sys/block/" + name + "/size") == "0") continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    struct stat st;
    char root[64];
    if (stat("/", &st) == 0 && sysfs_whole_disk_name(st.st_dev, root, sizeof root)) {
        auto it = std::find(names.begin(), names.end(), root);
        if (it != names.end()) std::rotate(names.begin(), it, it + 1);
    }
    for (auto& n : names)
        n.insert(0, "/dev/");
    return names;
}

// libata answers HDIO_GET_IDENTITY for SATA and PATA disks with the 256 IDENTIFY words in the
// CPU's byte order; laid out little-endian they are the bytes as the drive sent them, which
// ata_text then reads like the Windows driver's copy.
bool identity_model(int fd, char* model) {
    uint16_t words[256];
    if (ioctl(fd, HDIO_GET_IDENTITY, words) != 0) return false;
    uint8_t field[40];
    for (int i = 0; i < 20; ++i) {
        uint16_t w = words[IDENTIFY_MODEL_OFFSET / 2 + i];
        field[2 * i] = static_cast<uint8_t>(w & 0xFF);
        field[2 * i + 1] = static_cast<uint8_t>(w >> 8);
    }
    ata_text(field, model);
    return model[0] != 0;
}

// SCSI, USB, NVMe and virtual disks name their model in sysfs, padded with spaces.
bool sysfs_model(dev_t device, char* model) {
    char name[64];
    if (!sysfs_whole_disk_name(device, name, sizeof name)) return false;
    std::string line = sysfs_line(std::string("/sys/block/") + name + "/device/model");
    size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos) return false;
    put_text(model, MODEL_TEXT_SIZE, line.c_str() + start);
    return true;
}
#endif

}  // namespace

bool system_drive_path(int drive, char* out, size_t out_size) {
#if defined(__linux__)
    std::vector<std::string> table = system_drive_table();
    if (drive < 0 || static_cast<size_t>(drive) >= table.size()) return false;
    if (table[drive].size() + 1 > out_size) return false;
    memcpy(out, table[drive].c_str(), table[drive].size() + 1);
    return true;
#else
    (void)drive;
    (void)out;
    (void)out_size;
    return false;
#endif
}

void drive_model_name(char* buffer, size_t size, int drive) {
    if (!buffer || size == 0) return;
    put_text(buffer, size, "[unknown]");
#if defined(__linux__)
    char path[4096];
    if (!physical_drive_path(drive, path, sizeof path)) return;
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    char model[MODEL_TEXT_SIZE] = {0};
    // A file standing for a drive (QUARROW_DRIVES) has no model to report.
    if (fstat(fd, &st) == 0 && S_ISBLK(st.st_mode)) {
        if (identity_model(fd, model) || sysfs_model(st.st_rdev, model))
            put_text(buffer, size, model);
    }
    ::close(fd);
#else
    (void)drive;
#endif
}

}  // namespace quarrow
