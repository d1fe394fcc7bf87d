// POSIX half of the drive list: the model name from the drive's ATA identity
// (HDIO_GET_IDENTITY), else the model that sysfs shows, else "[unknown]".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#if defined(__linux__)
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#endif

#include "disk/drive_list.h"
#include "disk/sysfs_block.h"

namespace quarrow {
namespace {

void put_text(char* buffer, size_t size, const char* text) {
    snprintf(buffer, size, "%s", text);
}

#if defined(__linux__)
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
    char path[160];
    snprintf(path, sizeof path, "/sys/block/%s/device/model", name);
    FILE* f = fopen(path, "r");
    if (!f) return false;
    char line[128] = {0};
    bool got = fgets(line, sizeof line, f) != nullptr;
    fclose(f);
    if (!got) return false;
    size_t len = strlen(line);
    while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == ' '))
        --len;
    size_t start = 0;
    while (start < len && line[start] == ' ')
        ++start;
    if (len - start > MODEL_TEXT_SIZE - 1) len = start + MODEL_TEXT_SIZE - 1;
    memcpy(model, line + start, len - start);
    model[len - start] = 0;
    return model[0] != 0;
}
#endif

}  // namespace

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
