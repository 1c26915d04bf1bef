#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace platform {

// The logged-on user's name as Wine takes it: $USER (read at every call), else the login name of the
// process's user.
std::string GetUserName();

// The process's user as the password database knows it. The C library reads the database file on every
// lookup, so the account is looked up once per process, on first use, and kept.
struct TUserAccount {
    std::string Name;
    std::filesystem::path Home;
};
TUserAccount UserAccount();
// Replaces the password-database lookup (nullptr: the real one) and forgets the account kept so far, so that
// a test counts the lookups and gives the account it needs.
void SetUserAccountLookupForTesting(std::function<TUserAccount()> lookup);
// The Windows directory, "C:\windows", and the System directory, "C:\windows\system32", of the prefix.
std::string GetWindowsDirectory();
std::string GetSystemDirectory();

// The running program's own file as a Windows path (for example Z:\opt\korvane\KV.exe). Tests replace the
// file through the seam below so that a program folder of their own stands beside "the program".
std::string GetModuleFileName();
// Sets the program file (a Linux path) that GetModuleFileName reports; an empty path restores the real one.
void SetModuleFileNameForTesting(const std::filesystem::path& programFile);
// The Linux path of the running program's own file (or of the file set for testing): the path it was
// started from, also after that file was replaced or removed.
std::filesystem::path ModuleFilePath();

} // namespace platform
