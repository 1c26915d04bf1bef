#include "platform/fileSystem.h"

#include "platform/fileDescriptor.h"
#include "platform/winePath.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

constexpr const char* DosAttributeName = "user.DOSATTRIB";
constexpr uint32_t DosStoredBits = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr mode_t AnyWriteBit = S_IWUSR | S_IWGRP | S_IWOTH;

TFileTime ToFileTime(const statx_timestamp& time) {
    return UnixTimeToFileTime(time.tv_sec, time.tv_nsec);
}

// statx of Name in the folder DirFd (AT_FDCWD: Name is a path); FollowLink chooses between the link's own
// status and its target's.
bool StatAt(int dirFd, const char* name, bool followLink, struct statx& info) {
    int flags = followLink ? 0 : AT_SYMLINK_NOFOLLOW;
    unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    if (statx(dirFd, name, flags, mask, &info) == 0)
        return true;
    if (errno != ENOSYS)
        return false;
    struct stat old {};
    if (fstatat(dirFd, name, &old, flags) != 0)
        return false;
    info = {};
    info.stx_mask = STATX_BASIC_STATS;
    info.stx_mode = static_cast<uint16_t>(old.st_mode);
    info.stx_size = static_cast<uint64_t>(old.st_size);
    info.stx_ino = old.st_ino;
    info.stx_atime = {old.st_atim.tv_sec, static_cast<uint32_t>(old.st_atim.tv_nsec), 0};
    info.stx_mtime = {old.st_mtim.tv_sec, static_cast<uint32_t>(old.st_mtim.tv_nsec), 0};
    info.stx_ctime = {old.st_ctim.tv_sec, static_cast<uint32_t>(old.st_ctim.tv_nsec), 0};
    return true;
}

bool StatPath(const fs::path& path, bool followLink, struct statx& info) {
    return StatAt(AT_FDCWD, path.c_str(), followLink, info);
}

TFileTimes TimesOf(const struct statx& info) {
    TFileTimes times;
    times.Creation =
        (info.stx_mask & STATX_BTIME) != 0 ? ToFileTime(info.stx_btime) : ToFileTime(info.stx_ctime);
    times.LastAccess = ToFileTime(info.stx_atime);
    times.LastWrite = ToFileTime(info.stx_mtime);
    return times;
}

// The hidden and system bits that Wine keeps in user.DOSATTRIB as hexadecimal text ("0x6").
uint32_t ReadDosBits(const fs::path& path) {
    char value[64] = {};
    ssize_t length = lgetxattr(path.c_str(), DosAttributeName, value, sizeof(value) - 1);
    if (length < 3 || value[0] != '0' || (value[1] != 'x' && value[1] != 'X'))
        return 0;
    value[length] = '\0';
    unsigned long bits = std::strtoul(value + 2, nullptr, 16);
    return static_cast<uint32_t>(bits) & DosStoredBits;
}

