// Builds the demonstration machine from the readable descriptions beside this file: a Wine prefix (its two
// registry files and the files of drive C:) and the program folder with the software database.
//
//     makeDemo <description folder> <output folder>
//
// The output folder gets prefix/ and program/; an existing machine, its settings file and what an update left
// in program/update are replaced. Run KV from program/ with WINEPREFIX=<output folder>/prefix.

#include "tools/databaseWriter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "C:\Program Files\x" -> <drive_c>/Program Files/x
fs::path DriveCPath(const fs::path& driveC, std::string windowsPath) {
    if (windowsPath.size() < 3 || (windowsPath[0] != 'C' && windowsPath[0] != 'c') || windowsPath[1] != ':')
        throw std::runtime_error("not a C: path: " + windowsPath);
    for (char& c : windowsPath)
        if (c == '\\')
            c = '/';
    return driveC / windowsPath.substr(3);
}

void MakePrefix(const fs::path& descriptions, const fs::path& prefix, const std::string& user) {
    const fs::path driveC = prefix / "drive_c";
    fs::create_directories(prefix / "dosdevices");
    fs::create_symlink("../drive_c", prefix / "dosdevices" / "c:");
    fs::create_symlink("/", prefix / "dosdevices" / "z:");
    for (const std::string folder :
         {"windows/system32", "Program Files", "ProgramData/Microsoft/Windows/Start Menu/Programs/StartUp",
          "users/Public/Desktop", "users/Public/Documents"})
        fs::create_directories(driveC / folder);
    for (const std::string folder : {"Desktop", "Documents", "Favorites", "AppData/Local", "Temp",
                                     "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/StartUp"})
        fs::create_directories(driveC / "users" / user / folder);
    // The hives name the user's profile as {user}, which Wine writes as the name the prefix runs under.
    for (const std::string hive : {"system.reg", "user.reg"}) {
        std::string text = ReadText(descriptions / hive);
        const std::string placeholder = "{user}";
        for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at)) {
            text.replace(at, placeholder.size(), user);
            at += user.size();
        }
        std::ofstream(prefix / hive, std::ios::binary) << text;
    }
    std::ofstream(prefix / "userdef.reg", std::ios::binary)
        << "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\.Default\n\n#arch=win64\n";

    std::istringstream files(ReadText(descriptions / "files.txt"));
    for (std::string line; std::getline(files, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const fs::path file = DriveCPath(driveC, line);
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << "demo file\n";
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::cerr << "usage: makeDemo <description folder> <output folder>\n";
        return 2;
    }
    try {
        const fs::path descriptions = argv[1];
        const fs::path output = argv[2];
        const char* userVariable = std::getenv("USER");
        const std::string user = userVariable && *userVariable ? userVariable : "user";
        fs::remove_all(output / "prefix");
        fs::remove(output / "program" / "Settings.ini");
        fs::remove_all(output / "program" / "update");
        fs::create_directories(output / "program");
        MakePrefix(descriptions, output / "prefix", user);
        TDatabaseWriter::Parse(ReadText(descriptions / "database.txt")).WriteFiles(output / "program");
        std::cout << "Demo machine: " << output.string() << "\n";
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "makeDemo: " << error.what() << "\n";
        return 1;
    }
}
