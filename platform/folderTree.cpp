#include "platform/folderTree.h"

#include "platform/fileDescriptor.h"
#include "platform/winePath.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::mutex gHookMutex;
std::function<void(const std::string&)> gWalkHook;

void CallWalkHook(const char* name) {
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard lock(gHookMutex);
        hook = gWalkHook;
    }
    if (hook)
        hook(name);
}

int OpenFolderAt(int parentFd, const char* name) {
    int fd = -1;
    do {
        fd = openat(parentFd, name, FolderFlags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The folder of a real (link-free) absolute path, opened one component at a time from "/" without following
// a link: a component swapped for a link after the path was resolved fails the open instead of leading
// elsewhere.
TFileDescriptor OpenRealFolder(const fs::path& real) {
    TFileDescriptor current(open("/", FolderFlags));
    for (const auto& part : real.relative_path()) {
        if (!current.Valid() || part.empty())
            break;
        current = TFileDescriptor(OpenFolderAt(current.Get(), part.c_str()));
    }
    return current;
}

// Removes Name in FolderFd; a folder that refuses (no write bit) is given the owner's write bit once.
bool UnlinkAt(int folderFd, const char* name, int flags, bool& madeWritable) {
    if (unlinkat(folderFd, name, flags) == 0 || errno == ENOENT)
        return true;
    if ((errno == EACCES || errno == EPERM) && !madeWritable) {
        madeWritable = true;
        struct stat info {};
        if (fstat(folderFd, &info) == 0 && fchmod(folderFd, (info.st_mode & 07777) | S_IWUSR | S_IXUSR) == 0)
            return unlinkat(folderFd, name, flags) == 0 || errno == ENOENT;
    }
    return false;
}

void DeleteContents(int folderFd);

// Removes one entry of FolderFd, judged by the type that the listing gives (a look of its own only where
// the file system does not say).
void DeleteEntry(int folderFd, const char* name, unsigned char type, bool& madeWritable) {
    if (type == DT_UNKNOWN) {
        struct stat info {};
        if (fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            return;
        type = S_ISDIR(info.st_mode) ? DT_DIR : DT_REG;
    }
    if (type != DT_DIR) {
        UnlinkAt(folderFd, name, 0, madeWritable);
        return;
    }
    CallWalkHook(name);
    int childFd = OpenFolderAt(folderFd, name);
    if (childFd < 0) {
        // Swapped for a link or a file since the listing: it goes as what it is now, never entered.
        if (errno == ELOOP || errno == ENOTDIR)
            UnlinkAt(folderFd, name, 0, madeWritable);
        return;
    }
    DeleteContents(childFd); // takes the descriptor
    UnlinkAt(folderFd, name, AT_REMOVEDIR, madeWritable);
}

// Deletes everything in the open folder FolderFd and closes it.
void DeleteContents(int folderFd) {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(fdopendir(folderFd), closedir);
    if (!listing) {
        close(folderFd);
        return;
    }
    bool madeWritable = false;
    while (const dirent* entry = readdir(listing.get())) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        DeleteEntry(dirfd(listing.get()), name, entry->d_type, madeWritable);
    }
}

bool FolderExists(const fs::path& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

void SetTreeWalkHookForTesting(std::function<void(const std::string& name)> hook) {
    std::lock_guard lock(gHookMutex);
    gWalkHook = std::move(hook);
}

bool DeleteTree(const std::string& folder) {
    std::optional<fs::path> resolved = ResolvePath(folder);
    if (!resolved)
        return true;
    fs::path path = resolved->lexically_normal();
    if (path.filename().empty())
        path = path.parent_path();
    const std::string name = path.filename().string();
    if (name.empty() || path == path.root_path())
        return !FolderExists(path);

    std::error_code error;
    const fs::path realParent = fs::canonical(path.parent_path(), error);
    if (error)
        return !FolderExists(path);
    TFileDescriptor parent = OpenRealFolder(realParent);
    if (!parent.Valid())
        return !FolderExists(path);

    struct stat info {};
    if (fstatat(parent.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        // The folder that holds the tree is not the tree's: its permissions stay as they are.
        bool madeWritable = true;
        if (S_ISLNK(info.st_mode))
            UnlinkAt(parent.Get(), name.c_str(), 0, madeWritable);
        else if (S_ISDIR(info.st_mode))
            DeleteEntry(parent.Get(), name.c_str(), DT_DIR, madeWritable);
        // What was read of the tree and of its parent is out of date now (in a lookup scope too).
        ForgetListings(path, true);
    }
    struct stat after {};
    return !(fstatat(parent.Get(), name.c_str(), &after, 0) == 0 && S_ISDIR(after.st_mode));
}

} // namespace platform
