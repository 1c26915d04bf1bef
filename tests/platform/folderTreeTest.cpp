#include "platform/folderTree.h"

#include "support/tempMachine.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::string TreeText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(FolderTree, EmptiesReadOnlyFoldersButLeavesTheFolderThatHoldsTheTree) {
    TTempMachine machine;
    machine.WriteFile("C:\\Program Files\\Acme\\locked\\inner\\a.txt", "a");
    machine.WriteFile("C:\\Program Files\\Acme\\b.txt", "b");
    ASSERT_EQ(mkfifo(machine.HostPath("C:\\Program Files\\Acme\\pipe").c_str(), 0600), 0);
    const fs::path locked = machine.HostPath("C:\\Program Files\\Acme\\locked");
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    const fs::path programFiles = machine.HostPath("C:\\Program Files");
    const auto before = fs::status(programFiles).permissions();

    EXPECT_TRUE(platform::DeleteTree("c:\\PROGRAM FILES\\acme\\"));
    EXPECT_FALSE(fs::exists(machine.HostPath("C:\\Program Files\\Acme")));
    EXPECT_EQ(fs::status(programFiles).permissions(), before);
}

TEST(FolderTree, AFileOrNothingIsNoTree) {
    TTempMachine machine;
    machine.WriteFile("C:\\Program Files\\Acme\\acme.exe", "MZ");
    EXPECT_TRUE(platform::DeleteTree("C:\\Program Files\\Acme\\acme.exe"));
    EXPECT_TRUE(fs::exists(machine.HostPath("C:\\Program Files\\Acme\\acme.exe")));
    EXPECT_TRUE(platform::DeleteTree("C:\\Program Files\\Never There"));
    EXPECT_TRUE(platform::DeleteTree("Q:\\no drive"));
}

TEST(FolderTree, AFolderReachedThroughALinkIsDeletedAtItsRealPlaceAndTheLinkStays) {
    TTempMachine machine;
    machine.WriteFile("C:\\Program Files\\Acme\\data\\a.txt", "a");
    machine.MakeLink("C:\\Acme", machine.HostPath("C:\\Program Files\\Acme"));
    EXPECT_TRUE(platform::DeleteTree("C:\\Acme\\data"));
    EXPECT_FALSE(fs::exists(machine.HostPath("C:\\Program Files\\Acme\\data")));
    EXPECT_TRUE(fs::is_symlink(machine.HostPath("C:\\Acme")));
}

TEST(FolderTree, AFolderSwappedForALinkDuringTheWalkIsNeverEntered) {
    TTempMachine machine;
    const fs::path outside = machine.Root() / "outside";
    machine.WriteHostFile(outside / "precious.txt", "mine");
    machine.WriteFile("C:\\Program Files\\Acme\\sub\\a.txt", "a");
    const fs::path sub = machine.HostPath("C:\\Program Files\\Acme\\sub");
    // Listed as a folder, a link by the time the walk enters it.
    platform::SetTreeWalkHookForTesting([&](const std::string& name) {
        if (name == "sub") {
            fs::rename(sub, machine.Root() / "moved");
            fs::create_directory_symlink(outside, sub);
        }
    });
    EXPECT_TRUE(platform::DeleteTree("C:\\Program Files\\Acme"));
    platform::SetTreeWalkHookForTesting({});
    EXPECT_EQ(TreeText(outside / "precious.txt"), "mine");
    EXPECT_FALSE(fs::exists(fs::symlink_status(sub)));
}

} // namespace
