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
// Installs Handler and returns the one it replaces; an empty handler restores the default. The thread that
// installs a handler is its thread (for a windowed program, the GUI thread).
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler);

// Runs a call on the handler's thread and returns its answer once it has run there (a windowed program runs
// it through its event loop and waits). With a dispatcher installed, a message box asked on any other
// thread (the update check's, for one) is shown on the handler's thread; without one, the handler is called
// on the asking thread. An empty dispatcher removes it.
using TMessageBoxDispatcher = std::function<int(const std::function<int()>& call)>;
void SetMessageBoxDispatcher(TMessageBoxDispatcher dispatcher);

} // namespace platform
