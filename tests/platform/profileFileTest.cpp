#include "platform/profileFile.h"

#include "platform/winePath.h"
#include "support/tempMachine.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;

namespace {

constexpr const char* IniPath = "C:\\Program Files\\Acme\\Settings.ini";

class ProfileFileTest : public testing::Test {
protected:
    fs::path IniHost() const { return Machine.HostPath(IniPath); }

    void WriteIni(const std::string& text) const { Machine.WriteHostFile(IniHost(), text); }

    std::string ReadIni() const {
        std::ifstream in(IniHost(), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

    // The names in the profile's folder other than the profile itself: leftovers of a replacement.
    std::vector<std::string> StrayFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(IniHost().parent_path()))
            if (entry.path().filename() != "Settings.ini")
                names.push_back(entry.path().filename().string());
        return names;
    }

    std::string Read(const std::string& section, const std::string& key,
                     const std::string& defaultValue = "<d>", size_t bufferSize = 2048) const {
        return GetPrivateProfileString(section, key, defaultValue, IniPath, bufferSize);
    }

    TTempMachine Machine;
};

TEST_F(ProfileFileTest, ReadsSectionsAndKeysWithoutRegardToCaseOrBlanks) {
    WriteIni("orphan=before any section\r\n"
             "[Settings]\r\n"
             "View Style=2\r\n"
             "  Hidden Process  =   1   \r\n"
             "Tabbed\t=\tvalue\t\r\n"
             "Quoted=\"  spaced  \"\r\n"
             "Single='x'\r\n"
             "Half=\"open\r\n"
             "Empty=\r\n"
             "Dup=first\r\n"
             "Dup=second\r\n"
             "NoEquals\r\n"
             "Equals=a=b\r\n"
             "\r\n"
             "  [ Update Information ]  \n"
             "Last Time=2024-01-02 03:04:05\n"
             "[settings]\r\n"
             "Extra=from the second block\r\n"
             "Dup=third\r\n");
    const struct {
        const char* Section;
        const char* Key;
        const char* Default;
        const char* Expected;
    } cases[] = {
        {"Settings", "View Style", "9", "2"},
        {"SETTINGS", "view style", "9", "2"},
        {" Settings ", " View Style ", "9", "2"},
        {"Settings", "Hidden Process", "9", "1"},
        {"Settings", "Tabbed", "", "value"},
        {"Settings", "Quoted", "", "  spaced  "},
        {"Settings", "Single", "", "x"},
        {"Settings", "Half", "", "\"open"},
        {"Settings", "Empty", "def", ""},
        {"Settings", "Dup", "", "first"},
        {"Settings", "NoEquals", "def", ""},
        {"Settings", "Equals", "", "a=b"},
        {"update information", "LAST TIME", "", "2024-01-02 03:04:05"},
        {"Settings", "Extra", "", "from the second block"},
        {"Settings", "Missing", "def  ", "def"},
        {"Nope", "View Style", "def", "def"},
        {"Settings", "Last Time", "def", "def"},
        {"", "orphan", "def", "def"},
        {"Settings", "", "def", "def"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Section) + "/" + c.Key);
        EXPECT_EQ(Read(c.Section, c.Key, c.Default), c.Expected);
    }
}

TEST_F(ProfileFileTest, MissingFilesGiveTheDefault) {
    EXPECT_EQ(Read("Settings", "View Style", "2"), "2");
    EXPECT_EQ(GetPrivateProfileString("Settings", "View Style", "2", "Q:\\Settings.ini"), "2");
    EXPECT_EQ(GetPrivateProfileString("Settings", "View Style", "2", "Settings.ini"), "2");
    Machine.MakeFolder(IniPath);
    EXPECT_EQ(Read("Settings", "View Style", "2"), "2");
}

TEST_F(ProfileFileTest, TheBufferCutsTheResult) {
    std::string longValue(3000, 'v');
    WriteIni("[S]\r\nlong=" + longValue + "\r\nshort=abcdef\r\n");
    EXPECT_EQ(Read("S", "long"), std::string(2047, 'v'));
    EXPECT_EQ(Read("S", "short", "", 4), "abc");
    EXPECT_EQ(Read("S", "missing", "defaults", 4), "def");
    EXPECT_EQ(Read("S", "short", "", 0), "");
    EXPECT_EQ(Read("S", "short", "", 1), "");
}

