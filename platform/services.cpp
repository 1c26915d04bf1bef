#include "platform/services.h"

#include "platform/fileSystem.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/shellFolders.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"

#include <exception>

namespace platform {

namespace {

constexpr const char* ServicesKey = "System\\CurrentControlSet\\Services";
constexpr const char* ImagePathValue = "ImagePath";

constexpr uint32_t READ_CONTROL = 0x00020000;
constexpr uint32_t GENERIC_READ = 0x80000000;
constexpr uint32_t SC_MANAGER_QUERY_LOCK_STATUS = 0x0010;
constexpr uint32_t SERVICE_QUERY_STATUS = 0x0004;
constexpr uint32_t SERVICE_ENUMERATE_DEPENDENTS = 0x0008;
constexpr uint32_t SERVICE_INTERROGATE = 0x0080;

constexpr uint32_t ManagerReadRights = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE |
                                       SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL | GENERIC_READ;
constexpr uint32_t ServiceReadRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                       SERVICE_ENUMERATE_DEPENDENTS | SERVICE_INTERROGATE | READ_CONTROL |
                                       GENERIC_READ;

// The form in which two Windows paths of one file compare equal: one kind of separator, no doubled ones,
// ASCII letters in capitals.
std::string ComparablePath(const std::string& path) {
    std::string result;
    for (char c : path) {
        char separator = c == '/' ? '\\' : c;
        if (separator == '\\' && !result.empty() && result.back() == '\\')
            continue;
        result += separator;
    }
    return UpperCase(result);
}

bool StartsWithText(const std::string& text, const std::string& start) {
    return text.size() >= start.size() && SameText(text.substr(0, start.size()), start);
}

bool HasWriteRights(uint32_t access, uint32_t readRights) {
    return (access & ~readRights) != 0;
}

} // namespace

std::string ServiceImageFile(const std::string& imagePath) {
    std::string text = Trim(ExpandEnvironmentStrings(imagePath));
    std::string file;
    if (!text.empty() && text[0] == '"') {
        size_t close = text.find('"', 1);
        file = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else {
        // Unquoted, a blank may belong to the path or start the arguments: a name ending in ".exe" ends the
        // path, else an existing file named by the whole text, else the first word.
        const std::string upper = UpperCase(text);
        size_t end = std::string::npos;
        for (size_t found = upper.find(".EXE"); found != std::string::npos;
             found = upper.find(".EXE", found + 1)) {
            size_t after = found + 4;
            if (after == text.size() || text[after] == ' ' || text[after] == '\t') {
                end = after;
                break;
            }
        }
        if (end == std::string::npos)
            end = FileExists(text) ? text.size() : text.find_first_of(" \t");
        file = text.substr(0, end);
    }
    file = Trim(file);
    if (StartsWithText(file, "\\??\\"))
        file = file.substr(4);
    const std::string windows = GetWindowsDirectory();
    if (StartsWithText(file, "\\SystemRoot\\"))
        file = windows + file.substr(11);
    else if (StartsWithText(file, "SystemRoot\\"))
        file = windows + file.substr(10);
    if (file.empty() || (file.size() >= 2 && file[1] == ':'))
        return file;
    if (file[0] == '\\' || file[0] == '/')
        return windows.substr(0, 2) + file;
    // Drivers name their files relative to the Windows directory (system32\drivers\x.sys).
    return windows + "\\" + file;
}

std::unique_ptr<TServiceManager> TServiceManager::Open(uint32_t access) {
    if (HasWriteRights(access, ManagerReadRights)) {
        try {
            TRegistry registry(KEY_ALL_ACCESS);
            registry.SetRootKey(HKEY_LOCAL_MACHINE);
            if (!registry.OpenKey(ServicesKey, false))
                return nullptr;
        } catch (const std::exception&) {
            return nullptr;
        }
    }
    return std::make_unique<TServiceManager>(TPrivate{}, access);
}

std::unique_ptr<TService> TServiceManager::OpenService(const std::string& serviceName,
                                                       uint32_t access) const {
    // A backslash would reach another key than a service's own.
    if (serviceName.empty() || serviceName.find('\\') != std::string::npos)
        return nullptr;
    bool writable = HasWriteRights(access, ServiceReadRights);
    if (writable && !HasWriteRights(FAccess, ManagerReadRights))
        return nullptr;
    try {
        TRegistry registry(KEY_READ);
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        if (!registry.OpenKeyReadOnly(std::string(ServicesKey) + "\\" + serviceName) ||
            !registry.ValueExists(ImagePathValue))
            return nullptr;
        std::string imageFile;
        try {
            imageFile = ServiceImageFile(registry.ReadString(ImagePathValue));
        } catch (const ERegistryException&) {
            // An image path that is not text names no program file; the service can still be deleted.
        }
        return std::make_unique<TService>(TService::TPrivate{}, serviceName, imageFile, writable);
    } catch (const std::exception&) {
        return nullptr;
    }
}

bool TService::Control(uint32_t control, const TProcessFilter& mayEnd) {
    if (control != SERVICE_CONTROL_STOP || !FWritable || FImageFile.empty())
        return false;
    const std::string image = ComparablePath(FImageFile);
    bool ended = false;
    for (const auto& entry : CreateProcessSnapshot()) {
        if (ComparablePath(entry.ExeFile) != image)
            continue;
        if (mayEnd && !mayEnd(entry.ProcessId, entry.ExeFile))
            continue;
        ended = TerminateProcess(entry) || ended;
    }
    return ended;
}

bool TService::Delete() {
    if (!FWritable)
        return false;
    try {
        TRegistry registry(KEY_ALL_ACCESS);
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        return registry.DeleteKey("\\" + std::string(ServicesKey) + "\\" + FName);
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace platform
