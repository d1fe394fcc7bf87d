// The one rule for every output file (extraction, backup, dump, rescue map, metadata): each is
// written under a temporary name beside its final name and takes the final name when complete.
// An output that cannot be completed (a read that fails, a full drive, Ctrl-C) ends by
// end_output_file: what was written is kept under the final name only where no file of that
// name existed, otherwise the earlier file stays byte-identical. A good file is never replaced
// by less.
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

// What end_output_file left under the final name.
enum OutputLeft {
    OUTPUT_NOTHING,       // nothing was written and no file of the name existed
    OUTPUT_PARTIAL_KEPT,  // what was written, under the final name
    OUTPUT_EARLIER_KEPT,  // a file of the name existed before: it stays as it was
};

// Ends an output that could not be completed. When bytes were written and no file of the final
// name existed when the output began (nor does now: the name is taken without replacing), they
// take the final name, for an image cut short or a disk failing in a recording's last minutes
// that part is what the user wanted; otherwise the temporary is removed. Releases the record.
OutputLeft end_output_file(OutputFile* file);

// Discards on every return path unless released to commit_output_file.
struct DiscardOutputFile {
    void operator()(OutputFile* file) const { discard_output_file(file); }
};
using OutputFilePtr = std::unique_ptr<OutputFile, DiscardOutputFile>;

}  // namespace quarrow
