#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
// The shell's failures (a result of 32 or less): file not found, no program for it.
inline constexpr intptr_t SE_ERR_FNF = 2;
inline constexpr intptr_t SE_ERR_NOASSOC = 31;

// One request to the shell's open, as a test's handler records it.
struct TShellExecuteCall {
    const void* Owner = nullptr;
    std::string Verb;
    std::string File;
    std::string Parameters;
    std::string Directory;
    int ShowCommand = SW_SHOWNORMAL;
};

// The shell's "open" (an empty verb means the same): a web address or "mailto:" address, or a file that is
// not a program, goes to the desktop's opener (xdg-open); a program file (a Windows path to an executable
// file) is started directly with Parameters (split at blanks, double quotes group) in Directory (a Windows
// path; empty: the present folder). Either is started detached, as the platform starts programs: it is not
// a child of the caller and outlives it, so a program started this way may end the one that started it.
// Returns a value above 32 when the start succeeded, else SE_ERR_FNF (no such file or program) or
// SE_ERR_NOASSOC (another verb, or no opener). Nothing is waited for.
intptr_t ShellExecuteA(const void* owner, const std::string& verb, const std::string& file,
                       const std::string& parameters, const std::string& directory, int showCommand);

using TShellExecuteHandler = std::function<intptr_t(const TShellExecuteCall& call)>;
// Installs Handler in place of the real shell and returns the one it replaces; an empty handler restores
// the real shell. Tests record what would have been opened.
TShellExecuteHandler SetShellExecuteHandler(TShellExecuteHandler handler);

} // namespace platform
