#include "common/publicFun.h"

#include "common/safetyGuard.h"
#include "platform/dateTime.h"
#include "platform/fileSystem.h"
#include "platform/folderTree.h"
#include "platform/messageBox.h"
#include "platform/peResources.h"
#include "platform/processes.h"
#include "platform/services.h"
#include "platform/shellFolders.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"

#include <array>
#include <iterator>
#include <vector>

namespace {

constexpr std::array<unsigned char, 5> InstallDayKey = {0x05, 0x02, 0x09, 0x03, 0x06};

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

// ---- Settings file ----

void WriteDefaultSettings(const std::string& fileName) {
    platform::TDateTime now = platform::Now();
    const std::string lines[] = {
        "[Settings]",
        "View Style=2",
        "Hidden RightTips=0",
        "Hidden Process=0",
        "Auto Update=0",
        "Delete Update=1",
        "Windows Startup=0",
        "Startup Minimize=0",
        "[Update Information]",
        "Last Time=" + platform::FormatDateTime(LastTimeFormat, now),
        "Install Day=" + EncodeSettingText(platform::FormatDateTime(InstallDayFormat, now)),
    };
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    if (!platform::WriteWholeFile(fileName, text))
        throw platform::EInOutError("Cannot write the file " + fileName);
}

platform::TIniFile OpenSettingsFile(const std::string& fileName) {
    if (!platform::FileExists(fileName))
        WriteDefaultSettings(fileName);
    return platform::TIniFile(fileName);
}

std::string XorScramble(const std::string& s) {
    std::string result = s;
    for (size_t i = 0; i < result.size(); ++i) {
        // Character positions count from 1, key positions from 0.
        auto key = InstallDayKey[(i + 1) % InstallDayKey.size()];
        result[i] = static_cast<char>(static_cast<unsigned char>(result[i]) ^ key);
    }
    return result;
}

std::string StrToHex(const std::string& s) {
    std::string hex;
    hex.reserve(s.size() * 2);
    for (char c : s)
        hex += platform::IntToHex(static_cast<unsigned char>(c), 2);
    return hex;
}

std::string HexToStr(const std::string& hex) {
    std::string s;
    size_t p = 0;
    while (p < hex.size()) {
        while (p < hex.size() && HexDigitValue(hex[p]) < 0)
            ++p;
        if (p >= hex.size())
            break;
        int value = HexDigitValue(hex[p]);
        if (p + 1 < hex.size() && HexDigitValue(hex[p + 1]) >= 0)
            value = value * 16 + HexDigitValue(hex[p + 1]);
        s += static_cast<char>(value);
        p += 2;
    }
    return s;
}

std::string EncodeSettingText(const std::string& s) {
    return StrToHex(XorScramble(s));
}

std::string DecodeSettingText(const std::string& s) {
    return XorScramble(HexToStr(s));
}

// ---- System services ----

namespace {

constexpr int SpecialFolderCsidls[] = {
    platform::CSIDL_COMMON_PROGRAMS,  platform::CSIDL_STARTMENU,
    platform::CSIDL_COMMON_STARTMENU, platform::CSIDL_COMMON_STARTUP,
    platform::CSIDL_DESKTOP,          platform::CSIDL_PROGRAMS,
    platform::CSIDL_PERSONAL,         platform::CSIDL_FAVORITES,
    platform::CSIDL_STARTUP,          platform::CSIDL_RECENT,
    platform::CSIDL_SENDTO,           platform::CSIDL_DESKTOPDIRECTORY,
    platform::CSIDL_NETHOOD,          platform::CSIDL_FONTS,
    platform::CSIDL_TEMPLATES,        platform::CSIDL_COMMON_DESKTOPDIRECTORY,
    platform::CSIDL_APPDATA,          platform::CSIDL_PRINTHOOD,
    platform::CSIDL_COMMON_FAVORITES, platform::CSIDL_INTERNET_CACHE,
    platform::CSIDL_COOKIES,
};

bool IsDotEntry(const platform::TFindData& entry) {
    return (entry.Attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (entry.Name == "." || entry.Name == "..");
}

} // namespace

int SpecialFolderCsidl(int index) {
    if (index < 1 || index > static_cast<int>(std::size(SpecialFolderCsidls)))
        return platform::CSIDL_HISTORY;
    return SpecialFolderCsidls[index - 1];
}

void GetSpecialFolder(int index, std::string& path) {
    path = platform::GetSpecialFolderPath(SpecialFolderCsidl(index));
}

bool IsFolderEmpty(const std::string& folder) {
    for (const auto& entry : platform::FindFiles(platform::IncludeTrailingBackslash(folder) + "*.*"))
        if (!IsDotEntry(entry))
            return false;
    return true;
}

bool DeleteFolderTree(const std::string& folder) {
    if (!safetyGuard::MayDeleteFolder(folder))
        return false;
    return platform::DeleteTree(folder);
}

bool DeleteItemFile(const std::string& file) {
    if (!safetyGuard::MayDeleteFile(file))
        return false;
    platform::SetFileAttributes(file, platform::FILE_ATTRIBUTE_NORMAL);
    return platform::DeleteFile(file);
}

bool DeleteShellEntryFile(const std::string& entry) {
    return safetyGuard::MayDeleteShellEntryFile(entry) && platform::DeleteFile(entry);
}

bool DeleteShellEntryTree(const std::string& entry) {
    if (!safetyGuard::MayDeleteShellEntryTree(entry))
        return false;
    return platform::DeleteTree(entry);
}

bool ProcessMatches(const std::string& exeFile, const std::string& exeName) {
    const size_t separator = exeFile.find_last_of("\\:");
    const std::string fileName = separator == std::string::npos ? exeFile : exeFile.substr(separator + 1);
    const std::string wanted = platform::UpperCase(exeName);
    return platform::UpperCase(fileName) == wanted || platform::UpperCase(exeFile) == wanted;
}

bool IsProcessRunning(const std::string& exeName) {
    for (const auto& entry : platform::CreateProcessSnapshot())
        if (ProcessMatches(entry.ExeFile, exeName))
            return true;
    return false;
}

void KillProcessByName(const std::string& exeName) {
    for (const auto& entry : platform::CreateProcessSnapshot()) {
        if (!ProcessMatches(entry.ExeFile, exeName))
            continue;
        if (safetyGuard::MayEndProcess(entry.ProcessId, entry.ExeFile))
            platform::TerminateProcess(entry);
        // The pause gives an ended process time to let go of its files; it follows every match, ended or
        // not, as a failed end does not tell whether the process is still going.
        platform::Sleep(1000);
    }
}

int RemoveService(const std::string& serviceName) {
    auto manager = platform::TServiceManager::Open(platform::SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return -1;
    if (!safetyGuard::MayRemoveService(serviceName))
        return -2;
    auto service = manager->OpenService(serviceName, platform::SERVICE_ALL_ACCESS);
    if (!service)
        return -2;
    service->Control(platform::SERVICE_CONTROL_STOP, safetyGuard::MayEndProcess);
    service->Delete();
    return 1;
}

platform::TDateTime FileTimeToDateTime(platform::TFileTime fileTime, uint16_t toLocal) {
    if (toLocal == 1)
        fileTime = platform::FileTimeToLocalFileTime(fileTime);
    platform::TSystemTime time;
    platform::TDateTime datePart = 0;
    platform::TDateTime timePart = 0;
    if (!platform::FileTimeToSystemTime(fileTime, time) ||
        !platform::TryEncodeDate(time.Year, time.Month, time.Day, datePart) ||
        !platform::TryEncodeTime(time.Hour, time.Minute, time.Second, time.Milliseconds, timePart))
        return 0;
    return datePart >= 0 ? datePart + timePart : datePart - timePart;
}

platform::TDateTime GetFileDate(const std::string& fileName, int which) {
    platform::TDateTime result = platform::Date();
    if (!platform::CanOpenForReading(fileName)) {
        platform::MessageBox("Can not open file!", "Error", platform::MB_OK);
        return result;
    }
    platform::TFileTimes times;
    if (!platform::GetFileTimes(fileName, times))
        return result;
    switch (which) {
    case 1:
        return FileTimeToDateTime(times.Creation, 0);
    case 2:
        return FileTimeToDateTime(times.LastWrite, 0);
    case 3:
        return FileTimeToDateTime(times.LastAccess, 0);
    default:
        return result;
    }
}

void GetFileVersion(const std::string& fileName, std::string& version) {
    version.clear();
    if (platform::GetFileVersionInfoSize(fileName) == 0)
        return;
    std::vector<uint8_t> block;
    if (!platform::GetFileVersionInfo(fileName, block))
        return;
    std::string translation;
    std::vector<uint8_t> value;
    if (platform::VerQueryValue(block, "\\VarFileInfo\\Translation", value) && value.size() >= 4) {
        unsigned language = value[0] | (value[1] << 8);
        unsigned codePage = value[2] | (value[3] << 8);
        translation = platform::IntToHex(language, 4) + platform::IntToHex(codePage, 4);
    }
    if (!platform::VerQueryValue(block, "\\StringFileInfo\\" + translation + "\\FileVersion", value))
        return;
    version.assign(value.begin(), value.end());
    version.resize(version.find('\0') == std::string::npos ? version.size() : version.find('\0'));
}

std::string GetWindowsDir() {
    return platform::GetWindowsDirectory();
}

std::string GetSystemDir() {
    return platform::GetSystemDirectory();
}

void SplitString(const std::string& s, char delimiter, platform::TStringList& list) {
    list.Clear();
    size_t start = 0;
    for (size_t found = s.find(delimiter); found != std::string::npos; found = s.find(delimiter, start)) {
        list.Add(s.substr(start, found - start));
        start = found + 1;
    }
    if (start < s.size())
        list.Add(s.substr(start));
}
