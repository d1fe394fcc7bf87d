#include "support/memory_disk.h"

#include <cstring>

namespace quarrow::test {
namespace {

MemoryDisk* image_of(Disk* disk) {
    return static_cast<MemoryDisk*>(disk->impl);
}

int64_t mem_read_at(Disk* disk, int64_t offset, void* buffer, uint32_t len) {
    MemoryDisk* m = image_of(disk);
    ++m->reads;
    if (m->fail_read_call && m->reads == m->fail_read_call) return -1;
    if (offset < 0) return -1;
    uint64_t end = uint64_t(offset) + len;
    if (m->short_sector >= 0) {
        uint64_t cut = uint64_t(m->short_sector) * 512;
        if (uint64_t(offset) < cut + 512 && end > cut) end = cut > uint64_t(offset) ? cut : offset;
    }
    if (end > m->bytes.size()) end = m->bytes.size();
    if (uint64_t(offset) >= end) return 0;
    memcpy(buffer, m->bytes.data() + offset, end - offset);
    return int64_t(end - offset);
}

int64_t mem_write_at(Disk* disk, int64_t offset, const void* buffer, uint32_t len) {
    MemoryDisk* m = image_of(disk);
    ++m->writes;
    if (m->read_only) return -1;
    if (m->fail_write_call && m->writes == m->fail_write_call) return -1;
    if (m->fail_writes_from && m->writes >= m->fail_writes_from) return -1;
    if (offset < 0) return -1;
    uint64_t end = uint64_t(offset) + len;
    if (end > m->bytes.size()) m->bytes.resize(end);
    memcpy(m->bytes.data() + offset, buffer, len);
    m->write_log.emplace_back(offset, len);
    return len;
}

bool mem_size_bytes(Disk* disk, uint64_t* bytes) {
    *bytes = image_of(disk)->bytes.size();
    return true;
}

bool mem_geometry(Disk* disk, uint32_t* sector_size, uint64_t* bytes) {
    MemoryDisk* m = image_of(disk);
    if (m->sector_size == 0) return false;
    *sector_size = m->sector_size;
    *bytes = m->bytes.size();
    return true;
}

void mem_close(Disk* disk) {
    delete disk;
}

}  // namespace

DiskHandle open_memory_disk(MemoryDisk* image) {
    auto* disk = new Disk{};
    disk->read_at = mem_read_at;
    disk->write_at = mem_write_at;
    disk->size_bytes = mem_size_bytes;
    disk->geometry = mem_geometry;
    disk->close = mem_close;
    disk->impl = image;
    disk->writable = !image->read_only;
    return disk;
}

}  // namespace quarrow::test
