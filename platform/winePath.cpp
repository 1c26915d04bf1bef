#include "platform/winePath.h"

#include "platform/lookupScope.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"
#include "platform/wineHive.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string_view>
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

// Linux paths inside the lookups are plain text: a path object splits itself into components on every
// change, which would cost more than the system call a lookup makes.
void AppendName(std::string& folder, std::string_view name) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    folder.append(name);
}

// A folder's names as one listing read them: by their folded form (as registry names fold), each form with
// its names in the folder's order and the type that the listing gave each.
struct TFolderEntry {
    std::string Name;
    unsigned char Type = DT_UNKNOWN;
};

struct TFolderListing {
    dev_t Device = 0;
    ino_t Inode = 0;
    timespec Modified{};
    timespec Changed{};
    // The folder had not changed for a while when it was read, so its times tell whether it changed since.
    bool Settled = false;
    // The lookup scope whose check this listing passed (or that read it), 0 for none.
    uint64_t CheckedInScope = 0;
    std::unordered_map<std::string, std::vector<TFolderEntry>> ByFoldedName;

    // The entry of that name: the exact name first, else the first name that folds as it does; null when
    // there is none.
    const TFolderEntry* Find(std::string_view name, bool& exact) const {
        auto found = ByFoldedName.find(FoldName(name));
        if (found == ByFoldedName.end())
            return nullptr;
        for (const TFolderEntry& entry : found->second)
            if (entry.Name == name) {
                exact = true;
                return &entry;
            }
        exact = false;
        return &found->second.front();
    }
};

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool SameFolder(const TFolderListing& listing, const struct stat& info) {
    return S_ISDIR(info.st_mode) && listing.Device == info.st_dev && listing.Inode == info.st_ino &&
           SameTime(listing.Modified, info.st_mtim) && SameTime(listing.Changed, info.st_ctim);
}

// Listings of folders, so that a scan that tests many missing names in one large folder (system32) reads
// it once. Outside a lookup scope a listing is trusted only once its folder has not changed for a while: the
// file system's clock is coarse, so two changes within one tick can leave the same modification time.
constexpr size_t MaxCachedListings = 4096;
constexpr time_t StableSeconds = 2;

// Whether a folder has not changed for StableSeconds, so that what was read of it can be trusted later.
bool IsStable(const struct stat& info) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return info.st_mtim.tv_sec + StableSeconds < now.tv_sec &&
           info.st_ctim.tv_sec + StableSeconds < now.tv_sec;
}

// Reads the listing of a folder; null when it is no folder or cannot be read.
std::shared_ptr<TFolderListing> ReadListing(const std::string& lookupFolder) {
    int fd = open(lookupFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        close(fd);
        return nullptr;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> directory(fdopendir(fd), closedir);
    if (!directory) {
        close(fd);
        return nullptr;
    }
    auto listing = std::make_shared<TFolderListing>();
    listing->Device = info.st_dev;
    listing->Inode = info.st_ino;
    listing->Modified = info.st_mtim;
    listing->Changed = info.st_ctim;
    listing->Settled = IsStable(info);
    while (const dirent* entry = readdir(directory.get())) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            listing->ByFoldedName[FoldName(name)].push_back({std::move(name), entry->d_type});
    }
    return listing;
}

// A folder reached from a drive by exact names only, under the Windows spelling that reached it: such a
// spelling names that folder for as long as the folder itself is unchanged, whatever its siblings do.
struct TSpelledFolder {
    std::string Folder;       // from the drive's folder, as results are spelled
    std::string LookupFolder; // through the drive's dosdevices entry, so that a stat also checks the link
};

// Hashes and compares keys by their text, so that a lookup needs no string of its own.
struct TTextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
};
template <typename TValue>
using TTextMap = std::unordered_map<std::string, TValue, TTextHash, std::equal_to<>>;

std::mutex gListingMutex;
TTextMap<std::shared_ptr<TFolderListing>> gListings;        // by the folder's Linux path
TTextMap<std::shared_ptr<const TSpelledFolder>> gSpellings; // "C:\Program Files" -> the folder
uint64_t gSpellingsPrefix = 0;                              // the prefix (by number) they were made under
// Counts the changes of gListings and gSpellings, so that an answer derived from them can be kept until the
// next change.
uint64_t gListingGeneration = 0;

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

