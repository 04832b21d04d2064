#pragma once
// What the tests share: a temporary folder per test, ZIP archives written with minizip's zip API,
// small file helpers that work the same on both builds.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace narvo::test {

// A fresh folder under the system's temporary folder, removed with everything in it (read-only
// files included) when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder as the core expects a destination: narrow, ending with the platform's separator.
    std::string Folder() const;
    // A narrow path for name inside the folder.
    std::string File(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// A DOS date and time as ZIP stores them (date high, time low).
std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

struct ZipEntry {
    std::string name;
    std::string data;
    bool deflate = true;
    std::uint32_t dosDateTime = DosDateTime(2021, 6, 15, 10, 30, 24);
};

// Writes a ZIP archive with the entries in order; fails the current test on error.
void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries);

std::string ReadFile(const std::string& path);

// zlib's raw deflate stream of data (no header, windowBits 9..15). flushEvery > 0 feeds data in
// pieces of that size ending alternately in a sync and a full flush, which writes empty stored
// blocks between them. strategy 0 is zlib's default.
std::string RawDeflate(const std::string& data, int level = 6, int strategy = 0,
                       int windowBits = 15, std::size_t flushEvery = 0);

void WriteFile(const std::string& path, const std::string& data);
bool Exists(const std::string& path);
bool IsReadOnly(const std::string& path);
// Makes a file writable again, so that a test may change or delete it.
void MakeWritable(const std::string& path);

// A file's last-write time as local wall-clock fields, to compare with a DOS date and time.
struct LocalTime {
    int year, month, day, hour, minute, second;
    bool operator==(const LocalTime&) const = default;
};
LocalTime LastWriteLocalTime(const std::string& path);
// Sets a file's last-write time (seconds since 1970, UTC), keeping its read-only state.
void SetLastWriteTime(const std::string& path, std::int64_t unixSeconds);
std::int64_t LastWriteTime(const std::string& path);

// Offset of an entry's data within the archive (after its local header), to damage it on purpose.
std::uint64_t EntryDataOffset(const std::string& zipPath, const std::string& entryName);
void PatchFile(const std::string& path, std::uint64_t offset, const std::string& bytes);

} // namespace narvo::test