TEST_F(ProfileFileTest, WritingAKeyReplacesOnlyItsLine) {
    const std::string before = "; a comment line\r\n"
                               "[Settings]\r\n"
                               "View Style=2\n"
                               "  Hidden RightTips = 0  \r\n"
                               "Odd   spacing ==  kept\r\n"
                               "\r\n"
                               "[Other]\r\n"
                               "Hidden RightTips=7\r\n";
    WriteIni(before);
    ASSERT_TRUE(WritePrivateProfileString("SETTINGS", "hidden righttips", "1", IniPath));
    EXPECT_EQ(ReadIni(), "; a comment line\r\n"
                         "[Settings]\r\n"
                         "View Style=2\n"
                         "Hidden RightTips=1\r\n"
                         "Odd   spacing ==  kept\r\n"
                         "\r\n"
                         "[Other]\r\n"
                         "Hidden RightTips=7\r\n");
    ASSERT_TRUE(WritePrivateProfileString("Settings", "View Style", "", IniPath));
    EXPECT_EQ(Read("Settings", "View Style"), "");
    EXPECT_EQ(Read("Other", "Hidden RightTips"), "7");
}

TEST_F(ProfileFileTest, ANewKeyFollowsTheLastEntryOfItsSection) {
    WriteIni("[Settings]\r\n"
             "View Style=2\r\n"
             "\r\n"
             "[Update Information]\r\n"
             "Last Time=x\r\n"
             "[settings]\r\n"
             "Later=1\r\n");
    ASSERT_TRUE(WritePrivateProfileString("Settings", "Auto Update", "1", IniPath));
    EXPECT_FALSE(WritePrivateProfileString("  [ignored]  ", "k", "v", IniPath));
    ASSERT_TRUE(WritePrivateProfileString("Settings", "Later", "2", IniPath));
    EXPECT_EQ(ReadIni(), "[Settings]\r\n"
                         "View Style=2\r\n"
                         "Auto Update=1\r\n"
                         "\r\n"
                         "[Update Information]\r\n"
                         "Last Time=x\r\n"
                         "[settings]\r\n"
                         "Later=2\r\n");
}

TEST_F(ProfileFileTest, SectionsWithoutEntriesAndUnterminatedLastLines) {
    const struct {
        const char* Before;
        const char* After;
    } cases[] = {
        {"", "[S]\r\nk=v\r\n"},
        {"[S]\r\n", "[S]\r\nk=v\r\n"},
        {"[S]", "[S]\r\nk=v\r\n"},
        {"  [ s ]  \r\n", "  [ s ]  \r\nk=v\r\n"},
        {"[S]\r\na=1", "[S]\r\na=1\r\nk=v\r\n"},
        {"[S]\na=1\n[T]\n", "[S]\na=1\nk=v\r\n[T]\n"},
        {"[T]\r\nx=1", "[T]\r\nx=1\r\n[S]\r\nk=v\r\n"},
        {"[T]\nx=1\n", "[T]\nx=1\n[S]\r\nk=v\r\n"},
        {"[S]\r\nk=old", "[S]\r\nk=v"},
        {"\xEF\xBB\xBF[S]\r\nk=old\r\n", "\xEF\xBB\xBF[S]\r\nk=v\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Before);
        WriteIni(c.Before);
        ASSERT_TRUE(WritePrivateProfileString("S", "k", "v", IniPath));
        EXPECT_EQ(ReadIni(), c.After);
        EXPECT_EQ(Read("S", "k"), "v");
    }
}

TEST_F(ProfileFileTest, AMissingFileIsCreatedWithCrLf) {
    fs::create_directories(IniHost().parent_path());
    ASSERT_TRUE(
        WritePrivateProfileString("Settings", "View Style", "2", "c:\\PROGRAM FILES\\ACME\\Settings.ini"));
    ASSERT_TRUE(WritePrivateProfileString("Update Information", "Last Time", "2024-01-02 03:04:05", IniPath));
    EXPECT_EQ(ReadIni(),
              "[Settings]\r\nView Style=2\r\n[Update Information]\r\nLast Time=2024-01-02 03:04:05\r\n");
    EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(ProfileFileTest, TheReplacementKeepsPermissionsAttributesAndLinks) {
    WriteIni("[S]\r\nk=1\r\n");
    fs::permissions(IniHost(), fs::perms(0640));
    Machine.SetDosAttributes(IniHost(), 2);
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "2", IniPath));
    struct stat info {};
    ASSERT_EQ(stat(IniHost().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    char value[8] = {};
    EXPECT_EQ(getxattr(IniHost().c_str(), "user.DOSATTRIB", value, sizeof(value)), 3);
    EXPECT_EQ(std::string(value), "0x2");

    Machine.WriteHostFile(Machine.Root() / "elsewhere" / "real.ini", "[S]\r\nk=1\r\n");
    Machine.MakeLink("C:\\Program Files\\Acme\\linked.ini", Machine.Root() / "elsewhere" / "real.ini");
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "2", "C:\\Program Files\\Acme\\linked.ini"));
    EXPECT_TRUE(fs::is_symlink(Machine.HostPath("C:\\Program Files\\Acme\\linked.ini")));
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", "C:\\Program Files\\Acme\\linked.ini"), "2");
}