bool IsDotName(const fs::path& path) {
    std::string name = path.filename().string();
    return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

bool IsReadOnlyMode(mode_t mode) {
    return (mode & AnyWriteBit) == 0;
}

// The attributes of Name in the folder DirFd, which is Path (AT_FDCWD: Name is Path).
uint32_t AttributesOf(int dirFd, const char* name, const fs::path& path, const struct statx& info) {
    uint32_t attributes = 0;
    mode_t mode = info.stx_mode;
    if (S_ISLNK(mode)) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        struct stat target {};
        if (fstatat(dirFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode))
            attributes |= FILE_ATTRIBUTE_DIRECTORY;
        else
            attributes |= FILE_ATTRIBUTE_ARCHIVE;
    } else {
        attributes |= S_ISDIR(mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
        if (IsReadOnlyMode(mode))
            attributes |= FILE_ATTRIBUTE_READONLY;
        attributes |= ReadDosBits(path);
    }
    if (IsDotName(path))
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes;
}

std::optional<fs::path> Resolve(const std::string& path) {
    return ResolvePath(path);
}

// Forgets the listings of what a change touched once the change is made, however the function returns, so
// that the lookups after it (in a lookup scope too) see it.
class TChangeNote {
public:
    explicit TChangeNote(const std::optional<fs::path>& changed, bool below = false)
        : FChanged(changed), FBelow(below) {}
    ~TChangeNote() {
        if (FChanged)
            ForgetListings(*FChanged, FBelow);
    }
    TChangeNote(const TChangeNote&) = delete;
    TChangeNote& operator=(const TChangeNote&) = delete;

private:
    const std::optional<fs::path>& FChanged;
    bool FBelow;
};

// Windows wildcard matching of one name: '*' any run of characters, '?' one character, case ignored for
// the ASCII letters.
bool MatchWildcard(const char* mask, const char* name) {
    const char* starMask = nullptr;
    const char* starName = nullptr;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    while (*name != '\0') {
        if (*mask == '*') {
            starMask = ++mask;
            starName = name;
        } else if (*mask == '?' || (*mask != '\0' && lower(*mask) == lower(*name))) {
            ++mask;
            ++name;
        } else if (starMask != nullptr) {
            mask = starMask;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*mask == '*')
        ++mask;
    return *mask == '\0';
}

// The DOS forms on top of plain wildcards: a mask ending in ".*" also matches the name without any
// extension ("*.*" matches every name, "readme.*" matches "readme"), and a mask ending in "." matches only
// names without a dot ("*." lists the names that have no extension).
bool MatchFileMask(const std::string& mask, const std::string& name) {
    if (MatchWildcard(mask.c_str(), name.c_str()))
        return true;
    if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0) {
        std::string stem = mask.substr(0, mask.size() - 2);
        return name.find('.') == std::string::npos && MatchWildcard(stem.c_str(), name.c_str());
    }
    if (mask.size() >= 2 && mask.back() == '.' && name.find('.') == std::string::npos) {
        std::string stem = mask.substr(0, mask.find_last_not_of('.') + 1);
        return MatchWildcard(stem.c_str(), name.c_str());
    }
    return false;
}

bool IsDriveRoot(const fs::path& folder) {
    std::string windowsPath = ToWindowsPath(folder);
    return windowsPath.size() == 3 && windowsPath.compare(1, 2, ":\\") == 0;
}

TFindData FindDataOf(int dirFd, const fs::path& path, const std::string& name) {
    TFindData data;
    data.Name = name;
    struct statx info {};
    if (!StatAt(dirFd, name.c_str(), false, info))
        return data;
    data.Attributes = AttributesOf(dirFd, name.c_str(), path, info);
    // A link is listed as itself: its own times, and no size (the target's bytes are not its own).
    if (!S_ISLNK(info.stx_mode) && !S_ISDIR(info.stx_mode))
        data.Size = info.stx_size;
    TFileTimes times = TimesOf(info);
    data.CreationTime = times.Creation;
    data.LastAccessTime = times.LastAccess;
    data.LastWriteTime = times.LastWrite;
    return data;
}

// Gives the open copy the source's hidden and system attribute and its access and last-write times.
bool CopyDosAttributeAndTimes(const fs::path& source, const struct stat& sourceInfo, int copyFd) {
    char dosValue[64] = {};
    ssize_t dosLength = getxattr(source.c_str(), DosAttributeName, dosValue, sizeof(dosValue));
    if (dosLength > 0)
        fsetxattr(copyFd, DosAttributeName, dosValue, static_cast<size_t>(dosLength), 0);
    const timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
    return futimens(copyFd, times) == 0;
}

// Copies the bytes, permission bits, hidden/system attribute and last-write time of an open source file
// into Destination, which must be writable.
bool CopyOpenFile(int sourceFd, const struct stat& sourceInfo, const fs::path& source,
                  const fs::path& destination, bool failIfExists, bool& created) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
    TFileDescriptor out(open(destination.c_str(), flags, 0666));
    created = out.Valid() && failIfExists;
    if (!out.Valid())
        return false;
    if (!CopyAll(sourceFd, out.Get()))
        return false;
    CopyDosAttributeAndTimes(source, sourceInfo, out.Get());
    fchmod(out.Get(), sourceInfo.st_mode & 07777);
    return out.Close();
}

