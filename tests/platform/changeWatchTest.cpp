#include "platform/changeWatch.h"

#include "support/hostFiles.h"
#include "support/tempMachine.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::ChangeStamp;
using platform::TChangeStamp;
using platform::WatchForChanges;

namespace {

class ChangeWatchTest : public ::testing::Test {
protected:
    // Each test gets its own folder (and so its own watches: a path is watched once per process).
    fs::path Folder() const { return FMachine.Root() / "watched"; }
    fs::path File() const { return Folder() / "system.reg"; }

    void SetUp() override {
        fs::create_directories(Folder());
        FMachine.WriteHostFile(File(), "one");
    }

    // Whether Change, done after a first ask, gives watch Id another stamp; asking again without a change
    // must give the same one.
    static bool Changes(int id, const std::function<void()>& change) {
        const TChangeStamp before = ChangeStamp(id);
        EXPECT_NE(before, 0u);
        EXPECT_EQ(ChangeStamp(id), before);
        change();
        const TChangeStamp after = ChangeStamp(id);
        EXPECT_EQ(ChangeStamp(id), after);
        return after != before;
    }

    TTempMachine FMachine;
};

TEST_F(ChangeWatchTest, AFolderSeesEveryChangeOfItsEntries) {
    const int id = WatchForChanges(Folder());
    ASSERT_NE(id, 0);
    EXPECT_EQ(WatchForChanges(Folder()), id);
    const fs::path other = Folder() / "other.txt";
    EXPECT_TRUE(Changes(id, [&] { FMachine.WriteHostFile(other, "x"); }));
    EXPECT_TRUE(Changes(id, [&] { fs::rename(other, Folder() / "renamed.txt"); }));
    EXPECT_TRUE(Changes(id, [&] { chmod(File().c_str(), 0400); }));
    EXPECT_TRUE(Changes(id, [&] { fs::create_directory_symlink("../drive_c", Folder() / "c:"); }));
    EXPECT_TRUE(Changes(id, [&] { fs::remove(Folder() / "c:"); }));
    EXPECT_FALSE(Changes(id, [&] { FMachine.WriteHostFile(FMachine.Root() / "elsewhere.txt", "x"); }));
}

TEST_F(ChangeWatchTest, AFileSeesItsOwnChangesOnly) {
    const int id = WatchForChanges(File());
    ASSERT_NE(id, 0);
    EXPECT_TRUE(Changes(id, [&] { FMachine.WriteHostFile(File(), "two"); }));
    EXPECT_FALSE(Changes(id, [&] { FMachine.WriteHostFile(Folder() / "lock", "x"); }));
    // Replaced by a rename, as a save does; then written through another name of the new file.
    const fs::path fresh = Folder() / "system.reg.new";
    FMachine.WriteHostFile(fresh, "three");
    EXPECT_TRUE(Changes(id, [&] { fs::rename(fresh, File()); }));
    const fs::path otherName = FMachine.Root() / "hard-link";
    fs::create_hard_link(File(), otherName);
    EXPECT_TRUE(Changes(id, [&] { FMachine.WriteHostFile(otherName, "four"); }));
    EXPECT_TRUE(Changes(id, [&] { fs::remove(File()); }));
    EXPECT_TRUE(Changes(id, [&] { FMachine.WriteHostFile(File(), "five"); }));
}

TEST_F(ChangeWatchTest, AFolderThatIsReplacedIsWatchedAgain) {
    const fs::path inner = Folder() / "dosdevices";
    fs::create_directory(inner);
    const int id = WatchForChanges(inner);
    ASSERT_NE(id, 0);
    EXPECT_TRUE(Changes(id, [&] {
        fs::rename(inner, Folder() / "old");
        fs::create_directory(inner);
    }));
    EXPECT_TRUE(Changes(id, [&] { FMachine.WriteHostFile(inner / "c:", "x"); }));
}

TEST_F(ChangeWatchTest, WhatCannotBeWatchedAnswersZero) {
    EXPECT_EQ(ChangeStamp(0), 0u);
    EXPECT_EQ(ChangeStamp(1 << 30), 0u);
    EXPECT_EQ(ChangeStamp(WatchForChanges(Folder() / "missing" / "file")), 0u);
}

// A child process must neither take the parent's notifications nor answer from the parent's watches.
TEST_F(ChangeWatchTest, AForkedChildWatchesOnItsOwn) {
    const int id = WatchForChanges(File());
    const TChangeStamp before = ChangeStamp(id);
    ASSERT_NE(before, 0u);
    const pid_t child = fork();
    if (child == 0) {
        const TChangeStamp first = ChangeStamp(id);
        FMachine.WriteHostFile(File(), "from the child");
        const TChangeStamp second = ChangeStamp(id);
        _exit(first != 0 && second != 0 && second != first ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(ChangeStamp(id), before);
    EXPECT_EQ(ReadHostFile(File()), "from the child");
}

} // namespace
