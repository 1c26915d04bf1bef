#include "platform/lookupScope.h"

#include "platform/fileSystem.h"
#include "platform/registry.h"
#include "platform/winePath.h"
#include "support/hiveBuilder.h"
#include "support/tempMachine.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;
using platform::CurrentLookupScope;
using platform::DirectoryExists;
using platform::FileExists;
using platform::TLookupScope;

namespace {

TEST(LookupScopeTest, NestedScopesShareTheOutermostNumber) {
    EXPECT_EQ(CurrentLookupScope(), 0u);
    uint64_t first = 0;
    {
        TLookupScope outer;
        first = CurrentLookupScope();
        EXPECT_NE(first, 0u);
        {
            TLookupScope inner;
            EXPECT_EQ(CurrentLookupScope(), first);
        }
        EXPECT_EQ(CurrentLookupScope(), first);
        uint64_t other = 1;
        std::thread([&other] { other = CurrentLookupScope(); }).join();
        EXPECT_EQ(other, 0u); // a scope belongs to its thread
    }
    EXPECT_EQ(CurrentLookupScope(), 0u);
    TLookupScope next;
    EXPECT_NE(CurrentLookupScope(), first);
}

// The folders of these tests are fresh, so outside a scope nothing of them is remembered.
class ScopedLookupTest : public testing::Test {
protected:
    void SetUp() override {
        Machine.WriteFile("C:\\App\\Data\\keep.txt", "x");
        Machine.WriteFile("C:\\App\\Data\\gone.txt", "x");
        Machine.MakeFolder("C:\\App\\Empty");
    }

    TTempMachine Machine;
};

TEST_F(ScopedLookupTest, AnotherProgramsChangeShowsAfterTheScopeOnly) {
    const fs::path data = Machine.DriveC() / "App" / "Data";
    {
        TLookupScope scope;
        EXPECT_FALSE(FileExists("C:\\App\\Data\\new.txt"));
        EXPECT_TRUE(FileExists("C:\\APP\\DATA\\KEEP.TXT"));
        Machine.WriteHostFile(data / "new.txt", "x");
        fs::remove(data / "keep.txt");
        // Both answers come from the folder's listing, read once for the scope.
        EXPECT_FALSE(FileExists("C:\\App\\Data\\NEW.TXT"));
        EXPECT_TRUE(FileExists("C:\\app\\data\\keep.txt"));
    }
    EXPECT_TRUE(FileExists("C:\\App\\Data\\NEW.TXT"));
    EXPECT_FALSE(FileExists("C:\\app\\data\\keep.txt"));
    EXPECT_EQ(platform::ResolvePath("C:\\app\\data\\NEW.txt"), data / "new.txt");
}

TEST_F(ScopedLookupTest, TheScopesOwnChangesShowAtOnce) {
    TLookupScope scope;
    EXPECT_TRUE(FileExists("C:\\APP\\DATA\\GONE.TXT"));
    EXPECT_FALSE(FileExists("C:\\App\\Data\\made.txt"));
    EXPECT_FALSE(DirectoryExists("C:\\App\\New"));

    EXPECT_TRUE(platform::DeleteFile("C:\\App\\Data\\gone.txt"));
    EXPECT_FALSE(FileExists("C:\\APP\\DATA\\GONE.TXT"));
    EXPECT_TRUE(platform::WriteWholeFile("C:\\App\\Data\\made.txt", "x"));
    EXPECT_TRUE(FileExists("C:\\app\\data\\MADE.TXT"));
    EXPECT_TRUE(platform::MoveFile("C:\\App\\Data\\made.txt", "C:\\App\\Empty\\moved.txt"));
    EXPECT_FALSE(FileExists("C:\\app\\data\\MADE.TXT"));
    EXPECT_TRUE(FileExists("C:\\app\\empty\\MOVED.TXT"));
    EXPECT_TRUE(platform::CopyFile("C:\\App\\Empty\\moved.txt", "C:\\App\\Data\\copy.txt", true));
    EXPECT_TRUE(FileExists("C:\\APP\\DATA\\COPY.TXT"));

    EXPECT_TRUE(platform::CreateDirectory("C:\\App\\New"));
    EXPECT_TRUE(DirectoryExists("C:\\APP\\NEW"));
    EXPECT_TRUE(platform::RemoveDirectory("C:\\App\\New"));
    EXPECT_FALSE(DirectoryExists("C:\\APP\\NEW"));
}

TEST_F(ScopedLookupTest, FilesAndFoldersKeepTheirKindsInsideAScope) {
    TLookupScope scope;
    for (int pass = 0; pass < 2; ++pass) { // the second pass answers from the listings
        EXPECT_TRUE(FileExists("C:\\app\\data\\keep.txt"));
        EXPECT_FALSE(DirectoryExists("C:\\app\\data\\keep.txt"));
        EXPECT_TRUE(DirectoryExists("C:\\app\\empty"));
        EXPECT_FALSE(FileExists("C:\\app\\empty"));
        EXPECT_FALSE(FileExists("C:\\app\\missing\\keep.txt"));
        EXPECT_FALSE(FileExists("Q:\\app"));
    }
}

// What the registry reads of HKLM\Software\Acme\Path, or "<no key>".
std::string ReadAcmePath() {
    platform::TRegistry registry(platform::KEY_READ);
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey("\\Software\\Acme", false))
        return "<no key>";
    return registry.ReadString("Path");
}

std::string AcmeHive(const std::string& path) {
    return THiveBuilder(THiveBuilder::System).Key("Software\\Acme").String("Path", path).Text();
}

TEST(ScopedRegistryTest, AHiveIsCheckedOncePerScopeAndTheScopesOwnWritesShow) {
    TTempMachine machine;
    machine.WriteRegistryFile("system.reg", AcmeHive("C:\\Old"));
    {
        TLookupScope scope;
        EXPECT_EQ(ReadAcmePath(), "C:\\Old");
        // Another program's change, with another size so that even a coarse clock would show it.
        machine.WriteRegistryFile("system.reg", AcmeHive("C:\\Changed by another"));
        EXPECT_EQ(ReadAcmePath(), "C:\\Old");

        platform::TRegistry registry;
        registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
        // A write checks the file under the writers' lock, so it keeps the other program's change.
        ASSERT_TRUE(registry.OpenKey("\\Software\\Acme", false));
        registry.WriteString("Other", "mine");
        EXPECT_EQ(ReadAcmePath(), "C:\\Changed by another");
        EXPECT_TRUE(registry.DeleteKey("\\Software\\Acme"));
        EXPECT_EQ(ReadAcmePath(), "<no key>");
    }
    machine.WriteRegistryFile("system.reg", AcmeHive("C:\\After"));
    EXPECT_EQ(ReadAcmePath(), "C:\\After");
}

} // namespace