// ---- The prefix ----

// The prefix as the environment names it, normalised once for each value the environment takes; each
// value gets a number of its own, so that what was remembered under another prefix is never taken for it.
struct TPrefixState {
    char SourceKind = 0; // 'W' WINEPREFIX, 'H' HOME, 'P' the password entry
    std::string Source;
    fs::path Folder;
    uint64_t Number = 0;
};
std::mutex gPrefixMutex;
TPrefixState gPrefix;
uint64_t gLastPrefixNumber = 0;

// The current prefix's number, and its folder when asked for.
uint64_t CurrentPrefix(fs::path* folder = nullptr) {
    const char* prefix = std::getenv("WINEPREFIX");
    const char* home = prefix != nullptr && *prefix != '\0' ? nullptr : std::getenv("HOME");
    char kind = 'P';
    const char* source = "";
    if (prefix != nullptr && *prefix != '\0') {
        kind = 'W';
        source = prefix;
    } else if (home != nullptr && *home != '\0') {
        kind = 'H';
        source = home;
    }
    std::lock_guard lock(gPrefixMutex);
    if (gPrefix.Number == 0 || gPrefix.SourceKind != kind || gPrefix.Source != source) {
        gPrefix.SourceKind = kind;
        gPrefix.Source = source;
        gPrefix.Folder = kind == 'W' ? NormalAbsolute(source) : NormalAbsolute(HomeFolder() / ".wine");
        gPrefix.Number = ++gLastPrefixNumber;
    }
    if (folder != nullptr)
        *folder = gPrefix.Folder;
    return gPrefix.Number;
}

// The current prefix's number; inside a lookup scope the environment is read once for the scope.
uint64_t ScopePrefix() {
    thread_local uint64_t scopeOfPrefix = 0;
    thread_local uint64_t prefixOfScope = 0;
    const uint64_t scope = CurrentLookupScope();
    if (scope == 0 || scope != scopeOfPrefix) {
        prefixOfScope = CurrentPrefix();
        scopeOfPrefix = scope;
    }
    return prefixOfScope;
}

// ---- Drives ----

// The drives of a prefix as its dosdevices folder named them when it was read: every path lookup starts at
// a drive, and a scan looks up tens of thousands of paths. As with the listings, a table is kept only when
// the folder had been still for a while (or for the lookup scope that read it).
struct TDriveTable {
    uint64_t Prefix = 0;
    bool Known = false; // the dosdevices folder exists and was read
    dev_t Device = 0;
    ino_t Inode = 0;
    timespec Modified{};
    timespec Changed{};
    bool Settled = false;
    uint64_t CheckedInScope = 0;
    std::string Folders[26];
    // Where a lookup of the drive starts: its dosdevices entry (a link the kernel follows on every call), or
    // "/" for the Z: that the prefix does not name.
    std::string LookupRoots[26];
};
std::mutex gDriveMutex;
TDriveTable gDrives;

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

void ReadDriveTable(uint64_t prefix, const fs::path& devices, const struct stat& info, TDriveTable& table) {
    table = TDriveTable();
    table.Prefix = prefix;
    table.Known = true;
    table.Device = info.st_dev;
    table.Inode = info.st_ino;
    table.Modified = info.st_mtim;
    table.Changed = info.st_ctim;
    table.Settled = IsStable(info);
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        const fs::path link = devices / (std::string(1, letter) + ":");
        const fs::path folder = ReadDriveFolder(devices, letter);
        if (folder.empty())
            continue;
        table.Folders[letter - 'a'] = folder.string();
        table.LookupRoots[letter - 'a'] = EntryExists(link) ? link.string() : folder.string();
    }
}

struct TDrive {
    std::string Folder;
    std::string LookupRoot;
};

