#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace platform {

// Access rights and controls of the service control manager, with the platform's values.
inline constexpr uint32_t SC_MANAGER_CONNECT = 0x0001;
inline constexpr uint32_t SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
inline constexpr uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;
inline constexpr uint32_t SERVICE_QUERY_CONFIG = 0x0001;
inline constexpr uint32_t SERVICE_ALL_ACCESS = 0xF01FF;
inline constexpr uint32_t SERVICE_CONTROL_STOP = 0x1;

class TService;

// The service control manager of the prefix. A service is a key under
// HKLM\System\CurrentControlSet\Services that holds an "ImagePath" value. Opening the manager with any
// right beyond connecting and enumerating needs a writable HKLM, as full access needs administrative
// rights on Windows. Closing is the destruction of the object (CloseServiceHandle).
class TServiceManager {
    struct TPrivate {
        explicit TPrivate() = default;
    };

public:
    TServiceManager(TPrivate, uint32_t access) : FAccess(access) {}

    // OpenSCManager of the local machine and its default database; null on failure.
    static std::unique_ptr<TServiceManager> Open(uint32_t access);

    // OpenService; null when the service does not exist, or the rights asked exceed the manager's.
    std::unique_ptr<TService> OpenService(const std::string& serviceName, uint32_t access) const;

private:
    uint32_t FAccess;
};

// An open service (a service handle).
class TService {
    friend class TServiceManager;
    struct TPrivate {
        explicit TPrivate() = default;
    };

public:
    TService(TPrivate, std::string name, std::string imageFile, bool writable)
        : FName(std::move(name)), FImageFile(std::move(imageFile)), FWritable(writable) {}

    // The process filter of a stop: whether a process (id, program-file text) may be ended.
    using TProcessFilter = std::function<bool(uint32_t processId, const std::string& exeFile)>;

    const std::string& Name() const { return FName; }
    // The service's program file as a full Windows path: the ImagePath without quotes and arguments,
    // %SystemRoot% style references expanded, a path relative to the Windows directory made full.
    const std::string& ImageFile() const { return FImageFile; }

    // ControlService: SERVICE_CONTROL_STOP ends the service's processes, those whose program file is its
    // image file (compared without regard to case), each only when MayEnd allows it. False for another
    // control, for a service opened without write rights, or when no process was ended.
    bool Control(uint32_t control, const TProcessFilter& mayEnd);
    // DeleteService: removes the service's key with all it holds.
    bool Delete();

private:
    std::string FName;
    std::string FImageFile;
    bool FWritable;
};

// The program file of a service's ImagePath value, as TService::ImageFile gives it.
std::string ServiceImageFile(const std::string& imagePath);

} // namespace platform
