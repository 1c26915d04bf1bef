#include "platform/services.h"

#include "platform/registry.h"
#include "support/childProcess.h"
#include "support/hiveBuilder.h"
#include "support/tempMachine.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(ServiceImageFile, QuotesArgumentsAndReferencesGo) {
    TTempMachine machine;
    machine.WriteFile("C:\\Acme\\my tool", "MZ");
    struct {
        const char* ImagePath;
        const char* File;
    } cases[] = {
        {"\"C:\\Program Files\\Acme\\svc.exe\" -service", "C:\\Program Files\\Acme\\svc.exe"},
        {"C:\\Program Files\\Acme\\svc.exe -service", "C:\\Program Files\\Acme\\svc.exe"},
        {"%ProgramFiles%\\Acme Tool\\svc.EXE", "C:\\Program Files\\Acme Tool\\svc.EXE"},
        {"%SystemRoot%\\system32\\svchost.exe -k netsvcs", "C:\\windows\\system32\\svchost.exe"},
        {"system32\\drivers\\acme.sys", "C:\\windows\\system32\\drivers\\acme.sys"},
        {"\\SystemRoot\\System32\\drivers\\x.sys", "C:\\windows\\System32\\drivers\\x.sys"},
        {"\\??\\C:\\Acme\\drv.sys", "C:\\Acme\\drv.sys"},
        {"\\Acme\\rooted.exe", "C:\\Acme\\rooted.exe"},
        {"C:\\Acme\\my tool", "C:\\Acme\\my tool"},
        {"C:\\Acme\\other tool /x", "C:\\Acme\\other"},
        {"\"C:\\unterminated", "C:\\unterminated"},
        {"  ", ""},
    };
    for (const auto& item : cases)
        EXPECT_EQ(platform::ServiceImageFile(item.ImagePath), item.File) << item.ImagePath;
}

class ServiceManager : public ::testing::Test {
protected:
    void SetUp() override {
        FImage = "acmesvc-" + std::to_string(getpid()) + ".exe";
        FProgram = FMachine.HostPath("C:\\Program Files\\Acme\\" + FImage);
        TChildProcess::CopySleepProgram(FProgram);
        THiveBuilder hive(THiveBuilder::System);
        hive.Key(Services + "AcmeSvc")
            .ExpandString("ImagePath", "\"C:\\Program Files\\acme\\" + FImage + "\" -service")
            .Dword("Start", 2);
        hive.Key(Services + "AcmeSvc\\Parameters").String("Mode", "fast");
        hive.Key(Services + "EventLog\\Application").String("File", "x");
        hive.Key(Services + "Numbered").Dword("ImagePath", 5);
        hive.Key(Services + "Idle").String("ImagePath", "C:\\Acme\\idle.exe");
        FMachine.WriteRegistryFile("system.reg", hive.Text());
    }

    static bool KeyExists(const std::string& path) {
        platform::TRegistry registry(platform::KEY_READ);
        registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
        return registry.KeyExists(Services + path);
    }

    inline static const std::string Services = "System\\CurrentControlSet\\Services\\";
    TTempMachine FMachine;
    std::string FImage;
    fs::path FProgram;
};

TEST_F(ServiceManager, FullAccessNeedsAWritableMachine) {
    EXPECT_NE(platform::TServiceManager::Open(platform::SC_MANAGER_ALL_ACCESS), nullptr);
    fs::permissions(FMachine.Prefix() / "system.reg", fs::perms::owner_read);
    EXPECT_EQ(platform::TServiceManager::Open(platform::SC_MANAGER_ALL_ACCESS), nullptr);

    // Connecting to read stays possible, and its services open only for reading.
    auto reader = platform::TServiceManager::Open(platform::SC_MANAGER_CONNECT);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->OpenService("AcmeSvc", platform::SERVICE_ALL_ACCESS), nullptr);
    auto service = reader->OpenService("AcmeSvc", platform::SERVICE_QUERY_CONFIG);
    ASSERT_NE(service, nullptr);
    EXPECT_FALSE(service->Delete());
    EXPECT_TRUE(KeyExists("AcmeSvc"));
}

TEST_F(ServiceManager, OpensOnlyKeysWithAnImagePath) {
    auto manager = platform::TServiceManager::Open(platform::SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    auto service = manager->OpenService("acmesvc", platform::SERVICE_ALL_ACCESS);
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->ImageFile(), "C:\\Program Files\\acme\\" + FImage);
    for (const char* name : {"EventLog", "NoSuchService", "", "AcmeSvc\\Parameters", "EventLog\\Application"})
        EXPECT_EQ(manager->OpenService(name, platform::SERVICE_ALL_ACCESS), nullptr) << name;
    // An image path that is not text: the service is there, with no program file to stop.
    auto numbered = manager->OpenService("Numbered", platform::SERVICE_ALL_ACCESS);
    ASSERT_NE(numbered, nullptr);
    EXPECT_EQ(numbered->ImageFile(), "");
    EXPECT_FALSE(numbered->Control(platform::SERVICE_CONTROL_STOP, {}));
}

TEST_F(ServiceManager, StopEndsTheImagesProcessesThatTheFilterAllows) {
    TChildProcess kept;
    TChildProcess ended;
    TChildProcess bystander;
    ASSERT_TRUE(kept.Start(FProgram, {FImage, "60"}));
    ASSERT_TRUE(ended.Start(FProgram, {FImage, "60"}));
    fs::path other = FMachine.HostPath("C:\\Program Files\\Acme\\other-" + FImage);
    TChildProcess::CopySleepProgram(other);
    ASSERT_TRUE(bystander.Start(other, {"other", "60"}));

    auto manager = platform::TServiceManager::Open(platform::SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    auto service = manager->OpenService("AcmeSvc", platform::SERVICE_ALL_ACCESS);
    ASSERT_NE(service, nullptr);
    EXPECT_FALSE(service->Control(0x2, {})); // a pause is no stop
    std::vector<uint32_t> asked;
    EXPECT_TRUE(
        service->Control(platform::SERVICE_CONTROL_STOP, [&](uint32_t processId, const std::string& exe) {
            asked.push_back(processId);
            EXPECT_EQ(exe, "C:\\Program Files\\Acme\\" + FImage);
            return processId != kept.ProcessId();
        }));
    EXPECT_TRUE(ended.ReapKilled());
    EXPECT_TRUE(kept.Running());
    EXPECT_TRUE(bystander.Running());
    EXPECT_EQ(asked.size(), 2u);

    // Nothing running: the stop ends nothing.
    auto idle = manager->OpenService("Idle", platform::SERVICE_ALL_ACCESS);
    ASSERT_NE(idle, nullptr);
    EXPECT_FALSE(idle->Control(platform::SERVICE_CONTROL_STOP, {}));
}

TEST_F(ServiceManager, DeleteRemovesTheServiceKeyAndNothingElse) {
    auto manager = platform::TServiceManager::Open(platform::SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    auto service = manager->OpenService("AcmeSvc", platform::SERVICE_ALL_ACCESS);
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(service->Delete());
    EXPECT_FALSE(KeyExists("AcmeSvc"));
    EXPECT_FALSE(KeyExists("AcmeSvc\\Parameters"));
    EXPECT_TRUE(KeyExists("Idle"));
    EXPECT_TRUE(KeyExists("EventLog\\Application"));
    EXPECT_EQ(manager->OpenService("AcmeSvc", platform::SERVICE_ALL_ACCESS), nullptr);
}

} // namespace