// Calls Use with the drive table, checked against the dosdevices folder (once per lookup scope) or read
// anew, while it is held; with null when the prefix has no dosdevices folder.
template <typename TUse> auto WithCheckedDrives(TUse use) {
    fs::path prefixFolder;
    const uint64_t prefix = CurrentPrefix(&prefixFolder);
    const uint64_t scope = CurrentLookupScope();
    std::lock_guard lock(gDriveMutex);
    const bool known = gDrives.Known && gDrives.Prefix == prefix;
    if (!(known && scope != 0 && gDrives.CheckedInScope == scope)) {
        const fs::path devices = prefixFolder / "dosdevices";
        struct stat info {};
        if (stat(devices.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            gDrives = TDriveTable();
            return use(static_cast<const TDriveTable*>(nullptr));
        }
        const bool same = known && gDrives.Device == info.st_dev && gDrives.Inode == info.st_ino &&
                          SameTime(gDrives.Modified, info.st_mtim) && SameTime(gDrives.Changed, info.st_ctim);
        if (!same || (!gDrives.Settled && gDrives.CheckedInScope != scope))
            ReadDriveTable(prefix, devices, info, gDrives);
        gDrives.CheckedInScope = scope;
    }
    auto result = use(static_cast<const TDriveTable*>(&gDrives));
    // A table read while the folder was changing serves only the scope that read it.
    if (!gDrives.Settled && scope == 0)
        gDrives = TDriveTable();
    return result;
}

// The drive of a letter, checked against the dosdevices folder (once per lookup scope) or read anew.
TDrive CheckedDrive(char letter) {
    letter = LowerLetter(letter);
    return WithCheckedDrives([letter](const TDriveTable* table) {
        if (table == nullptr)
            return letter == 'z' ? TDrive{"/", "/"} : TDrive{};
        return TDrive{table->Folders[letter - 'a'], table->LookupRoots[letter - 'a']};
    });
}

// The real location of a path, every link followed, as fs::canonical gives it (fs::weakly_canonical when
// MayBeMissing): for a path that exists, the kernel's name of a descriptor of it, three system calls however
// deep the path lies, where the library would read every component as a link.
std::optional<fs::path> RealPathOf(const fs::path& path, bool mayBeMissing) {
    if (path == "/")
        return path;
    if (const int fd = open(path.c_str(), O_PATH | O_CLOEXEC); fd >= 0) {
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        char target[PATH_MAX];
        const ssize_t length = readlink(link.c_str(), target, sizeof target);
        close(fd);
        if (length > 0 && static_cast<size_t>(length) < sizeof target && target[0] == '/')
            return fs::path(std::string(target, static_cast<size_t>(length)));
    }
    std::error_code error;
    fs::path real = mayBeMissing ? fs::weakly_canonical(path, error) : fs::canonical(path, error);
    if (error)
        return std::nullopt;
    return real;
}

struct TLetterDrive {
    char Letter = 0;
    fs::path Folder;
};

// The drives of the prefix in letter order, with Z: as "/" when the prefix names no z: drive: the checked
// drive table, one stat of the dosdevices folder while it is remembered.
std::vector<TLetterDrive> ListDrives() {
    return WithCheckedDrives([](const TDriveTable* table) {
        std::vector<TLetterDrive> drives;
        if (table == nullptr) {
            drives.push_back({'Z', fs::path("/")});
            return drives;
        }
        for (char letter = 'a'; letter <= 'z'; ++letter)
            if (const std::string& folder = table->Folders[letter - 'a']; !folder.empty())
                drives.push_back({UpperLetter(letter), NormalAbsolute(folder)});
        return drives;
    });
}

// The drive as the table last read names it, unchecked: a lookup that then stats through the drive's
// dosdevices entry checks the link on the way. Empty when no table that may be trusted names it.
// Whether the table that may be trusted names the drive (without copying its folders).
bool DriveRemembered(char letter, uint64_t prefix) {
    letter = LowerLetter(letter);
    const uint64_t scope = CurrentLookupScope();
    std::lock_guard lock(gDriveMutex);
    return gDrives.Known && gDrives.Prefix == prefix &&
           (gDrives.Settled || (scope != 0 && gDrives.CheckedInScope == scope)) &&
           !gDrives.Folders[letter - 'a'].empty();
}

TDrive RememberedDrive(char letter, uint64_t prefix) {
    letter = LowerLetter(letter);
    const uint64_t scope = CurrentLookupScope();
    std::lock_guard lock(gDriveMutex);
    if (!gDrives.Known || gDrives.Prefix != prefix ||
        (!gDrives.Settled && (scope == 0 || gDrives.CheckedInScope != scope)))
        return {};
    return {gDrives.Folders[letter - 'a'], gDrives.LookupRoots[letter - 'a']};
}

// ---- Lookups ----

// A Windows path taken apart: its drive letter and its components with "." and ".." resolved lexically
// (views into the text it was taken from).
struct TWindowsPath {
    char Letter = 0;
    std::vector<std::string_view> Parts;
};

// Takes Text apart into Path (whose component list keeps its storage from call to call); false for a
// path without a drive letter.
bool SplitWindowsPath(std::string_view text, TWindowsPath& path) {
    path.Parts.clear();
    if (text.find('\0') != std::string_view::npos)
        return false;
    // The long-path form \\?\C:\... names the same file.
    if (text.size() >= 4 && IsSeparator(text[0]) && IsSeparator(text[1]) && text[2] == '?' &&
        IsSeparator(text[3]))
        text.remove_prefix(4);
    if (text.size() < 2 || !IsAsciiLetter(text[0]) || text[1] != ':')
        return false;
    path.Letter = UpperLetter(text[0]);
    size_t start = 2;
    while (start <= text.size()) {
        size_t end = start;
        while (end < text.size() && !IsSeparator(text[end]))
            ++end;
        std::string_view part = text.substr(start, end - start);
        if (part == "..") {
            if (!path.Parts.empty())
                path.Parts.pop_back();
        } else if (!part.empty() && part != ".") {
            path.Parts.push_back(part);
        }
        start = end + 1;
    }
    return true;
}

// The spelling of the first Count components: "C:", "C:\Program Files", ...
void SpellingOf(const TWindowsPath& path, size_t count, std::string& spelling) {
    spelling.assign({path.Letter, ':'});
    for (size_t i = 0; i < count; ++i) {
        spelling += '\\';
        spelling.append(path.Parts[i]);
    }
}

std::string SpellingOf(const TWindowsPath& path, size_t count) {
    std::string spelling;
    SpellingOf(path, count, spelling);
    return spelling;
}

// Folder followed by the components from number From on, as given.
std::string Joined(std::string folder, const TWindowsPath& path, size_t from) {
    for (size_t i = from; i < path.Parts.size(); ++i)
        AppendName(folder, path.Parts[i]);
    return folder;
}

TEntryKind KindOfType(unsigned char type) {
    if (type == DT_DIR)
        return TEntryKind::Folder;
    if (type == DT_REG)
        return TEntryKind::File;
    return TEntryKind::Unknown; // a link, or a file system that does not tell
}

TEntryKind KindOfStat(const struct stat& info) {
    return S_ISDIR(info.st_mode) ? TEntryKind::Folder : TEntryKind::File;
}

// The result of a lookup before it becomes a path object (which only some callers need).
struct TRawLookup {
    bool Valid = false;
    std::string Path;
    TEntryKind Kind = TEntryKind::Missing;
};

// Whether a remembered listing of a folder can still be trusted: within the scope that checked it, or
// after one stat shows that a settled folder has not changed. One that has changed is forgotten. Outside a
// scope the check takes no lock while the folder is unchanged: a listing is never changed once read, but
// for the scope that last checked it, which only a check inside a scope sets.
bool StillTrue(const std::shared_ptr<TFolderListing>& listing, const std::string& folder,
               const std::string& lookupFolder) {
    const uint64_t scope = CurrentLookupScope();
    if (scope != 0) {
        std::lock_guard lock(gListingMutex);
        if (listing->CheckedInScope == scope)
            return true;
    }
    struct stat info {};
    const bool same =
        listing->Settled && stat(lookupFolder.c_str(), &info) == 0 && SameFolder(*listing, info);
    if (same && scope == 0)
        return true;
    std::lock_guard lock(gListingMutex);
    if (!same) {
        auto found = gListings.find(folder);
        if (found != gListings.end() && found->second == listing) {
            gListings.erase(found);
            ++gListingGeneration;
        }
        return false;
    }
    listing->CheckedInScope = scope;
    return true;
}

// The remembered listing of a folder when it can still be trusted (StillTrue).
std::shared_ptr<TFolderListing> TrustedListing(const std::string& folder, const std::string& lookupFolder) {
    std::shared_ptr<TFolderListing> listing;
    {
        std::lock_guard lock(gListingMutex);
        auto found = gListings.find(folder);
        if (found == gListings.end())
            return nullptr;
        listing = found->second;
    }
    return StillTrue(listing, folder, lookupFolder) ? listing : nullptr;
}

// The listing of a folder: the remembered one when it can be trusted, else read anew (and remembered when
// it may be trusted later, or for the rest of the scope). Null when the folder cannot be listed.
std::shared_ptr<TFolderListing> ListingOf(const std::string& folder, const std::string& lookupFolder) {
    if (std::shared_ptr<TFolderListing> held = TrustedListing(folder, lookupFolder))
        return held;
    std::shared_ptr<TFolderListing> listing = ReadListing(lookupFolder);
    const uint64_t scope = CurrentLookupScope();
    if (listing && (listing->Settled || scope != 0)) {
        listing->CheckedInScope = scope;
        std::lock_guard lock(gListingMutex);
        if (gListings.size() >= MaxCachedListings) {
            gListings.clear();
            gSpellings.clear();
        }
        gListings.insert_or_assign(folder, listing);
        ++gListingGeneration;
    }
    return listing;
}

void RememberSpelling(uint64_t prefix, std::string spelling, const std::string& folder,
                      const std::string& lookupFolder) {
    std::lock_guard lock(gListingMutex);
    if (gSpellingsPrefix != prefix || gSpellings.size() >= MaxCachedListings) {
        gSpellings.clear();
        gSpellingsPrefix = prefix;
    }
    ++gListingGeneration;
    gSpellings.insert_or_assign(std::move(spelling),
                                std::make_shared<const TSpelledFolder>(TSpelledFolder{folder, lookupFolder}));
}

// The deepest remembered folder that the path's first components spell, its listing and the number of
// those components.
struct TKnownFolder {
    std::shared_ptr<const TSpelledFolder> Folder;
    std::shared_ptr<TFolderListing> Listing;
    size_t Count = 0;
};

// The folders of a path are asked about again and again (a program's files lie side by side), so the
// answer for the folder part of the last path is kept until the remembered folders change.
std::optional<TKnownFolder> DeepestKnownFolder(uint64_t prefix, const TWindowsPath& path) {
    struct TLastAnswer {
        uint64_t Generation = 0;
        uint64_t Prefix = 0;
        std::string Spelling; // of the path's folder part
        std::optional<TKnownFolder> Known;
    };
    thread_local std::string spelling; // keeps its storage from lookup to lookup
    thread_local TLastAnswer last;
    SpellingOf(path, path.Parts.size(), spelling);
    std::lock_guard lock(gListingMutex);
    if (gSpellingsPrefix != prefix || gSpellings.empty())
        return std::nullopt;
    auto knownAt = [&](size_t count) -> std::optional<TKnownFolder> {
        auto found = gSpellings.find(std::string_view(spelling));
        if (found == gSpellings.end())
            return std::nullopt;
        auto listing = gListings.find(found->second->Folder);
        if (listing == gListings.end())
            return std::nullopt;
        return TKnownFolder{found->second, listing->second, count};
    };
    // The whole path first; then its folder part, as last answered or searched anew.
    size_t count = path.Parts.size();
    if (std::optional<TKnownFolder> whole = knownAt(count))
        return whole;
    if (count == 0)
        return std::nullopt;
    spelling.resize(spelling.size() - path.Parts[--count].size() - 1);
    if (last.Generation == gListingGeneration && last.Prefix == prefix && last.Spelling == spelling)
        return last.Known;
    last.Generation = gListingGeneration;
    last.Prefix = prefix;
    last.Spelling = spelling;
    last.Known.reset();
    for (;; --count) {
        if ((last.Known = knownAt(count)))
            return last.Known;
        if (count == 0)
            return std::nullopt;
        spelling.resize(spelling.size() - path.Parts[count - 1].size() - 1);
    }
}

// Resolves the components one listing at a time, from the drive's root.
TRawLookup Walk(uint64_t prefix, const TWindowsPath& path, std::string folder, std::string lookupFolder) {
    bool exact = true;
    for (size_t i = 0; i < path.Parts.size(); ++i) {
        std::shared_ptr<TFolderListing> listing = ListingOf(folder, lookupFolder);
        if (listing && exact && (listing->Settled || CurrentLookupScope() != 0))
            RememberSpelling(prefix, SpellingOf(path, i), folder, lookupFolder);
        bool exactName = false;
        const TFolderEntry* entry = listing ? listing->Find(path.Parts[i], exactName) : nullptr;
        // Nothing below a missing component can exist, so the rest is kept as given.
        if (entry == nullptr)
            return {true, Joined(std::move(folder), path, i), TEntryKind::Missing};
        exact = exact && exactName;
        AppendName(folder, entry->Name);
        AppendName(lookupFolder, entry->Name);
        if (i + 1 == path.Parts.size())
            return {true, std::move(folder), KindOfType(entry->Type)};
    }
    struct stat info {};
    if (stat(lookupFolder.c_str(), &info) != 0)
        return {true, std::move(folder), TEntryKind::Missing};
    return {true, std::move(folder), KindOfStat(info)};
}

// An answer from the deepest known folder on the way, when it can give one with at most one system call.
std::optional<TRawLookup> LookUpThroughKnownFolder(uint64_t prefix, const TWindowsPath& path, bool wantPath) {
    std::optional<TKnownFolder> known = DeepestKnownFolder(prefix, path);
    if (!known || known->Count == path.Parts.size())
        return std::nullopt;
    const TSpelledFolder& folder = *known->Folder;
    bool exactName = false;
    const TFolderEntry* entry = known->Listing->Find(path.Parts[known->Count], exactName);
    if (entry == nullptr) {
        // A miss, once the listing is shown to be current.
        if (!StillTrue(known->Listing, folder.Folder, folder.LookupFolder))
            return std::nullopt;
        return TRawLookup{true, wantPath ? Joined(folder.Folder, path, known->Count) : std::string(),
                          TEntryKind::Missing};
    }
    if (!exactName)
        return std::nullopt;
    if (known->Count + 1 == path.Parts.size() && CurrentLookupScope() != 0 &&
        KindOfType(entry->Type) != TEntryKind::Unknown &&
        StillTrue(known->Listing, folder.Folder, folder.LookupFolder))
        return TRawLookup{true, Joined(folder.Folder, path, known->Count), KindOfType(entry->Type)};
    // The exact spelling exists as it stands: then that is what it names.
    struct stat info {};
    if (stat(Joined(folder.LookupFolder, path, known->Count).c_str(), &info) != 0)
        return std::nullopt;
    return TRawLookup{true, Joined(folder.Folder, path, known->Count), KindOfStat(info)};
}

// WantPath: the caller needs the Linux path of a miss too (a caller that asks only what lies there does
// not).
TRawLookup LookUp(const std::string& windowsPath, bool wantPath) {
    thread_local TWindowsPath parts;
    TWindowsPath* path = &parts;
    if (!SplitWindowsPath(windowsPath, parts))
        return {};
    const uint64_t prefix = ScopePrefix();

    // With the drive known, a path through known folders (or that exists as spelled) costs one stat.
    if (DriveRemembered(path->Letter, prefix)) {
        if (std::optional<TRawLookup> answer = LookUpThroughKnownFolder(prefix, *path, wantPath))
            return std::move(*answer);
        TDrive drive = RememberedDrive(path->Letter, prefix);
        struct stat info {};
        if (!drive.Folder.empty() && stat(Joined(drive.LookupRoot, *path, 0).c_str(), &info) == 0)
            return {true, Joined(drive.Folder, *path, 0), KindOfStat(info)};
    }

    TDrive drive = CheckedDrive(path->Letter);
    if (drive.Folder.empty())
        return {};
    struct stat info {};
    if (stat(Joined(drive.LookupRoot, *path, 0).c_str(), &info) == 0)
        return {true, Joined(drive.Folder, *path, 0), KindOfStat(info)};
    return Walk(prefix, *path, std::move(drive.Folder), std::move(drive.LookupRoot));
}

} // namespace

