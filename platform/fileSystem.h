#pragma once

#include "platform/dateTime.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Windows file attributes with the platform's values. Over a Wine prefix: read-only is a file without any
// write permission bit; hidden and system come from the user.DOSATTRIB extended attribute, and a name that
// starts with a dot is hidden; a link is reported as a reparse point (with the directory bit when it points
// to a folder); archive is set for every file.
inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr uint32_t FILE_ATTRIBUTE_VOLUME_LABEL = 0x8;
inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// All functions take full Windows paths (see winePath.h) and report failure by their result.
uint32_t GetFileAttributes(const std::string& path);
// Sets read-only, hidden and system as given (other bits are ignored); 0 or FILE_ATTRIBUTE_NORMAL clears
// them. A link stores none of them: clearing succeeds, setting fails, and its target is never touched.
bool SetFileAttributes(const std::string& path, uint32_t attributes);
// True for a file (or a link to one); a folder is not a file.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// Deletes a file, or a link of any kind as a link (its target is never touched).
bool DeleteFile(const std::string& path);
// Removes an empty folder, or a link to a folder as a link; never a folder that holds anything.
bool RemoveDirectory(const std::string& path);
bool CreateDirectory(const std::string& path);
// Copies the bytes of From to To (replacing To unless FailIfExists).
bool CopyFile(const std::string& from, const std::string& to, bool failIfExists);
bool MoveFile(const std::string& from, const std::string& to);

// One entry of a directory search.
struct TFindData {
    std::string Name;
    uint32_t Attributes = 0;
    uint64_t Size = 0;
    TFileTime CreationTime = 0;
    TFileTime LastAccessTime = 0;
    TFileTime LastWriteTime = 0;
};
// FindFirstFile/FindNextFile in one: the entries of the folder of Pattern whose names match its last
// component with Windows wildcards (* and ?, "*.*" matching every name, case ignored), in the order in which
// the file system lists them, "." and ".." first (when the pattern matches them) for a folder that is not a
// drive root. Names that hold a backslash cannot be Windows names and are left out, so that no caller joins
// one to its folder and reaches outside it. Empty when the folder does not exist or cannot be read.
std::vector<TFindData> FindFiles(const std::string& pattern);

struct TFileTimes {
    TFileTime Creation = 0;
    TFileTime LastAccess = 0;
    TFileTime LastWrite = 0;
};
// The times of a file or folder (UTC). Creation is the birth time where the file system keeps one, else the
// last status change.
bool GetFileTimes(const std::string& path, TFileTimes& times);

// Whether a file can be opened for reading now (it exists, is no folder, and reading is permitted).
bool CanOpenForReading(const std::string& path);
// The whole content of a regular file; false when it cannot be opened or read, or is no regular file (a
// FIFO or a device is refused at once rather than waited on).
bool ReadWholeFile(const std::string& path, std::string& content);

// A file's bytes held in one buffer of the file's size, which nothing fills before the read does (a large
// database is read once and never copied or cleared on the way). Moving it keeps the bytes in place.
class TFileBytes {
public:
    TFileBytes() = default;
    // A copy of bytes held elsewhere.
    explicit TFileBytes(std::string_view bytes);
    const char* data() const { return FData.get(); }
    size_t size() const { return FSize; }
    std::string_view View() const { return {FData.get(), FSize}; }

private:
    friend bool ReadWholeFile(const std::string& path, TFileBytes& content);
    std::unique_ptr<char[]> FData;
    size_t FSize = 0;
};
// The file's bytes as they were when it was opened (a file that grows meanwhile is read to the size it had).
bool ReadWholeFile(const std::string& path, TFileBytes& content);
// Creates or truncates Path and writes Content; false when it cannot be created or written.
bool WriteWholeFile(const std::string& path, const std::string& content);

// Replaces To with a copy of From so that To is always either its old content or the new one, whole: the
// bytes go into a temporary file beside To, which is flushed and then renamed over it. On any failure (a
// full disk, a folder that cannot be written, a locked target) To is left as it was and false is returned.
// A destination that exists keeps its permission bits (a program stays executable); a new one takes the
// source's. Like CopyFile, it refuses a destination that is a folder, read-only, hidden or the source
// itself, and gives the copy the source's last-write time and hidden and system attributes. The temporary
// files of earlier copies to To whose process has died are removed first.
bool CopyFileReplacing(const std::string& from, const std::string& to);

} // namespace platform
