#include "support/temp_files.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace quarrow::test {

TempDir::TempDir() {
    static std::atomic<unsigned> serial{0};
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = ".";
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path p = base / ("quarrow-test-" + std::to_string(stamp) + "-" +
                             std::to_string(serial++) + "-" + std::to_string(attempt));
        if (fs::create_directory(p, ec)) {
            path = p.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    if (path.empty()) return;
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::string TempDir::file(const std::string& name) const {
    return (fs::path(path) / name).string();
}

namespace {

void set_env(const std::string& name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), value ? value : "");
#else
    if (value)
        setenv(name.c_str(), value, 1);
    else
        unsetenv(name.c_str());
#endif
}

}  // namespace

ScopedEnv::ScopedEnv(const char* n, const char* value) : name(n) {
    if (const char* v = getenv(n)) {
        had = true;
        old = v;
    }
#if defined(_WIN32)
    // Setting "" removes the variable on Windows; for the drive table that would mean the
    // machine's real drives.
    std::string none = no_drives();
    if (name == "QUARROW_DRIVES" && value && !*value) value = none.c_str();
#endif
    set_env(name, value);
}

ScopedEnv::~ScopedEnv() {
    set_env(name, had ? old.c_str() : nullptr);
}

std::string process_tag() {
#if defined(_WIN32)
    return std::to_string(_getpid());
#else
    return std::to_string(getpid());
#endif
}

char drive_list_separator() {
#if defined(_WIN32)
    return ';';
#else
    return ':';
#endif
}

std::string no_drives() {
    return std::string(1, drive_list_separator());
}

std::string drive_list(const std::vector<std::string>& paths) {
    if (paths.empty()) return no_drives();
    std::string list;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (i) list += drive_list_separator();
        list += paths[i];
    }
    return list;
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

bool resize_file(const std::string& path, uint64_t size) {
    std::error_code ec;
    fs::resize_file(path, size, ec);
    return !ec;
}

int64_t file_size(const std::string& path) {
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    return ec ? -1 : int64_t(size);
}

std::vector<uint8_t> read_file_at(const std::string& path, uint64_t offset, size_t len) {
    std::vector<uint8_t> bytes(len);
    std::ifstream in(path, std::ios::binary);
    in.seekg(std::streamoff(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(len));
    bytes.resize(size_t(in ? len : size_t(in.gcount())));
    return bytes;
}

}  // namespace quarrow::test