// Removes the temporary files that ReplaceFileAtomically made with Prefix in the folder for writers that
// died before their rename (their names carry the writer's process number); a live writer's are kept.
void RemoveDeadWritersFiles(int folderFd, const std::string& prefix) {
    int listing = dup(folderFd);
    std::unique_ptr<DIR, int (*)(DIR*)> directory(listing >= 0 ? fdopendir(listing) : nullptr, closedir);
    if (!directory) {
        if (listing >= 0)
            close(listing);
        return;
    }
    std::vector<std::string> dead;
    while (const dirent* entry = readdir(directory.get())) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        char* end = nullptr;
        const long writer = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (writer > 0 && *end == '-' && kill(static_cast<pid_t>(writer), 0) != 0 && errno == ESRCH)
            dead.push_back(name);
    }
    for (const std::string& name : dead)
        unlinkat(folderFd, name.c_str(), 0);
}

} // namespace

uint32_t GetFileAttributes(const std::string& path) {
    std::optional<fs::path> resolved = Resolve(path);
    struct statx info {};
    if (!resolved || !StatPath(*resolved, false, info))
        return INVALID_FILE_ATTRIBUTES;
    return AttributesOf(AT_FDCWD, resolved->c_str(), *resolved, info);
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
    std::optional<fs::path> resolved = Resolve(path);
    struct stat info {};
    if (!resolved || lstat(resolved->c_str(), &info) != 0)
        return false;
    if (attributes == FILE_ATTRIBUTE_NORMAL)
        attributes = 0;
    // A link has no attributes of its own to keep, and changing its target's would reach outside the link.
    if (S_ISLNK(info.st_mode))
        return (attributes & (FILE_ATTRIBUTE_READONLY | DosStoredBits)) == 0;

    bool wantReadOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (wantReadOnly != IsReadOnlyMode(info.st_mode)) {
        mode_t mode = info.st_mode & 07777;
        mode = wantReadOnly ? (mode & ~AnyWriteBit) : (mode | S_IWUSR);
        if (chmod(resolved->c_str(), mode) != 0)
            return false;
    }

    uint32_t wantDos = attributes & DosStoredBits;
    if (wantDos != ReadDosBits(*resolved)) {
        int result = 0;
        if (wantDos == 0) {
            result = removexattr(resolved->c_str(), DosAttributeName);
            if (result != 0 && errno == ENODATA)
                result = 0;
        } else {
            char value[16] = {};
            int length = std::snprintf(value, sizeof(value), "0x%x", static_cast<unsigned>(wantDos));
            result = setxattr(resolved->c_str(), DosAttributeName, value, static_cast<size_t>(length), 0);
        }
        // A file system without extended attributes keeps no hidden or system bits: that is no failure.
        if (result != 0 && errno != ENOTSUP)
            return false;
    }
    return true;
}

bool FileExists(const std::string& path) {
    return EntryKindAt(path) == TEntryKind::File;
}

bool DirectoryExists(const std::string& path) {
    return EntryKindAt(path) == TEntryKind::Folder;
}

bool DeleteFile(const std::string& path) {
    std::optional<fs::path> resolved = Resolve(path);
    TChangeNote note(resolved);
    struct stat info {};
    if (!resolved || lstat(resolved->c_str(), &info) != 0)
        return false;
    if (!S_ISLNK(info.st_mode)) {
        if (S_ISDIR(info.st_mode))
            return false;
        // As on Windows, a read-only file stays until its attribute is cleared (root would delete it).
        if (IsReadOnlyMode(info.st_mode))
            return false;
    }
    return unlink(resolved->c_str()) == 0;
}

bool RemoveDirectory(const std::string& path) {
    std::optional<fs::path> resolved = Resolve(path);
    TChangeNote note(resolved, true);
    struct stat info {};
    if (!resolved || lstat(resolved->c_str(), &info) != 0)
        return false;
    if (S_ISLNK(info.st_mode)) {
        struct stat target {};
        if (stat(resolved->c_str(), &target) != 0 || !S_ISDIR(target.st_mode))
            return false;
        return unlink(resolved->c_str()) == 0;
    }
    return S_ISDIR(info.st_mode) && rmdir(resolved->c_str()) == 0;
}

