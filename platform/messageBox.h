#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// Message-box buttons, icons and answers with the platform's values.
inline constexpr uint32_t MB_OK = 0x0;
inline constexpr uint32_t MB_OKCANCEL = 0x1;
inline constexpr uint32_t MB_YESNO = 0x4;
inline constexpr uint32_t MB_ICONERROR = 0x10;
inline constexpr uint32_t MB_ICONQUESTION = 0x20;
inline constexpr uint32_t MB_ICONWARNING = 0x30;
inline constexpr uint32_t MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows a message box and returns the button pressed. Every message box of the system goes through one
// replaceable handler: the windowed programs install theirs, tests answer through theirs. Without a handler
// the text goes to standard error and the answer is OK (or No for a Yes/No box).
int MessageBox(const std::string& text, const std::string& caption, uint32_t flags);

using TMessageBoxHandler =
    std::function<int(const std::string& text, const std::string& caption, uint32_t flags)>;
// Installs Handler and returns the one it replaces; an empty handler restores the default.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler);

} // namespace platform
