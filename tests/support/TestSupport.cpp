#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <unzip.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace narvo::test {

namespace {

void RemoveTree(const fs::path& root) {
    std::error_code ec;
    if (!fs::exists(root, ec)) return;
    // Read-only files and folders must become writable before they can be deleted.
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root, ec);
}

} // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::ostringstream name;
        name << "narvo-test-" << std::hex << random() << '-' << counter++;
        path_ = fs::temp_directory_path() / name.str();
        if (fs::create_directory(path_)) return;
    }
    ADD_FAILURE() << "cannot create a temporary folder";
}

TempDir::~TempDir() { RemoveTree(path_); }

std::string TempDir::Folder() const {
    std::string folder = path_.string();
#ifdef _WIN32
    folder += '\\';
#else
    folder += '/';
#endif
    return folder;
}

std::string TempDir::File(const std::string& name) const { return Folder() + name; }

std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
    const std::uint32_t date = std::uint32_t((year - 1980) << 9 | month << 5 | day);
    const std::uint32_t time = std::uint32_t(hour << 11 | minute << 5 | second / 2);
    return date << 16 | time;
}

void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr) << path;
    for (const ZipEntry& entry : entries) {
        zip_fileinfo info{};
        info.dosDate = entry.dosDateTime;
        const bool folder = !entry.name.empty() && entry.name.back() == '/';
        const int method = entry.deflate && !folder ? Z_DEFLATED : 0;
        ASSERT_EQ(zipOpenNewFileInZip64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                        nullptr, method, method ? 6 : 0, 0),
                  ZIP_OK)
            << entry.name;
        if (!entry.data.empty()) {
            ASSERT_EQ(zipWriteInFileInZip(zip, entry.data.data(), unsigned(entry.data.size())),
                      ZIP_OK);
        }
        ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), std::streamsize(data.size()));
    ASSERT_TRUE(out.good()) << path;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::path(path), ec);
}

bool IsReadOnly(const std::string& path) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
#else
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH));
#endif
}

void MakeWritable(const std::string& path) {
    std::error_code ec;
    fs::permissions(fs::path(path), fs::perms::owner_write, fs::perm_options::add, ec);
}

#ifdef _WIN32
namespace {
constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000LL;
FILETIME ToFileTime(std::int64_t unixSeconds) {
    const std::uint64_t ticks = std::uint64_t(unixSeconds * 10000000LL + kUnixEpochAsFileTime);
    return FILETIME{DWORD(ticks), DWORD(ticks >> 32)};
}
} // namespace

LocalTime LastWriteLocalTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FILETIME local;
    SYSTEMTIME st{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        !FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &st))
        return {};
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

void SetLastWriteTime(const std::string& path, std::int64_t unixSeconds) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    const FILETIME time = ToFileTime(unixSeconds);
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    SetFileAttributesA(path.c_str(), attributes);
}

std::int64_t LastWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    const std::uint64_t ticks =
        std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
    return std::int64_t((ticks - kUnixEpochAsFileTime) / 10000000ULL);
}
#else
LocalTime LastWriteLocalTime(const std::string& path) {
    struct stat st;
    struct tm tm{};
    if (stat(path.c_str(), &st) != 0 || !localtime_r(&st.st_mtime, &tm)) return {};
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void SetLastWriteTime(const std::string& path, std::int64_t unixSeconds) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(unixSeconds), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::int64_t LastWriteTime(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? std::int64_t(st.st_mtime) : -1;
}
#endif

std::uint64_t EntryDataOffset(const std::string& zipPath, const std::string& entryName) {
    unzFile zip = unzOpen64(zipPath.c_str());
    EXPECT_NE(zip, nullptr);
    if (!zip) return 0;
    std::uint64_t offset = 0;
    if (unzLocateFile(zip, entryName.c_str(), 1) == UNZ_OK && unzOpenCurrentFile(zip) == UNZ_OK) {
        offset = unzGetCurrentFileZStreamPos64(zip);
        unzCloseCurrentFile(zip);
    } else {
        ADD_FAILURE() << "no entry " << entryName;
    }
    unzClose(zip);
    return offset;
}

void PatchFile(const std::string& path, std::uint64_t offset, const std::string& bytes) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(std::streamoff(offset));
    file.write(bytes.data(), std::streamsize(bytes.size()));
    ASSERT_TRUE(file.good()) << path;
}

std::string RawDeflate(const std::string& data, int level, int strategy, int windowBits,
                       std::size_t flushEvery) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -windowBits, 8, strategy), Z_OK);
    std::string out(deflateBound(&z, uLong(data.size())) + 64 + data.size() / 64, '\0');
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    std::size_t done = 0;
    for (int piece = 0;; ++piece) {
        const std::size_t n =
            flushEvery ? std::min(flushEvery, data.size() - done) : data.size() - done;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + done));
        z.avail_in = uInt(n);
        done += n;
        const int flush = done == data.size() ? Z_FINISH : piece % 2 ? Z_FULL_FLUSH : Z_SYNC_FLUSH;
        const int rc = deflate(&z, flush);
        EXPECT_EQ(rc, flush == Z_FINISH ? Z_STREAM_END : Z_OK);
        if (flush == Z_FINISH) break;
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace narvo::test
