#pragma once

#include <string>

// Starts the program file FileName (a full Windows path) without waiting for it and without arguments,
// detached from the updater, so that it lives on after the updater ends. False when it could not be started.
bool StartProgram(const std::string& fileName);
