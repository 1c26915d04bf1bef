#include "platform/winePath.h"

#include "platform/sysUtils.h"
#include "platform/wineHive.h"

#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char LowerLetter(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

char UpperLetter(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool EntryExists(const fs::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// The names of a folder by their folded form (as registry names fold), each with the first name of that
// form in the folder's order, and the folder's identity and times when they were read.
struct TFolderListing {
    dev_t Device = 0;
    ino_t Inode = 0;
    timespec Modified{};
    timespec Changed{};
    std::unordered_map<std::string, std::string> FirstByLowerName;
};

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Listings of folders searched without regard to case, so that a scan that tests many missing names in one
// large folder (system32) reads it once. A listing is kept only once its folder has not changed for a while:
// the file system's clock is coarse, so two changes within one tick can leave the same modification time.
constexpr size_t MaxCachedListings = 256;
constexpr time_t StableSeconds = 2;

// Whether a folder has not changed for StableSeconds, so that what was read of it can be trusted later.
bool IsStable(const struct stat& info) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return info.st_mtim.tv_sec + StableSeconds < now.tv_sec &&
           info.st_ctim.tv_sec + StableSeconds < now.tv_sec;
}

std::mutex gListingMutex;
std::unordered_map<std::string, TFolderListing> gListings;

// The first name in Folder's listing that equals Name without regard to case; empty when none does.
std::string FindNameIgnoringCase(const fs::path& folder, const std::string& name) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return {};
    std::string lowerName = FoldName(name);
    const std::string& key = folder.native();
    {
        std::lock_guard lock(gListingMutex);
        auto it = gListings.find(key);
        if (it != gListings.end()) {
            const TFolderListing& listing = it->second;
            if (listing.Device == info.st_dev && listing.Inode == info.st_ino &&
                SameTime(listing.Modified, info.st_mtim) && SameTime(listing.Changed, info.st_ctim)) {
                auto found = listing.FirstByLowerName.find(lowerName);
                return found == listing.FirstByLowerName.end() ? std::string() : found->second;
            }
            gListings.erase(it);
        }
    }

    std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(folder.c_str()), closedir);
    if (!directory)
        return {};
    TFolderListing listing;
    listing.Device = info.st_dev;
    listing.Inode = info.st_ino;
    listing.Modified = info.st_mtim;
    listing.Changed = info.st_ctim;
    while (const dirent* entry = readdir(directory.get())) {
        std::string candidate = entry->d_name;
        if (candidate != "." && candidate != "..")
            listing.FirstByLowerName.emplace(FoldName(candidate), candidate);
    }
    auto found = listing.FirstByLowerName.find(lowerName);
    std::string match = found == listing.FirstByLowerName.end() ? std::string() : found->second;

    if (IsStable(info)) {
        std::lock_guard lock(gListingMutex);
        if (gListings.size() >= MaxCachedListings)
            gListings.clear();
        gListings.emplace(key, std::move(listing));
    }
    return match;
}

// Whether Folder is Path itself or one of its ancestors, compared component by component.
bool FolderHolds(const fs::path& folder, const fs::path& path) {
    auto folderIt = folder.begin();
    auto pathIt = path.begin();
    for (; folderIt != folder.end(); ++folderIt, ++pathIt) {
        if (folderIt->empty())
            continue; // the empty last element of a folder spelled with a trailing separator
        if (pathIt == path.end() || *folderIt != *pathIt)
            return false;
    }
    return true;
}

// The part of Path below Folder (which holds it), as Windows components.
std::string WindowsRemainder(const fs::path& folder, const fs::path& path) {
    size_t skip = 0;
    for (const auto& part : folder)
        if (!part.empty())
            ++skip;
    std::string result;
    size_t index = 0;
    for (const auto& part : path) {
        if (index++ < skip || part.empty())
            continue;
        if (!result.empty())
            result += '\\';
        result += part.string();
    }
    return result;
}