TEST_F(ProfileFileTest, WritesFailWhereTheFileCannotBeWritten) {
    WriteIni("[S]\r\nk=1\r\n");
    fs::permissions(IniHost(), fs::perms(0444));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", IniPath));
    EXPECT_EQ(ReadIni(), "[S]\r\nk=1\r\n");
    fs::permissions(IniHost(), fs::perms(0644));

    ASSERT_TRUE(Machine.SetImmutable(IniHost(), true));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", IniPath));
    EXPECT_EQ(ReadIni(), "[S]\r\nk=1\r\n");
    ASSERT_TRUE(Machine.SetImmutable(IniHost(), false));

    fs::path folder = IniHost().parent_path();
    ASSERT_TRUE(Machine.SetImmutable(folder, true));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", IniPath));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", "C:\\Program Files\\Acme\\New.ini"));
    ASSERT_TRUE(Machine.SetImmutable(folder, false));
    EXPECT_EQ(ReadIni(), "[S]\r\nk=1\r\n");
    EXPECT_TRUE(StrayFiles().empty());

    EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", "C:\\Missing Folder\\Settings.ini"));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", "Q:\\Settings.ini"));
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", "C:\\Program Files"));
}

TEST_F(ProfileFileTest, NamesAndValuesThatWouldBreakTheFileAreRefused) {
    WriteIni("[S]\r\nk=1\r\n");
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "1\r\n[Injected]\r\nx=y", IniPath));
    EXPECT_FALSE(WritePrivateProfileString("S", "k\nx", "1", IniPath));
    EXPECT_FALSE(WritePrivateProfileString("S]x", "k", "1", IniPath));
    EXPECT_FALSE(WritePrivateProfileString("S", "a=b", "1", IniPath));
    EXPECT_FALSE(WritePrivateProfileString("S", "[k]", "1", IniPath));
    EXPECT_FALSE(WritePrivateProfileString("", "k", "1", IniPath));
    EXPECT_FALSE(WritePrivateProfileString("S", " ", "1", IniPath));
    EXPECT_EQ(ReadIni(), "[S]\r\nk=1\r\n");
}

TEST_F(ProfileFileTest, ConcurrentWritersOfDifferentKeysLoseNone) {
    constexpr int Writers = 8;
    constexpr int KeysEach = 15;
    WriteIni("[Settings]\r\nView Style=2\r\n");
    std::vector<pid_t> children;
    for (int writer = 0; writer < Writers; ++writer) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int failures = 0;
            for (int key = 0; key < KeysEach; ++key) {
                std::string section = key % 2 == 0 ? "Settings" : "Writer " + std::to_string(writer);
                std::string name = "Key " + std::to_string(writer) + "." + std::to_string(key);
                if (!WritePrivateProfileString(section, name, std::to_string(key), IniPath))
                    ++failures;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int writer = 0; writer < Writers; ++writer) {
        for (int key = 0; key < KeysEach; ++key) {
            std::string section = key % 2 == 0 ? "Settings" : "Writer " + std::to_string(writer);
            std::string name = "Key " + std::to_string(writer) + "." + std::to_string(key);
            EXPECT_EQ(Read(section, name), std::to_string(key)) << section << "/" << name;
        }
    }
    EXPECT_EQ(Read("Settings", "View Style"), "2");
    EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(ProfileFileTest, ConcurrentThreadsLoseNone) {
    constexpr int Writers = 4;
    constexpr int KeysEach = 20;
    fs::create_directories(IniHost().parent_path());
    std::vector<std::thread> threads;
    std::vector<int> failures(Writers, 0);
    for (int writer = 0; writer < Writers; ++writer)
        threads.emplace_back([writer, &failures] {
            for (int key = 0; key < KeysEach; ++key)
                if (!WritePrivateProfileString("S", "t" + std::to_string(writer) + "." + std::to_string(key),
                                               "x", IniPath))
                    ++failures[static_cast<size_t>(writer)];
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int writer = 0; writer < Writers; ++writer) {
        EXPECT_EQ(failures[static_cast<size_t>(writer)], 0);
        for (int key = 0; key < KeysEach; ++key)
            EXPECT_EQ(Read("S", "t" + std::to_string(writer) + "." + std::to_string(key)), "x");
    }
}

} // namespace