int OpenWindowsPath(const std::string& windowsPath, int flags) {
    flags |= O_CLOEXEC;
    // A path that exists as spelled names that file (a lookup takes the exact name first): it is opened
    // through the drive's dosdevices entry, as a lookup would stat it, and only a miss is looked up.
    thread_local TWindowsPath parts;
    if (SplitWindowsPath(windowsPath, parts)) {
        TDrive drive = RememberedDrive(parts.Letter, ScopePrefix());
        if (drive.Folder.empty())
            drive = CheckedDrive(parts.Letter);
        if (!drive.Folder.empty())
            if (const int fd = open(Joined(drive.LookupRoot, parts, 0).c_str(), flags); fd >= 0)
                return fd;
    }
    std::optional<fs::path> resolved = ResolvePath(windowsPath);
    if (!resolved) {
        errno = ENOENT;
        return -1;
    }
    return open(resolved->c_str(), flags);
}

fs::path PrefixFolder() {
    fs::path folder;
    CurrentPrefix(&folder);
    return folder;
}

uint64_t CurrentPrefixNumber() {
    return CurrentPrefix();
}

fs::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return fs::path(home);
    return UserAccount().Home;
}

fs::path DriveFolder(char letter) {
    if (!IsAsciiLetter(letter))
        return {};
    return fs::path(CheckedDrive(letter).Folder);
}

