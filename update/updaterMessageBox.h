#pragma once

#include <cstdint>
#include <string>

// The updater's message boxes as the toolkit's, owned by the active window when there is one, for
// platform::SetMessageBoxHandler. Their texts name files and carry what the server sent, so they are shown
// as plain text, exactly as given.
int ShowUpdaterMessageBox(const std::string& text, const std::string& caption, uint32_t flags);
