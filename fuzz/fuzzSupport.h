#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdlib.h>
#include <string>
#include <system_error>

// What the fuzz targets share: the check that stops a run on a wrong answer, and a temporary folder of the
// run's own for the machine a target builds.

// Ends the run (so that libFuzzer keeps the input) when Condition does not hold.
inline void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "mismatch: %s\n", what);
        std::abort();
    }
}

// A new folder under $TMPDIR (else /tmp) named after Name, removed with everything in it when the run ends.
inline std::filesystem::path MakeFuzzFolder(const char* name) {
    static std::filesystem::path folder;
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + name + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        std::abort();
    folder = pattern;
    std::atexit([] {
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    });
    return folder;
}
