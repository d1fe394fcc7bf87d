#include "support/memory_disk.h"

#include <cstring>

namespace quarrow::test {
namespace {

MemoryDisk* image_of(Disk* disk) {
    return static_cast<MemoryDisk*>(disk->impl);
}

// Where a read of [offset, end) stops at failing sectors: end when it touches none, else the
// start of the first failing sector it touches. Spends one failure of each weak run it touches.
uint64_t failing_cut(MemoryDisk* m, uint64_t offset, uint64_t end) {
    uint64_t cut = end;
    for (FailingSectors& f : m->failing) {
        if (f.times == 0) continue;
        uint64_t a = uint64_t(f.first) * 512, b = uint64_t(f.first + f.count) * 512;
        if (offset >= b || end <= a) continue;
        if (f.times > 0) --f.times;
        uint64_t start = a > offset ? a : offset;
        if (start < cut) cut = start;
    }
    return cut;
}

int64_t mem_read_at(Disk* disk, int64_t offset, void* buffer, uint32_t len) {
    MemoryDisk* m = image_of(disk);
    ++m->reads;
    m->read_log.emplace_back(offset, len);
    if (m->fail_read_call && m->reads == m->fail_read_call) return -1;
    if (offset < 0) return -1;
    uint64_t end = uint64_t(offset) + len;
    if (!m->failing.empty()) {
        uint64_t stop = end < m->bytes.size() ? end : m->bytes.size();
        uint64_t cut = stop > uint64_t(offset) ? failing_cut(m, offset, stop) : stop;
        if (cut < stop) {
            if (!m->deliver_before_failing || cut == uint64_t(offset)) return -1;
            end = cut;
        }
    }
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
    if (m->crash_after_write && m->writes > m->crash_after_write) return len;
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

bool mem_close(Disk* disk) {
    bool ok = !image_of(disk)->fail_close;
    delete disk;
    return ok;
}

bool mem_flush(Disk* disk) {
    MemoryDisk* m = image_of(disk);
    ++m->flushes;
    return !m->fail_flush;
}

}  // namespace

DiskHandle open_memory_disk(MemoryDisk* image) {
    auto* disk = new Disk{};
    disk->read_at = mem_read_at;
    disk->write_at = mem_write_at;
    disk->size_bytes = mem_size_bytes;
    disk->geometry = mem_geometry;
    disk->close = mem_close;
    disk->flush = mem_flush;
    disk->impl = image;
    disk->writable = !image->read_only;
    return disk;
}

}  // namespace quarrow::test
