#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// A machine of a test's own: a temporary folder holding a Wine prefix (dosdevices c: -> ../drive_c and
// z: -> /, a drive_c with Wine's top folders and the user's profile), a program folder, and a fake home
// folder. While it lives, WINEPREFIX, HOME, TMPDIR, XDG_RUNTIME_DIR and USER ("tester") point into it and
// the program's own file is <program folder>/KV.exe; the destructor restores them and removes the folder.
class TTempMachine {
public:
    TTempMachine();
    ~TTempMachine();
    TTempMachine(const TTempMachine&) = delete;
    TTempMachine& operator=(const TTempMachine&) = delete;

    static constexpr const char* UserName = "tester";

    const std::filesystem::path& Root() const { return FRoot; }
    std::filesystem::path Prefix() const { return FRoot / "prefix"; }
    std::filesystem::path DriveC() const { return Prefix() / "drive_c"; }
    std::filesystem::path Home() const { return FRoot / "home"; }
    std::filesystem::path ProgramFolder() const { return FRoot / "program"; }
    std::filesystem::path ProgramFile() const { return ProgramFolder() / "KV.exe"; }
    // The program folder as Windows sees it, with a trailing backslash (Z:\...\program\).
    std::string ProgramFolderWindows() const;

    // The Linux path of a C: path, spelled as given ("C:\Program Files\x" -> <drive_c>/Program Files/x).
    std::filesystem::path HostPath(const std::string& windowsPath) const;
    // Writes a file (making its folders) at a C: path or a Linux path.
    void WriteFile(const std::string& windowsPath, const std::string& content) const;
    void WriteHostFile(const std::filesystem::path& path, const std::string& content) const;
    void MakeFolder(const std::string& windowsPath) const;
    // A symbolic link at a C: path pointing to Target (a Linux path).
    void MakeLink(const std::string& windowsPath, const std::filesystem::path& target) const;
    // Sets the hidden (2) and system (4) bits in user.DOSATTRIB as Wine writes them; 0 removes the attribute.
    void SetDosAttributes(const std::filesystem::path& path, uint32_t attributes) const;
    // Makes a file or folder immutable (or not), so that even root can neither change nor delete it: the
    // test's locked file or read-only folder. False when the file system does not support it.
    bool SetImmutable(const std::filesystem::path& path, bool immutable) const;

    // Writes one of the prefix's registry files (system.reg, user.reg, userdef.reg) as given.
    void WriteRegistryFile(const std::string& name, const std::string& text) const;
    // Copies a fixture prefix's registry files (tests/data/wine-prefix/<name>) into the prefix.
    void UseFixtureRegistry(const std::string& fixtureName) const;

private:
    void RestoreEnvironment();

    std::filesystem::path FRoot;
    struct TSavedVariable {
        const char* Name;
        bool WasSet;
        std::string Value;
    };
    TSavedVariable FSaved[5];
};
