#pragma once

// The program KV: its start-up (one copy at a time, the main window, the data module, the message loop)
// and the addresses of its maker.

// The named mutex that marks a running KV.
inline constexpr const char* KVMutexName = "KV_S_EXISTS";
// The application's title: the text of its taskbar entry and of its error reports.
inline constexpr const char* ApplicationTitle = "Korvane";
// The maker's home site (its help page lies at "/help.php" under it) and the support mail address.
inline constexpr const char* HomeSiteAddress = "https://korvane.example.org";
inline constexpr const char* SupportMailAddress = "support@korvane.example.org";

// The program's main block: returns the exit code. A second copy returns 0 at once and shows nothing.
int KVMain(int argc, char* argv[]);

// Shows the system's message boxes as KV's windows: a box asked on another thread (the update check's) is
// shown on the GUI thread, whose event loop runs it while the asking thread waits for the answer. Call on
// the GUI thread, with the application made; RemoveMessageBoxes undoes it before the application goes.
void InstallMessageBoxes();
void RemoveMessageBoxes();

// Makes the pictures and the style sheet of KV's resources available (once per process).
void InitKVResources();