// A path made absolute and lexically normal, without a trailing separator (except for "/").
fs::path NormalAbsolute(const fs::path& path) {
    std::error_code error;
    fs::path absolute = path.is_absolute() ? path : fs::absolute(path, error);
    if (error)
        absolute = path;
    fs::path normal = absolute.lexically_normal();
    std::string text = normal.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return fs::path(text);
}

struct TDrive {
    char Letter = 0;
    fs::path Folder;
};

// The drives of the prefix in letter order, with Z: as "/" when the prefix names no z: drive.
std::vector<TDrive> ListDrives() {
    // Only the letters that the dosdevices folder names can be drives (and Z: always may be).
    bool named[26] = {};
    named['z' - 'a'] = true;
    std::unique_ptr<DIR, int (*)(DIR*)> devices(opendir((PrefixFolder() / "dosdevices").c_str()), closedir);
    while (devices) {
        const dirent* entry = readdir(devices.get());
        if (entry == nullptr)
            break;
        if (entry->d_name[0] >= 'a' && entry->d_name[0] <= 'z' && entry->d_name[1] == ':' &&
            entry->d_name[2] == '\0')
            named[entry->d_name[0] - 'a'] = true;
    }
    std::vector<TDrive> drives;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        if (!named[letter - 'a'])
            continue;
        fs::path folder = DriveFolder(letter);
        if (!folder.empty())
            drives.push_back({UpperLetter(letter), NormalAbsolute(folder)});
    }
    return drives;
}

// Drive folders by prefix, kept while the dosdevices folder stays unchanged: every path lookup starts at a
// drive, and a scan looks up tens of thousands of paths. As with the listings above, only a folder that has
// been still for a while is trusted, since two changes within one clock tick can leave the same times.
struct TDriveTable {
    dev_t Device = 0;
    ino_t Inode = 0;
    timespec Modified{};
    timespec Changed{};
    fs::path Folders[26];
};
std::mutex gDriveMutex;
std::unordered_map<std::string, TDriveTable> gDriveTables;

// The drive folder as the dosdevices link names it, read from the file system.
fs::path ReadDriveFolder(const fs::path& devices, char letter) {
    fs::path link = devices / (std::string(1, letter) + ":");
    struct stat linkInfo {};
    if (lstat(link.c_str(), &linkInfo) != 0)
        return letter == 'z' ? fs::path("/") : fs::path();
    struct stat targetInfo {};
    if (stat(link.c_str(), &targetInfo) != 0 || !S_ISDIR(targetInfo.st_mode))
        return {};
    if (!S_ISLNK(linkInfo.st_mode))
        return link;

    std::error_code error;
    fs::path target = fs::read_symlink(link, error);
    if (error)
        return {};
    // Wine's own links are relative to the dosdevices folder (c: -> ../drive_c); spell them from the prefix
    // as the user sees it, unless that lexical spelling would name another folder than the link does.
    fs::path candidate = target.is_absolute() ? target : (devices / target);
    candidate = NormalAbsolute(candidate);
    struct stat candidateInfo {};
    if (stat(candidate.c_str(), &candidateInfo) == 0 && candidateInfo.st_dev == targetInfo.st_dev &&
        candidateInfo.st_ino == targetInfo.st_ino)
        return candidate;
    fs::path canonical = fs::canonical(link, error);
    return error ? fs::path() : canonical;
}

} // namespace

fs::path PrefixFolder() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
        return NormalAbsolute(prefix);
    return NormalAbsolute(HomeFolder() / ".wine");
}

fs::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return fs::path(home);
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        return fs::path(found->pw_dir);
    return {};
}

