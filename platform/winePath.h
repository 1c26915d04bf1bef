#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// Where the machine's Windows lives: $WINEPREFIX when set, else ~/.wine. Read anew on every call, so a change
// of the environment (as tests make) takes effect at once. The folder need not exist: a missing prefix is an
// empty machine with no registry and no C: drive.
std::filesystem::path PrefixFolder();

// A number for the prefix that the environment names now: the same for as long as it names the same one,
// so that a caller can keep what it derived from the prefix and check it cheaply.
uint64_t CurrentPrefixNumber();

// The Linux folder that a drive letter names: the prefix's dosdevices/<letter>: link, followed; Z: is "/"
// when the prefix has no z: link. Empty when the drive does not exist.
std::filesystem::path DriveFolder(char letter);

// Resolves a full Windows path ("C:\Program Files\Foo", '/' also separates) to a Linux path. Each component
// is looked up without regard to case (the exact name first, else the first case-insensitive match in the
// folder's order); a component that does not exist is kept as given, so that the result names what a
// creation would make. "." and ".." are resolved lexically and never climb above the drive root. Links met
// on the way are not followed here: the result may end in a link. Nullopt for a path without a drive
// letter or with a drive that does not exist.
std::optional<std::filesystem::path> ResolvePath(const std::string& windowsPath);

// Opens what lies at a Windows path with open(2) Flags (O_CLOEXEC added): a descriptor, or -1 with errno
// set. The open is the lookup's own last check, so a name through known folders costs the open alone.
int OpenWindowsPath(const std::string& windowsPath, int flags);

// What lies at the end of a path, links followed.
enum class TEntryKind { Missing, File, Folder, Unknown };

// What lies at a Windows path (never Unknown). A path whose folders are known costs one system call, none
// inside a lookup scope that has checked them: a miss is answered from the listing of the deepest known
// folder on the way, a name that the listing holds by one stat of the whole path.
TEntryKind EntryKindAt(const std::string& windowsPath);

// Forgets what was read of the folder that holds Changed and of Changed itself (Below: and of every folder
// under it), after the process changed them: a lookup scope must see its own changes.
void ForgetListings(const std::filesystem::path& changed, bool below = false);

// The resolved path with every link followed (the real location on Linux), when the path exists.
std::optional<std::filesystem::path> RealLocation(const std::string& windowsPath);

// The Windows path of a Linux path: under the drive whose folder holds it most closely (C: before Z:),
// with backslashes. A relative path is taken from the current directory.
std::string ToWindowsPath(const std::filesystem::path& linuxPath);

// The home folder of the user ($HOME, else the password entry's), for the safety checks.
std::filesystem::path HomeFolder();

} // namespace platform