bool CreateDirectory(const std::string& path) {
    std::optional<fs::path> resolved = Resolve(path);
    TChangeNote note(resolved);
    return resolved && mkdir(resolved->c_str(), 0777) == 0;
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
    std::optional<fs::path> source = Resolve(from);
    std::optional<fs::path> destination = Resolve(to);
    TChangeNote note(destination);
    if (!source || !destination)
        return false;
    TFileDescriptor in(open(source->c_str(), O_RDONLY | O_CLOEXEC));
    struct stat sourceInfo {};
    if (!in.Valid() || fstat(in.Get(), &sourceInfo) != 0 || S_ISDIR(sourceInfo.st_mode))
        return false;
    struct stat destinationInfo {};
    if (stat(destination->c_str(), &destinationInfo) == 0) {
        if (failIfExists || S_ISDIR(destinationInfo.st_mode) || IsReadOnlyMode(destinationInfo.st_mode))
            return false;
        // As on Windows, a hidden destination is not replaced either.
        if ((GetFileAttributes(to) & FILE_ATTRIBUTE_HIDDEN) != 0)
            return false;
        // Truncating the destination would empty the source when both are the same file.
        if (destinationInfo.st_dev == sourceInfo.st_dev && destinationInfo.st_ino == sourceInfo.st_ino)
            return false;
    }
    bool created = false;
    return CopyOpenFile(in.Get(), sourceInfo, *source, *destination, failIfExists, created);
}

