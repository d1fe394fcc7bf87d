// Win32 output files: the temporary is created with CREATE_NEW so that two runs never share one,
// and MoveFileExA with MOVEFILE_REPLACE_EXISTING gives it the final name.
#include <windows.h>

#include <new>
#include <string>

#include "disk/output_file.h"
#include "disk/system_error.h"

namespace quarrow {

struct OutputFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string final_name;
    std::string temporary_name;
    int64_t time = -1;
    bool had_earlier = false;  // a file of the final name existed when the output began
    uint64_t written = 0;
};

namespace {

void close_and_remove(OutputFile* file) {
    if (file->handle != INVALID_HANDLE_VALUE) CloseHandle(file->handle);
    file->handle = INVALID_HANDLE_VALUE;
    DeleteFileA(file->temporary_name.c_str());
}

// Seconds since 1970 as a FILETIME: 100 ns units since 1601.
FILETIME file_time(int64_t unix_seconds) {
    uint64_t t = uint64_t(unix_seconds) * 10000000ull + 116444736000000000ull;
    FILETIME ft;
    ft.dwLowDateTime = DWORD(t & 0xFFFFFFFF);
    ft.dwHighDateTime = DWORD(t >> 32);
    return ft;
}

}  // namespace

OutputFile* begin_output_file(const char* final_name) {
    if (!final_name || !*final_name) return nullptr;
    // A folder of that name would refuse the rename only after all the work.
    DWORD attributes = GetFileAttributesA(final_name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        note_failure_reason(final_name, "it is a folder");
        return nullptr;
    }
    OutputFile* file = new (std::nothrow) OutputFile();
    if (!file) return nullptr;
    file->final_name = final_name;
    file->had_earlier = attributes != INVALID_FILE_ATTRIBUTES;
    for (int n = 1; n <= 100; ++n) {
        file->temporary_name = file->final_name + (n == 1 ? "" : "." + std::to_string(n)) + ".part";
        file->handle = CreateFileA(file->temporary_name.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                   nullptr, CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file->handle != INVALID_HANDLE_VALUE) return file;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    // The user named the final file; the reason is the system's for its temporary.
    note_system_failure(final_name);
    delete file;
    return nullptr;
}

bool output_write(OutputFile* file, const ByteSpan* spans, int count) {
    for (int i = 0; i < count; ++i) {
        const char* p = static_cast<const char*>(spans[i].bytes);
        size_t left = spans[i].size;
        while (left > 0) {
            DWORD chunk = left > 0x40000000 ? 0x40000000 : DWORD(left);
            DWORD written = 0;
            if (!WriteFile(file->handle, p, chunk, &written, nullptr) || written == 0) {
                note_system_failure(nullptr);
                return false;
            }
            p += written;
            left -= written;
            file->written += written;
        }
    }
    return true;
}

bool output_write(OutputFile* file, const void* bytes, size_t size) {
    ByteSpan span{bytes, size};
    return output_write(file, &span, 1);
}

bool output_write_at(OutputFile* file, int64_t offset, const void* bytes, size_t size) {
    LARGE_INTEGER end, zero, at;
    zero.QuadPart = 0;
    at.QuadPart = offset;
    if (offset < 0 || !SetFilePointerEx(file->handle, zero, &end, FILE_CURRENT) ||
        offset + int64_t(size) > end.QuadPart)
        return false;
    // The file pointer goes back to the end whatever the write did, for the writes after it.
    bool ok = SetFilePointerEx(file->handle, at, nullptr, FILE_BEGIN) != 0;
    ByteSpan span{bytes, size};
    ok = ok && output_write(file, &span, 1);
    ok = SetFilePointerEx(file->handle, end, nullptr, FILE_BEGIN) != 0 && ok;
    if (!ok) note_system_failure(nullptr);
    return ok;
}

void set_output_time(OutputFile* file, int64_t unix_seconds) {
    file->time = unix_seconds;
}

bool output_flush(OutputFile* file) {
    return file && file->handle != INVALID_HANDLE_VALUE && FlushFileBuffers(file->handle) != 0;
}

namespace {

// Sets the time asked for, then closes: false when either failed.
bool finish_and_close(OutputFile* file) {
    bool ok = true;
    if (file->time >= 0) {
        FILETIME ft = file_time(file->time);
        ok = SetFileTime(file->handle, nullptr, nullptr, &ft) != 0;
    }
    ok = CloseHandle(file->handle) != 0 && ok;
    file->handle = INVALID_HANDLE_VALUE;
    return ok;
}

}  // namespace

bool commit_output_file(OutputFile* file) {
    if (!file) return false;
    bool ok = finish_and_close(file);
    ok = ok && MoveFileExA(file->temporary_name.c_str(), file->final_name.c_str(),
                           MOVEFILE_REPLACE_EXISTING) != 0;
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
        // Without MOVEFILE_REPLACE_EXISTING the move takes the name only while it is free, so a
        // file that appeared meanwhile is not replaced either.
        finish_and_close(file);
        if (MoveFileExA(file->temporary_name.c_str(), file->final_name.c_str(), 0))
            left = OUTPUT_PARTIAL_KEPT;
        else if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS)
            left = OUTPUT_EARLIER_KEPT;
    }
    close_and_remove(file);
    delete file;
    return left;
}

}  // namespace quarrow
