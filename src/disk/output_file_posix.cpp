// POSIX output files: the temporary is opened with O_EXCL so that two runs never share one,
// written with writev, and renamed over the final name, which replaces it in one step.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "disk/output_file.h"
#include "disk/system_error.h"

namespace quarrow {

struct OutputFile {
    int fd = -1;
    std::string final_name;
    std::string temporary_name;
    int64_t time = -1;
    bool had_earlier = false;  // a file of the final name existed when the output began
    uint64_t written = 0;
};

namespace {

#if defined(IOV_MAX)
constexpr int MAX_SPANS = IOV_MAX;
#else
constexpr int MAX_SPANS = 1024;
#endif

void close_and_remove(OutputFile* file) {
    if (file->fd >= 0) ::close(file->fd);
    file->fd = -1;
    ::unlink(file->temporary_name.c_str());
}

}  // namespace

OutputFile* begin_output_file(const char* final_name) {
    if (!final_name || !*final_name) return nullptr;
    // A folder of that name would refuse the rename only after all the work.
    struct stat st;
    if (::stat(final_name, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        note_system_failure(final_name);
        return nullptr;
    }
    OutputFile* file = new (std::nothrow) OutputFile();
    if (!file) return nullptr;
    file->final_name = final_name;
    file->had_earlier = ::lstat(final_name, &st) == 0;
    for (int n = 1; n <= 100; ++n) {
        file->temporary_name = file->final_name + (n == 1 ? "" : "." + std::to_string(n)) + ".part";
        file->fd =
            ::open(file->temporary_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (file->fd >= 0) return file;
        if (errno != EEXIST) break;
    }
    // The user named the final file; the reason is the system's for its temporary.
    note_system_failure(final_name);
    delete file;
    return nullptr;
}

bool output_write(OutputFile* file, const ByteSpan* spans, int count) {
    // As many pieces as one call takes: the muxer hands over a thousand (headers between video).
    iovec iov[MAX_SPANS < 1024 ? MAX_SPANS : 1024];
    int next = 0;
    size_t done_in_first = 0;  // bytes of spans[next] already written
    while (next < count) {
        int n = 0;
        for (int i = next; i < count && n < int(sizeof iov / sizeof iov[0]); ++i) {
            size_t skip = i == next ? done_in_first : 0;
            if (spans[i].size == skip) continue;
            iov[n].iov_base = const_cast<char*>(static_cast<const char*>(spans[i].bytes) + skip);
            iov[n].iov_len = spans[i].size - skip;
            ++n;
        }
        if (n == 0) return true;
        ssize_t written = ::writev(file->fd, iov, n);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = ENOSPC;  // nothing taken and no error: the device is full
            note_system_failure(nullptr);
            return false;
        }
        file->written += uint64_t(written);
        // Step over what was written; a short write resumes inside a span.
        size_t left = size_t(written);
        while (next < count && left >= spans[next].size - done_in_first) {
            left -= spans[next].size - done_in_first;
            done_in_first = 0;
            ++next;
        }
        done_in_first += left;
    }
    return true;
}

bool output_write(OutputFile* file, const void* bytes, size_t size) {
    ByteSpan span{bytes, size};
    return output_write(file, &span, 1);
}

bool output_write_at(OutputFile* file, int64_t offset, const void* bytes, size_t size) {
    struct stat st;
    if (offset < 0 || ::fstat(file->fd, &st) != 0 || offset + int64_t(size) > int64_t(st.st_size))
        return false;
    const char* p = static_cast<const char*>(bytes);
    while (size > 0) {
        ssize_t n = ::pwrite(file->fd, p, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            note_system_failure(nullptr);
            return false;
        }
        p += n;
        offset += n;
        size -= size_t(n);
    }
    return true;
}

void set_output_time(OutputFile* file, int64_t unix_seconds) {
    file->time = unix_seconds;
}

bool output_flush(OutputFile* file) {
    if (!file || file->fd < 0) return false;
    while (::fsync(file->fd) != 0)
        if (errno != EINTR) return false;
    return true;
}

namespace {

// Sets the time asked for, then closes: false when either failed. close reports a write that the
// file system could not complete (a full disk over NFS).
bool finish_and_close(OutputFile* file) {
    bool ok = true;
    if (file->time >= 0) {
        timeval times[2];
        times[0].tv_sec = times[1].tv_sec = time_t(file->time);
        times[0].tv_usec = times[1].tv_usec = 0;
        ok = ::futimes(file->fd, times) == 0;
    }
    ok = ::close(file->fd) == 0 && ok;
    file->fd = -1;
    return ok;
}

}  // namespace

bool commit_output_file(OutputFile* file) {
    if (!file) return false;
    bool ok = finish_and_close(file);
    ok = ok && ::rename(file->temporary_name.c_str(), file->final_name.c_str()) == 0;
    if (!ok) {
        note_system_failure(file->final_name.c_str());
        close_and_remove(file);
    }
    delete file;
    return ok;
}

void discard_output_file(OutputFile* file) {
    if (!file) return;
    close_and_remove(file);
    delete file;
}

OutputLeft end_output_file(OutputFile* file) {
    if (!file) return OUTPUT_NOTHING;
    OutputLeft left = file->had_earlier ? OUTPUT_EARLIER_KEPT : OUTPUT_NOTHING;
    if (file->written > 0 && !file->had_earlier) {
        // What reached the file is kept even when the close reports a late failure: it is all
        // there is. link() takes the name only while it is free, so a file that appeared
        // meanwhile is not replaced either.
        finish_and_close(file);
        if (::link(file->temporary_name.c_str(), file->final_name.c_str()) == 0)
            left = OUTPUT_PARTIAL_KEPT;
        else if (errno == EEXIST)
            left = OUTPUT_EARLIER_KEPT;
        else {
            // File systems without hard links (FAT, some network shares): the name is asked
            // first, then taken by rename.
            struct stat st;
            if (::lstat(file->final_name.c_str(), &st) != 0 &&
                ::rename(file->temporary_name.c_str(), file->final_name.c_str()) == 0)
                left = OUTPUT_PARTIAL_KEPT;
        }
    }
    close_and_remove(file);
    delete file;
    return left;
}

}  // namespace quarrow