bool MoveFile(const std::string& from, const std::string& to) {
    std::optional<fs::path> source = Resolve(from);
    std::optional<fs::path> destination = Resolve(to);
    TChangeNote sourceNote(source, true);
    TChangeNote destinationNote(destination);
    struct stat sourceInfo {};
    if (!source || !destination || lstat(source->c_str(), &sourceInfo) != 0)
        return false;
    if (renameat2(AT_FDCWD, source->c_str(), AT_FDCWD, destination->c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EINVAL || errno == ENOSYS) {
        // A file system that cannot rename without replacing: check first, then rename.
        struct stat existing {};
        if (lstat(destination->c_str(), &existing) == 0)
            return false;
        return rename(source->c_str(), destination->c_str()) == 0;
    }
    if (errno != EXDEV || !S_ISREG(sourceInfo.st_mode))
        return false;
    // Another file system: a file moves as a copy and a deletion, as Windows moves it between volumes.
    TFileDescriptor in(open(source->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    bool created = false;
    if (!in.Valid() || !CopyOpenFile(in.Get(), sourceInfo, *source, *destination, true, created)) {
        if (created)
            unlink(destination->c_str());
        return false;
    }
    if (unlink(source->c_str()) != 0) {
        unlink(destination->c_str());
        return false;
    }
    return true;
}

std::vector<TFindData> FindFiles(const std::string& pattern) {
    std::vector<TFindData> found;
    size_t cut = pattern.find_last_of("\\/");
    if (cut == std::string::npos)
        cut = pattern.find(':');
    if (cut == std::string::npos || cut + 1 >= pattern.size())
        return found;
    std::string mask = pattern.substr(cut + 1);
    std::optional<fs::path> folder = Resolve(pattern.substr(0, cut + 1));
    if (!folder)
        return found;
    std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(folder->c_str()), closedir);
    if (!directory)
        return found;
    if (!IsDriveRoot(*folder)) {
        if (MatchFileMask(mask, "."))
            found.push_back(FindDataOf(dirfd(directory.get()), *folder, "."));
        if (MatchFileMask(mask, ".."))
            found.push_back(FindDataOf(dirfd(directory.get()), *folder / "..", ".."));
    }
    while (const dirent* entry = readdir(directory.get())) {
        std::string name = entry->d_name;
        // A Linux name with a backslash cannot be named by any Windows path: joined to its folder it would
        // name another file ("..\\x" climbing out of the folder), so the search does not offer it.
        if (name == "." || name == ".." || name.find('\\') != std::string::npos || !MatchFileMask(mask, name))
            continue;
        found.push_back(FindDataOf(dirfd(directory.get()), *folder / name, name));
    }
    return found;
}

bool GetFileTimes(const std::string& path, TFileTimes& times) {
    std::optional<fs::path> resolved = Resolve(path);
    struct statx info {};
    if (!resolved || !StatPath(*resolved, true, info))
        return false;
    times = TimesOf(info);
    return true;
}

bool CanOpenForReading(const std::string& path) {
    std::optional<fs::path> resolved = Resolve(path);
    if (!resolved)
        return false;
    TFileDescriptor fd(open(resolved->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    return fd.Valid() && fstat(fd.Get(), &info) == 0 && !S_ISDIR(info.st_mode);
}

namespace {

// A regular file opened for a whole read, with its status; not valid for anything else. Opened without
// waiting, so that a FIFO or a device in the file's place cannot block the reader; only a regular file has
// a whole content to read, and its reads do not heed the flag, so it stays set (two system calls fewer).
TFileDescriptor OpenForWholeRead(const std::string& path, struct stat& info) {
    TFileDescriptor fd(OpenWindowsPath(path, O_RDONLY | O_NONBLOCK));
    if (!fd.Valid() || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return TFileDescriptor();
    return fd;
}

} // namespace

bool ReadWholeFile(const std::string& path, std::string& content) {
    struct stat info {};
    TFileDescriptor fd = OpenForWholeRead(path, info);
    if (!fd.Valid())
        return false;
    return ReadAll(fd.Get(), content, static_cast<uint64_t>(info.st_size));
}

TFileBytes::TFileBytes(std::string_view bytes) : FData(new char[bytes.size() + 1]), FSize(bytes.size()) {
    std::memcpy(FData.get(), bytes.data(), bytes.size());
}

bool ReadWholeFile(const std::string& path, TFileBytes& content) {
    struct stat info {};
    TFileDescriptor fd = OpenForWholeRead(path, info);
    if (!fd.Valid())
        return false;
    const auto size = static_cast<size_t>(info.st_size);
    TFileBytes result;
    result.FData.reset(new char[size + 1]); // left unfilled: the read fills it
    while (result.FSize < size) {
        ssize_t got = read(fd.Get(), result.FData.get() + result.FSize, size - result.FSize);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break; // shortened meanwhile
        result.FSize += static_cast<size_t>(got);
    }
    content = std::move(result);
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
    std::optional<fs::path> resolved = Resolve(path);
    TChangeNote note(resolved);
    if (!resolved)
        return false;
    struct stat info {};
    if (stat(resolved->c_str(), &info) == 0 && (S_ISDIR(info.st_mode) || IsReadOnlyMode(info.st_mode)))
        return false;
    TFileDescriptor fd(open(resolved->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.Valid() || !WriteAll(fd.Get(), content))
        return false;
    return fd.Close();
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
    std::optional<fs::path> source = Resolve(from);
    std::optional<fs::path> destination = Resolve(to);
    TChangeNote note(destination);
    if (!source || !destination || !destination->has_filename())
        return false;
    TFileDescriptor in(open(source->c_str(), O_RDONLY | O_CLOEXEC));
    struct stat sourceInfo {};
    if (!in.Valid() || fstat(in.Get(), &sourceInfo) != 0 || S_ISDIR(sourceInfo.st_mode))
        return false;
    mode_t mode = sourceInfo.st_mode & 07777;
    struct stat destinationInfo {};
    if (stat(destination->c_str(), &destinationInfo) == 0) {
        if (S_ISDIR(destinationInfo.st_mode) || IsReadOnlyMode(destinationInfo.st_mode))
            return false;
        if ((GetFileAttributes(to) & FILE_ATTRIBUTE_HIDDEN) != 0)
            return false;
        if (destinationInfo.st_dev == sourceInfo.st_dev && destinationInfo.st_ino == sourceInfo.st_ino)
            return false;
        mode = destinationInfo.st_mode & 07777;
    }
    // The rename replaces the name in its folder: a link at To is replaced as a link, its target untouched.
    TFileDescriptor folder(open(destination->parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.Valid())
        return false;
    TReplacement how;
    how.CreationMode = 0600;
    how.SyncFolder = true;
    how.Fill = [&](int fd) {
        return CopyAll(in.Get(), fd) && CopyDosAttributeAndTimes(*source, sourceInfo, fd) &&
               fchmod(fd, mode) == 0;
    };
    const std::string name = destination->filename().string();
    const std::string temporaryPrefix = "." + name + ".copy-";
    // A copy cut off before its rename (the process killed) left its temporary file; it goes now.
    RemoveDeadWritersFiles(folder.Get(), temporaryPrefix);
    return ReplaceFileAtomically(folder.Get(), name, temporaryPrefix, how);
}

} // namespace platform