std::optional<fs::path> ResolvePath(const std::string& windowsPath) {
    TRawLookup lookup = LookUp(windowsPath, true);
    if (!lookup.Valid)
        return std::nullopt;
    return fs::path(std::move(lookup.Path));
}

TEntryKind EntryKindAt(const std::string& windowsPath) {
    TRawLookup lookup = LookUp(windowsPath, false);
    if (!lookup.Valid)
        return TEntryKind::Missing;
    if (lookup.Kind != TEntryKind::Unknown)
        return lookup.Kind;
    struct stat info {};
    if (stat(lookup.Path.c_str(), &info) != 0)
        return TEntryKind::Missing;
    return KindOfStat(info);
}

void ForgetListings(const fs::path& changed, bool below) {
    const std::string& path = changed.native();
    const std::string parent = changed.parent_path().native();
    auto forgotten = [&](const std::string& folder) {
        if (folder == path || folder == parent)
            return true;
        return below && folder.size() > path.size() && folder.compare(0, path.size(), path) == 0 &&
               folder[path.size()] == '/';
    };
    std::lock_guard lock(gListingMutex);
    std::erase_if(gListings, [&](const auto& item) { return forgotten(item.first); });
    std::erase_if(gSpellings, [&](const auto& item) { return forgotten(item.second->Folder); });
    ++gListingGeneration;
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
    std::vector<TLetterDrive> drives = ListDrives();

    const TLetterDrive* best = nullptr;
    fs::path bestPath;
    fs::path bestFolder;
    auto consider = [&](const fs::path& candidatePath, const TLetterDrive& drive, const fs::path& folder) {
        if (FolderHolds(folder, candidatePath) &&
            (best == nullptr || folder.string().size() > bestFolder.string().size())) {
            best = &drive;
            bestPath = candidatePath;
            bestFolder = folder;
        }
    };
    for (const TLetterDrive& drive : drives)
        consider(path, drive, drive.Folder);
    // A path spelled through a link (or a drive whose link leads elsewhere) is matched on the real
    // locations, so that a file inside drive_c is still a C: path.
    if (best == nullptr || best->Folder == "/") {
        if (std::optional<fs::path> real = RealPathOf(path, true)) {
            for (const TLetterDrive& drive : drives)
                if (std::optional<fs::path> realFolder = RealPathOf(drive.Folder, false))
                    consider(*real, drive, *realFolder);
        }
    }
    if (best == nullptr)
        return {};
    return std::string(1, best->Letter) + ":\\" + WindowsRemainder(bestFolder, bestPath);
}

} // namespace platform
