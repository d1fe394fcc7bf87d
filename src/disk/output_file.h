// Output files that appear whole or not at all: each is written under a temporary name in its
// destination folder and takes its final name only when the caller commits it, so a failed or
// interrupted operation leaves no partial file and an earlier file of the same name untouched.
// Implementations: output_file_posix.cpp (open with O_EXCL, writev, rename), output_file_win32.cpp
// (CreateFileA with CREATE_NEW, WriteFile, MoveFileExA).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quarrow {

// A stretch of bytes to write; a list of them is written in order, in as few calls as the
// system allows, straight from where they lie.
struct ByteSpan {
    const void* bytes;
    size_t size;
};

struct OutputFile;

// Creates a new, empty file beside final_name under a temporary name of its own
// (final_name + ".part", or + ".N.part" when that is taken). Null when it cannot be created.
OutputFile* begin_output_file(const char* final_name);

// Writes the spans in order, all or nothing as far as the caller is concerned: false when the
// system refused a write (the file is then only fit to be discarded).
bool output_write(OutputFile* file, const ByteSpan* spans, int count);
bool output_write(OutputFile* file, const void* bytes, size_t size);

// Overwrites bytes already written, at offset from the file's start, for a format whose sizes
// are known only at its end (the .mkv's); later writes still go to the end. false when the
// system refused or the range is not all written yet.
bool output_write_at(OutputFile* file, int64_t offset, const void* bytes, size_t size);

// The modification time the file gets when it is committed (seconds since 1970, UTC).
void set_output_time(OutputFile* file, int64_t unix_seconds);

// Makes what was written durable (fsync / FlushFileBuffers) before the file is committed, for
// files whose loss after a crash would cost more than the wait (backups); false on failure.
bool output_flush(OutputFile* file);

// Closes the file and gives it its final name, replacing a file of that name. On failure the
// temporary file is removed. Releases the record either way; true when the file is in place.
bool commit_output_file(OutputFile* file);

// Closes the file and removes it; a file under the final name is left as it was. Null is allowed.
void discard_output_file(OutputFile* file);

// Discards on every return path unless released to commit_output_file.
struct DiscardOutputFile {
    void operator()(OutputFile* file) const { discard_output_file(file); }
};
using OutputFilePtr = std::unique_ptr<OutputFile, DiscardOutputFile>;

}  // namespace quarrow