fs::path DriveFolder(char letter) {
    if (!IsAsciiLetter(letter))
        return {};
    letter = LowerLetter(letter);
    fs::path devices = PrefixFolder() / "dosdevices";
    struct stat info {};
    if (stat(devices.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || !IsStable(info))
        return ReadDriveFolder(devices, letter);
    std::lock_guard lock(gDriveMutex);
    auto [it, added] = gDriveTables.try_emplace(devices.native());
    TDriveTable& table = it->second;
    if (added || table.Device != info.st_dev || table.Inode != info.st_ino ||
        !SameTime(table.Modified, info.st_mtim) || !SameTime(table.Changed, info.st_ctim)) {
        if (gDriveTables.size() > MaxCachedListings) {
            gDriveTables.clear();
            return ReadDriveFolder(devices, letter);
        }
        table = TDriveTable{info.st_dev, info.st_ino, info.st_mtim, info.st_ctim, {}};
        for (char each = 'a'; each <= 'z'; ++each)
            table.Folders[each - 'a'] = ReadDriveFolder(devices, each);
    }
    return table.Folders[letter - 'a'];
}

std::optional<fs::path> ResolvePath(const std::string& windowsPath) {
    if (windowsPath.find('\0') != std::string::npos)
        return std::nullopt;
    std::string text = windowsPath;
    // The long-path form \\?\C:\... names the same file.
    if (text.size() >= 4 && IsSeparator(text[0]) && IsSeparator(text[1]) && text[2] == '?' &&
        IsSeparator(text[3]))
        text.erase(0, 4);
    if (text.size() < 2 || !IsAsciiLetter(text[0]) || text[1] != ':')
        return std::nullopt;
    fs::path root = DriveFolder(text[0]);
    if (root.empty())
        return std::nullopt;

    std::vector<std::string> parts;
    size_t start = 2;
    while (start <= text.size()) {
        size_t end = start;
        while (end < text.size() && !IsSeparator(text[end]))
            ++end;
        std::string part = text.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }

    fs::path result = root;
    bool missing = false;
    for (const std::string& part : parts) {
        if (!missing && !EntryExists(result / part)) {
            std::string match = FindNameIgnoringCase(result, part);
            if (!match.empty()) {
                result /= match;
                continue;
            }
            // Nothing below a missing component can exist, so the rest is kept as given without lookups.
            missing = true;
        }
        result /= part;
    }
    return result;
}

std::optional<fs::path> RealLocation(const std::string& windowsPath) {
    std::optional<fs::path> resolved = ResolvePath(windowsPath);
    if (!resolved)
        return std::nullopt;
    std::unique_ptr<char, void (*)(void*)> real(realpath(resolved->c_str(), nullptr), std::free);
    if (!real)
        return std::nullopt;
    return fs::path(real.get());
}

std::string ToWindowsPath(const fs::path& linuxPath) {
    if (linuxPath.empty())
        return {};
    fs::path path = NormalAbsolute(linuxPath);
    std::vector<TDrive> drives = ListDrives();

    const TDrive* best = nullptr;
    fs::path bestPath;
    fs::path bestFolder;
    auto consider = [&](const fs::path& candidatePath, const TDrive& drive, const fs::path& folder) {
        if (FolderHolds(folder, candidatePath) &&
            (best == nullptr || folder.string().size() > bestFolder.string().size())) {
            best = &drive;
            bestPath = candidatePath;
            bestFolder = folder;
        }
    };
    for (const TDrive& drive : drives)
        consider(path, drive, drive.Folder);
    // A path spelled through a link (or a drive whose link leads elsewhere) is matched on the real
    // locations, so that a file inside drive_c is still a C: path.
    if (best == nullptr || best->Folder == "/") {
        std::error_code error;
        fs::path real = fs::weakly_canonical(path, error);
        if (!error) {
            for (const TDrive& drive : drives) {
                fs::path realFolder = fs::canonical(drive.Folder, error);
                if (!error)
                    consider(real, drive, realFolder);
            }
        }
    }
    if (best == nullptr)
        return {};
    return std::string(1, best->Letter) + ":\\" + WindowsRemainder(bestFolder, bestPath);
}

} // namespace platform
