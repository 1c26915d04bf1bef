#include "platform/fileSystem.h"

#include "platform/winePath.h"
#include "support/fileSizeLimit.h"
#include "support/tempMachine.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace fs = std::filesystem;
using namespace platform;

namespace {

constexpr uint32_t A = FILE_ATTRIBUTE_ARCHIVE;
constexpr uint32_t R = FILE_ATTRIBUTE_READONLY;
constexpr uint32_t H = FILE_ATTRIBUTE_HIDDEN;
constexpr uint32_t S = FILE_ATTRIBUTE_SYSTEM;
constexpr uint32_t D = FILE_ATTRIBUTE_DIRECTORY;
constexpr uint32_t L = FILE_ATTRIBUTE_REPARSE_POINT;

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::string RawDosAttribute(const fs::path& path) {
    char value[64] = {};
    ssize_t length = getxattr(path.c_str(), "user.DOSATTRIB", value, sizeof(value));
    return length < 0 ? std::string("<none>") : std::string(value, static_cast<size_t>(length));
}

std::string HostContent(const fs::path& path) {
    std::string content;
    EXPECT_TRUE(ReadWholeFile(ToWindowsPath(path), content));
    return content;
}

class FileSystemTest : public testing::Test {
protected:
    fs::path Host(const std::string& windowsPath) const { return Machine.HostPath(windowsPath); }

    TTempMachine Machine;
};

TEST_F(FileSystemTest, AttributesComeFromModeBitsDosAttributeNamesAndLinks) {
    Machine.WriteFile("C:\\t\\plain.txt", "x");
    Machine.WriteFile("C:\\t\\readonly.txt", "x");
    fs::permissions(Host("C:\\t\\readonly.txt"), fs::perms(0444));
    Machine.WriteFile("C:\\t\\ownerwrite.txt", "x");
    fs::permissions(Host("C:\\t\\ownerwrite.txt"), fs::perms(0200));
    Machine.WriteFile("C:\\t\\otherwrite.txt", "x");
    fs::permissions(Host("C:\\t\\otherwrite.txt"), fs::perms(0446));
    Machine.WriteFile("C:\\t\\hidden.txt", "x");
    Machine.SetDosAttributes(Host("C:\\t\\hidden.txt"), 2);
    Machine.WriteFile("C:\\t\\system.txt", "x");
    Machine.SetDosAttributes(Host("C:\\t\\system.txt"), 4);
    Machine.WriteFile("C:\\t\\both.txt", "x");
    Machine.SetDosAttributes(Host("C:\\t\\both.txt"), 6);
    Machine.WriteFile("C:\\t\\junk.txt", "x");
    setxattr(Host("C:\\t\\junk.txt").c_str(), "user.DOSATTRIB", "junk", 4, 0);
    Machine.WriteFile("C:\\t\\.dotfile", "x");
    Machine.MakeFolder("C:\\t\\folder");
    Machine.MakeFolder("C:\\t\\hiddenfolder");
    Machine.SetDosAttributes(Host("C:\\t\\hiddenfolder"), 2);
    Machine.MakeFolder("C:\\t\\.dotfolder");
    Machine.MakeLink("C:\\t\\folderlink", Host("C:\\t\\folder"));
    Machine.MakeLink("C:\\t\\filelink", Host("C:\\t\\readonly.txt"));
    Machine.MakeLink("C:\\t\\dangling", Machine.Root() / "nothing");

    const struct {
        const char* Path;
        uint32_t Expected;
    } cases[] = {
        {"C:\\t\\plain.txt", A},
        {"C:\\T\\PLAIN.TXT", A},
        {"C:\\t\\readonly.txt", A | R},
        {"C:\\t\\ownerwrite.txt", A},
        {"C:\\t\\otherwrite.txt", A},
        {"C:\\t\\hidden.txt", A | H},
        {"C:\\t\\system.txt", A | S},
        {"C:\\t\\both.txt", A | H | S},
        {"C:\\t\\junk.txt", A},
        {"C:\\t\\.dotfile", A | H},
        {"C:\\t\\folder", D},
        {"C:\\t\\hiddenfolder", D | H},
        {"C:\\t\\.dotfolder", D | H},
        {"C:\\t\\folderlink", L | D},
        {"C:\\t\\filelink", L | A},
        {"C:\\t\\dangling", L | A},
        {"C:\\", D},
        {"C:\\t\\missing.txt", INVALID_FILE_ATTRIBUTES},
        {"Q:\\t", INVALID_FILE_ATTRIBUTES},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        EXPECT_EQ(GetFileAttributes(c.Path), c.Expected);
    }
}

TEST_F(FileSystemTest, SetAttributesTogglesWriteBitsAndTheDosAttribute) {
    Machine.WriteFile("C:\\t\\file.txt", "x");
    fs::path file = Host("C:\\t\\file.txt");
    fs::permissions(file, fs::perms(0664));

    ASSERT_TRUE(SetFileAttributes("C:\\T\\File.txt", R | H | S | A));
    EXPECT_EQ(ModeOf(file), 0444u);
    EXPECT_EQ(RawDosAttribute(file), "0x6");
    EXPECT_EQ(GetFileAttributes("C:\\t\\file.txt"), A | R | H | S);

    ASSERT_TRUE(SetFileAttributes("C:\\t\\file.txt", H));
    EXPECT_EQ(ModeOf(file), 0644u);
    EXPECT_EQ(RawDosAttribute(file), "0x2");

    ASSERT_TRUE(SetFileAttributes("C:\\t\\file.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(RawDosAttribute(file), "<none>");
    EXPECT_EQ(GetFileAttributes("C:\\t\\file.txt"), A);
    ASSERT_TRUE(SetFileAttributes("C:\\t\\file.txt", 0));

    EXPECT_FALSE(SetFileAttributes("C:\\t\\missing.txt", 0));
}

TEST_F(FileSystemTest, SetAttributesNeverReachesThroughALink) {
    Machine.WriteFile("C:\\t\\target.txt", "x");
    fs::path target = Host("C:\\t\\target.txt");
    fs::permissions(target, fs::perms(0444));
    Machine.MakeLink("C:\\t\\link", target);

    EXPECT_TRUE(SetFileAttributes("C:\\t\\link", 0));
    EXPECT_FALSE(SetFileAttributes("C:\\t\\link", R | H));
    EXPECT_EQ(ModeOf(target), 0444u);
    EXPECT_EQ(RawDosAttribute(target), "<none>");
}

TEST_F(FileSystemTest, SetAttributesFailsOnALockedFile) {
    Machine.WriteFile("C:\\t\\locked.txt", "x");
    ASSERT_TRUE(Machine.SetImmutable(Host("C:\\t\\locked.txt"), true));
    EXPECT_FALSE(SetFileAttributes("C:\\t\\locked.txt", R));
    EXPECT_FALSE(SetFileAttributes("C:\\t\\locked.txt", H));
    EXPECT_TRUE(SetFileAttributes("C:\\t\\locked.txt", 0)); // nothing to change
}

TEST_F(FileSystemTest, ExistenceOfFilesAndFolders) {
    Machine.WriteFile("C:\\t\\file.txt", "x");
    Machine.MakeLink("C:\\t\\filelink", Host("C:\\t\\file.txt"));
    Machine.MakeLink("C:\\t\\folderlink", Host("C:\\t"));
    Machine.MakeLink("C:\\t\\dangling", Machine.Root() / "nothing");
    const struct {
        const char* Path;
        bool File;
        bool Folder;
    } cases[] = {
        {"C:\\t\\file.txt", true, false},
        {"c:\\T\\FILE.TXT", true, false},
        {"C:\\t\\filelink", true, false},
        {"C:\\t", false, true},
        {"C:\\t\\folderlink", false, true},
        {"C:\\t\\dangling", false, false},
        {"C:\\t\\missing", false, false},
        {"C:\\", false, true},
        {"Q:\\", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        EXPECT_EQ(FileExists(c.Path), c.File);
        EXPECT_EQ(DirectoryExists(c.Path), c.Folder);
    }
}

TEST_F(FileSystemTest, DeleteFileRefusesReadOnlyFilesFoldersAndLockedFiles) {
    Machine.WriteFile("C:\\t\\plain.txt", "x");
    EXPECT_TRUE(DeleteFile("C:\\T\\Plain.TXT"));
    EXPECT_FALSE(fs::exists(Host("C:\\t\\plain.txt")));
    EXPECT_FALSE(DeleteFile("C:\\t\\plain.txt"));

    Machine.WriteFile("C:\\t\\readonly.txt", "x");
    fs::permissions(Host("C:\\t\\readonly.txt"), fs::perms(0444));
    EXPECT_FALSE(DeleteFile("C:\\t\\readonly.txt"));
    EXPECT_TRUE(fs::exists(Host("C:\\t\\readonly.txt")));
    ASSERT_TRUE(SetFileAttributes("C:\\t\\readonly.txt", 0));
    EXPECT_TRUE(DeleteFile("C:\\t\\readonly.txt"));

    Machine.MakeFolder("C:\\t\\folder");
    EXPECT_FALSE(DeleteFile("C:\\t\\folder"));
    EXPECT_TRUE(fs::is_directory(Host("C:\\t\\folder")));

    Machine.WriteFile("C:\\t\\locked.txt", "x");
    ASSERT_TRUE(Machine.SetImmutable(Host("C:\\t\\locked.txt"), true));
    EXPECT_FALSE(DeleteFile("C:\\t\\locked.txt"));
    EXPECT_TRUE(fs::exists(Host("C:\\t\\locked.txt")));
}

TEST_F(FileSystemTest, DeleteFileRemovesLinksAndNeverTheirTargets) {
    Machine.WriteHostFile(Machine.Home() / "Documents" / "mine.txt", "precious");
    fs::permissions(Machine.Home() / "Documents" / "mine.txt", fs::perms(0444));
    Machine.MakeLink("C:\\t\\filelink", Machine.Home() / "Documents" / "mine.txt");
    Machine.MakeLink("C:\\t\\Documents", Machine.Home() / "Documents");
    Machine.MakeLink("C:\\t\\dangling", Machine.Root() / "nothing");

    EXPECT_TRUE(DeleteFile("C:\\t\\filelink"));
    EXPECT_TRUE(DeleteFile("C:\\t\\documents"));
    EXPECT_TRUE(DeleteFile("C:\\t\\dangling"));
    EXPECT_TRUE(fs::is_empty(Host("C:\\t")));
    EXPECT_EQ(HostContent(Machine.Home() / "Documents" / "mine.txt"), "precious");
}

TEST_F(FileSystemTest, RemoveDirectoryTakesOnlyEmptyFoldersOrFolderLinks) {
    Machine.MakeFolder("C:\\t\\empty");
    EXPECT_TRUE(RemoveDirectory("C:\\T\\EMPTY"));
    EXPECT_FALSE(fs::exists(Host("C:\\t\\empty")));
    EXPECT_FALSE(RemoveDirectory("C:\\t\\empty"));

    Machine.WriteFile("C:\\t\\full\\a.txt", "x");
    EXPECT_FALSE(RemoveDirectory("C:\\t\\full"));
    EXPECT_TRUE(fs::exists(Host("C:\\t\\full\\a.txt")));
    EXPECT_FALSE(RemoveDirectory("C:\\t\\full\\a.txt"));

    Machine.WriteHostFile(Machine.Home() / "Music" / "song.mp3", "la");
    Machine.MakeLink("C:\\t\\Music", Machine.Home() / "Music");
    Machine.MakeLink("C:\\t\\filelink", Host("C:\\t\\full\\a.txt"));
    EXPECT_FALSE(RemoveDirectory("C:\\t\\filelink"));
    EXPECT_TRUE(fs::is_symlink(Host("C:\\t\\filelink")));
    EXPECT_TRUE(RemoveDirectory("C:\\t\\music"));
    EXPECT_FALSE(fs::is_symlink(Host("C:\\t\\Music")));
    EXPECT_EQ(HostContent(Machine.Home() / "Music" / "song.mp3"), "la");

    Machine.MakeFolder("C:\\t\\lockedparent\\child");
    ASSERT_TRUE(Machine.SetImmutable(Host("C:\\t\\lockedparent"), true));
    EXPECT_FALSE(RemoveDirectory("C:\\t\\lockedparent\\child"));
    EXPECT_TRUE(fs::is_directory(Host("C:\\t\\lockedparent\\child")));
}

TEST_F(FileSystemTest, CreateDirectoryMakesOneNewFolder) {
    EXPECT_TRUE(CreateDirectory("C:\\PROGRAM FILES\\New Folder"));
    EXPECT_TRUE(fs::is_directory(Machine.DriveC() / "Program Files" / "New Folder"));
    EXPECT_FALSE(CreateDirectory("C:\\Program Files\\new folder"));
    EXPECT_FALSE(CreateDirectory("C:\\Missing\\Child"));
    EXPECT_FALSE(CreateDirectory("Q:\\x"));
}

TEST_F(FileSystemTest, CopyFileCopiesBytesAndAttributes) {
    std::string bytes("a\0b\r\nc", 6);
    Machine.WriteFile("C:\\t\\source.bin", bytes);
    fs::permissions(Host("C:\\t\\source.bin"), fs::perms(0444));
    Machine.SetDosAttributes(Host("C:\\t\\source.bin"), 2);

    EXPECT_TRUE(CopyFile("C:\\T\\SOURCE.BIN", "C:\\t\\copy.bin", true));
    EXPECT_EQ(HostContent(Host("C:\\t\\copy.bin")), bytes);
    EXPECT_EQ(GetFileAttributes("C:\\t\\copy.bin"), A | R | H);
    TFileTimes sourceTimes;
    TFileTimes copyTimes;
    ASSERT_TRUE(GetFileTimes("C:\\t\\source.bin", sourceTimes));
    ASSERT_TRUE(GetFileTimes("C:\\t\\copy.bin", copyTimes));
    EXPECT_EQ(copyTimes.LastWrite, sourceTimes.LastWrite);

    // The copy is read-only now, so it cannot be replaced; a writable destination can.
    EXPECT_FALSE(CopyFile("C:\\t\\source.bin", "C:\\t\\copy.bin", false));
    Machine.WriteFile("C:\\t\\other.bin", "old content");
    EXPECT_FALSE(CopyFile("C:\\t\\source.bin", "C:\\t\\other.bin", true));
    EXPECT_EQ(HostContent(Host("C:\\t\\other.bin")), "old content");
    EXPECT_TRUE(CopyFile("C:\\t\\source.bin", "C:\\t\\other.bin", false));
    EXPECT_EQ(HostContent(Host("C:\\t\\other.bin")), bytes);
}

TEST_F(FileSystemTest, CopyFileRefusesWhatItCannotCopy) {
    Machine.WriteFile("C:\\t\\file.txt", "keep me");
    Machine.MakeLink("C:\\t\\alias.txt", Host("C:\\t\\file.txt"));
    Machine.MakeFolder("C:\\t\\folder");
    EXPECT_FALSE(CopyFile("C:\\t\\file.txt", "C:\\t\\file.txt", false));
    EXPECT_FALSE(CopyFile("C:\\t\\file.txt", "C:\\t\\alias.txt", false));
    EXPECT_EQ(HostContent(Host("C:\\t\\file.txt")), "keep me");
    EXPECT_FALSE(CopyFile("C:\\t\\missing.txt", "C:\\t\\new.txt", false));
    EXPECT_FALSE(CopyFile("C:\\t\\folder", "C:\\t\\new.txt", false));
    EXPECT_FALSE(CopyFile("C:\\t\\file.txt", "C:\\t\\folder", false));
    EXPECT_FALSE(CopyFile("C:\\t\\file.txt", "C:\\t\\missing\\new.txt", false));
    Machine.WriteFile("C:\\t\\hidden.txt", "hidden");
    Machine.SetDosAttributes(Host("C:\\t\\hidden.txt"), 2);
    EXPECT_FALSE(CopyFile("C:\\t\\file.txt", "C:\\t\\hidden.txt", false));
    EXPECT_EQ(HostContent(Host("C:\\t\\hidden.txt")), "hidden");
    EXPECT_FALSE(fs::exists(Host("C:\\t\\new.txt")));
}

TEST_F(FileSystemTest, MoveFileNeverReplaces) {
    Machine.WriteFile("C:\\t\\a.txt", "a");
    Machine.WriteFile("C:\\t\\b.txt", "b");
    EXPECT_FALSE(MoveFile("C:\\t\\a.txt", "C:\\t\\B.TXT"));
    EXPECT_EQ(HostContent(Host("C:\\t\\b.txt")), "b");
    EXPECT_TRUE(MoveFile("C:\\T\\A.TXT", "C:\\t\\c.txt"));
    EXPECT_FALSE(fs::exists(Host("C:\\t\\a.txt")));
    EXPECT_EQ(HostContent(Host("C:\\t\\c.txt")), "a");
    EXPECT_FALSE(MoveFile("C:\\t\\a.txt", "C:\\t\\d.txt"));

    Machine.WriteFile("C:\\t\\folder\\inside.txt", "i");
    EXPECT_TRUE(MoveFile("C:\\t\\folder", "C:\\t\\moved"));
    EXPECT_EQ(HostContent(Host("C:\\t\\moved\\inside.txt")), "i");
}

// A folder with a profile-like folder, names with and without extensions, a hidden name and a link.
class FindFilesTest : public FileSystemTest {
protected:
    void SetUp() override {
        Machine.MakeFolder("C:\\f\\ab12cd34.default");
        Machine.WriteFile("C:\\f\\Readme", "12345");
        Machine.WriteFile("C:\\f\\setup.exe", "123");
        Machine.WriteFile("C:\\f\\Other.EXE", "");
        Machine.WriteFile("C:\\f\\notes.txt", "1");
        Machine.WriteFile("C:\\f\\.hidden", "");
        Machine.MakeLink("C:\\f\\link", Host("C:\\f\\ab12cd34.default"));
    }

    static std::vector<std::string> Names(const std::vector<TFindData>& found) {
        std::vector<std::string> names;
        for (const TFindData& data : found)
            names.push_back(data.Name);
        return names;
    }

    // The names of the folder in the order in which the file system lists them.
    std::vector<std::string> ListedOrder(const std::vector<std::string>& wanted) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Host("C:\\f"))) {
            std::string name = entry.path().filename().string();
            if (std::find(wanted.begin(), wanted.end(), name) != wanted.end())
                names.push_back(name);
        }
        return names;
    }
};

TEST_F(FindFilesTest, WildcardsMatchTheLastComponentInListingOrder) {
    const std::vector<std::string> all = {"ab12cd34.default", "Readme",  "setup.exe", "Other.EXE",
                                          "notes.txt",        ".hidden", "link"};
    const struct {
        const char* Mask;
        bool Dots;
        std::vector<std::string> Names;
    } cases[] = {
        {"*.*", true, all},
        {"*", true, all},
        {"*.default", false, {"ab12cd34.default"}},
        {"*.DEFAULT", false, {"ab12cd34.default"}},
        {"*.exe", false, {"setup.exe", "Other.EXE"}},
        {"?????.txt", false, {"notes.txt"}},
        {"????.txt", false, {}},
        {"readme.*", false, {"Readme"}},
        {"*.", true, {"Readme", "link"}},
        {"s*p.e?e", false, {"setup.exe"}},
        {"NOTES.TXT", false, {"notes.txt"}},
        {"nothing*", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Mask);
        std::vector<std::string> expected;
        if (c.Dots)
            expected = {".", ".."};
        for (const std::string& name : ListedOrder(c.Names))
            expected.push_back(name);
        EXPECT_EQ(Names(FindFiles(std::string("C:\\F\\") + c.Mask)), expected);
    }
}

TEST_F(FindFilesTest, EntriesCarryAttributesSizesAndTimes) {
    std::vector<TFindData> found = FindFiles("C:\\f\\*.*");
    auto entry = [&](const std::string& name) {
        auto it =
            std::find_if(found.begin(), found.end(), [&](const TFindData& d) { return d.Name == name; });
        return it == found.end() ? TFindData{} : *it;
    };
    EXPECT_EQ(entry(".").Attributes, D);
    EXPECT_EQ(entry("..").Attributes, D);
    EXPECT_EQ(entry("ab12cd34.default").Attributes, D);
    EXPECT_EQ(entry("Readme").Attributes, A);
    EXPECT_EQ(entry("Readme").Size, 5u);
    EXPECT_EQ(entry(".hidden").Attributes, A | H);
    EXPECT_EQ(entry("link").Attributes, L | D);

    TFileTimes times;
    ASSERT_TRUE(GetFileTimes("C:\\f\\Readme", times));
    EXPECT_EQ(entry("Readme").LastWriteTime, times.LastWrite);
    EXPECT_EQ(entry("Readme").CreationTime, times.Creation);
    EXPECT_NE(times.LastWrite, 0u);
}

TEST_F(FindFilesTest, DriveRootsHaveNoDotEntriesAndMissingFoldersNothing) {
    std::vector<std::string> names = Names(FindFiles("C:\\*.*"));
    EXPECT_EQ(std::count(names.begin(), names.end(), "."), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), ".."), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "f"), 1);
    EXPECT_TRUE(FindFiles("C:\\missing\\*.*").empty());
    EXPECT_TRUE(FindFiles("C:\\f\\Readme\\*.*").empty());
    EXPECT_TRUE(FindFiles("C:\\f\\").empty());
    EXPECT_TRUE(FindFiles("Q:\\*.*").empty());
    // Through a folder link, the target's entries.
    EXPECT_EQ(Names(FindFiles("C:\\f\\link\\*")), (std::vector<std::string>{".", ".."}));
}

TEST_F(FindFilesTest, NamesThatNoWindowsPathCanNameAreNotListed) {
    // Joined to its folder, this name would lead two folders up, to a file outside the searched folder.
    Machine.WriteFile("C:\\victim.txt", "outside");
    Machine.WriteHostFile(Host("C:\\f\\ab12cd34.default") / "..\\..\\victim.txt", "inside");
    std::vector<std::string> names = Names(FindFiles("C:\\f\\ab12cd34.default\\*.*"));
    EXPECT_EQ(names, (std::vector<std::string>{".", ".."}));
}

TEST_F(FileSystemTest, FileTimesAreUtcFileTimes) {
    Machine.WriteFile("C:\\t\\file.txt", "x");
    const long long written = 1'600'000'000;
    const long long accessed = 1'650'000'000;
    const timespec times[2] = {{accessed, 250}, {written, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, Host("C:\\t\\file.txt").c_str(), times, 0), 0);
    long long before = static_cast<long long>(std::time(nullptr)) - 5;

    TFileTimes fileTimes;
    ASSERT_TRUE(GetFileTimes("C:\\T\\FILE.TXT", fileTimes));
    EXPECT_EQ(fileTimes.LastWrite, UnixTimeToFileTime(written, 500));
    EXPECT_EQ(fileTimes.LastAccess, UnixTimeToFileTime(accessed, 250));
    // Birth time (or the status change) is the test's own moment, not the times set above.
    EXPECT_GE(fileTimes.Creation, UnixTimeToFileTime(before, 0));
    EXPECT_LE(fileTimes.Creation, UnixTimeToFileTime(before + 60, 0));

    EXPECT_TRUE(GetFileTimes("C:\\t", fileTimes));
    EXPECT_FALSE(GetFileTimes("C:\\t\\missing.txt", fileTimes));
}

TEST_F(FileSystemTest, WholeFilesAreReadAndWritten) {
    std::string bytes("line 1\r\n\0binary", 15);
    EXPECT_TRUE(WriteWholeFile("C:\\PROGRAM FILES\\data.bin", bytes));
    std::string content;
    ASSERT_TRUE(ReadWholeFile("C:\\Program Files\\DATA.BIN", content));
    EXPECT_EQ(content, bytes);
    TFileBytes held;
    ASSERT_TRUE(ReadWholeFile("C:\\Program Files\\DATA.BIN", held));
    EXPECT_EQ(held.View(), bytes);
    EXPECT_TRUE(WriteWholeFile("C:\\Program Files\\data.bin", "short"));
    ASSERT_TRUE(ReadWholeFile("C:\\Program Files\\data.bin", content));
    EXPECT_EQ(content, "short");
    EXPECT_TRUE(CanOpenForReading("C:\\Program Files\\data.bin"));

    EXPECT_TRUE(WriteWholeFile("C:\\Program Files\\empty.bin", ""));
    ASSERT_TRUE(ReadWholeFile("C:\\Program Files\\empty.bin", content));
    EXPECT_EQ(content, "");
}

// A whole read opens the path as spelled through the drive's link, and looks it up only when that fails:
// it must see a drive link retargeted, and the file that another spelling names, at once.
TEST_F(FileSystemTest, WholeReadsFollowTheDriveLinkAndTheNamesOfNow) {
    const fs::path first = Machine.Root() / "first";
    const fs::path second = Machine.Root() / "second";
    Machine.WriteHostFile(first / "Data" / "File.txt", "first");
    Machine.WriteHostFile(second / "data" / "FILE.TXT", "second");
    const fs::path link = Machine.Prefix() / "dosdevices" / "d:";
    fs::create_symlink(first, link);
    TFileBytes held;
    ASSERT_TRUE(ReadWholeFile("D:\\Data\\File.txt", held));
    EXPECT_EQ(held.View(), "first");

    fs::remove(link);
    fs::create_symlink(second, link);
    ASSERT_TRUE(ReadWholeFile("D:\\Data\\File.txt", held));
    EXPECT_EQ(held.View(), "second");

    fs::remove(second / "data" / "FILE.TXT");
    EXPECT_FALSE(ReadWholeFile("D:\\Data\\File.txt", held));
    Machine.WriteHostFile(second / "data" / "file.txt", "third");
    std::string content;
    ASSERT_TRUE(ReadWholeFile("D:\\DATA\\FILE.TXT", content));
    EXPECT_EQ(content, "third");

    // A pipe in a file's place is refused at once, never waited on.
    ASSERT_EQ(mkfifo((second / "data" / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(ReadWholeFile("D:\\Data\\pipe", held));
}

TEST_F(FileSystemTest, WholeFileFailures) {
    Machine.WriteFile("C:\\t\\readonly.txt", "keep");
    fs::permissions(Host("C:\\t\\readonly.txt"), fs::perms(0444));
    Machine.MakeFolder("C:\\t\\locked");
    ASSERT_TRUE(Machine.SetImmutable(Host("C:\\t\\locked"), true));

    std::string content = "untouched";
    EXPECT_FALSE(WriteWholeFile("C:\\t\\readonly.txt", "new"));
    EXPECT_EQ(HostContent(Host("C:\\t\\readonly.txt")), "keep");
    EXPECT_FALSE(WriteWholeFile("C:\\t", "new"));
    EXPECT_FALSE(WriteWholeFile("C:\\t\\missing\\x.txt", "new"));
    EXPECT_FALSE(WriteWholeFile("C:\\t\\locked\\x.txt", "new"));
    EXPECT_FALSE(WriteWholeFile("Q:\\x.txt", "new"));
    EXPECT_FALSE(ReadWholeFile("C:\\t", content));
    EXPECT_FALSE(ReadWholeFile("C:\\t\\missing.txt", content));
    EXPECT_EQ(content, "untouched");
    TFileBytes held(std::string_view("untouched"));
    EXPECT_FALSE(ReadWholeFile("C:\\t", held));
    EXPECT_FALSE(ReadWholeFile("C:\\t\\missing.txt", held));
    EXPECT_EQ(held.View(), "untouched");
    EXPECT_FALSE(CanOpenForReading("C:\\t"));
    EXPECT_FALSE(CanOpenForReading("C:\\t\\missing.txt"));
    EXPECT_TRUE(CanOpenForReading("C:\\t\\readonly.txt"));
}

// Names in Folder other than the expected ones: a failed replacement leaves no temporary file behind.
std::vector<std::string> NamesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(FileSystemTest, CopyFileReplacingPutsTheWholeCopyInPlaceAndKeepsTheTargetsMode) {
    std::string bytes(300000, 'x');
    bytes[1] = '\0';
    Machine.WriteFile("C:\\u\\new.bin", bytes);
    Machine.WriteFile("C:\\u\\KV.exe", "old program");
    fs::permissions(Host("C:\\u\\KV.exe"), fs::perms(0755));
    fs::permissions(Host("C:\\u\\new.bin"), fs::perms(0640));

    EXPECT_TRUE(CopyFileReplacing("C:\\u\\new.bin", "C:\\U\\kv.EXE"));
    EXPECT_EQ(HostContent(Host("C:\\u\\KV.exe")), bytes);
    EXPECT_EQ(ModeOf(Host("C:\\u\\KV.exe")), 0755u);
    TFileTimes sourceTimes;
    TFileTimes copyTimes;
    ASSERT_TRUE(GetFileTimes("C:\\u\\new.bin", sourceTimes));
    ASSERT_TRUE(GetFileTimes("C:\\u\\KV.exe", copyTimes));
    EXPECT_EQ(copyTimes.LastWrite, sourceTimes.LastWrite);

    // A new target takes the source's mode; an empty source gives an empty file.
    Machine.WriteFile("C:\\u\\empty.bin", "");
    EXPECT_TRUE(CopyFileReplacing("C:\\u\\empty.bin", "C:\\u\\soft.dat"));
    EXPECT_EQ(HostContent(Host("C:\\u\\soft.dat")), "");
    EXPECT_TRUE(CopyFileReplacing("C:\\u\\new.bin", "C:\\u\\fresh.bin"));
    EXPECT_EQ(ModeOf(Host("C:\\u\\fresh.bin")), 0640u);
    EXPECT_EQ(NamesIn(Host("C:\\u")),
              (std::vector<std::string>{"KV.exe", "empty.bin", "fresh.bin", "new.bin", "soft.dat"}));
}

TEST_F(FileSystemTest, CopyFileReplacingRemovesWhatDeadCopiesLeft) {
    Machine.WriteFile("C:\\u\\new.bin", "new");
    Machine.WriteFile("C:\\u\\KV.dat", "old");
    // A copy killed before its rename, one of a copy still under way, and another file's.
    const std::string live = ".KV.dat.copy-" + std::to_string(getpid()) + "-7";
    Machine.WriteFile("C:\\u\\.KV.dat.copy-2147483646-0", "half a copy");
    Machine.WriteFile("C:\\u\\" + live, "a copy under way");
    Machine.WriteFile("C:\\u\\.soft.dat.copy-2147483646-0", "another file's");
    EXPECT_TRUE(CopyFileReplacing("C:\\u\\new.bin", "C:\\u\\KV.dat"));
    EXPECT_EQ(HostContent(Host("C:\\u\\KV.dat")), "new");
    EXPECT_EQ(NamesIn(Host("C:\\u")),
              (std::vector<std::string>{live, ".soft.dat.copy-2147483646-0", "KV.dat", "new.bin"}));
}

TEST_F(FileSystemTest, CopyFileReplacingLeavesTheTargetAsItWasOnEveryFailure) {
    Machine.WriteFile("C:\\u\\new.bin", std::string(100000, 'n'));
    Machine.WriteFile("C:\\u\\KV.dat", "old data");
    Machine.WriteFile("C:\\u\\readonly.dat", "old read-only");
    fs::permissions(Host("C:\\u\\readonly.dat"), fs::perms(0444));
    Machine.WriteFile("C:\\u\\hidden.dat", "old hidden");
    Machine.SetDosAttributes(Host("C:\\u\\hidden.dat"), 2);
    Machine.MakeFolder("C:\\u\\folder");
    Machine.WriteFile("C:\\locked\\KV.dat", "old locked");
    ASSERT_TRUE(Machine.SetImmutable(Host("C:\\locked\\KV.dat"), true));
    Machine.WriteFile("C:\\sealed\\KV.dat", "old sealed");
    ASSERT_TRUE(Machine.SetImmutable(Host("C:\\sealed"), true));

    EXPECT_FALSE(CopyFileReplacing("C:\\u\\missing.bin", "C:\\u\\KV.dat"));
    EXPECT_FALSE(CopyFileReplacing("C:\\u\\folder", "C:\\u\\KV.dat"));
    EXPECT_FALSE(CopyFileReplacing("C:\\u\\KV.dat", "C:\\u\\KV.dat"));
    EXPECT_FALSE(CopyFileReplacing("C:\\u\\new.bin", "C:\\u\\folder"));
    EXPECT_FALSE(CopyFileReplacing("C:\\u\\new.bin", "C:\\u\\readonly.dat"));
    EXPECT_FALSE(CopyFileReplacing("C:\\u\\new.bin", "C:\\u\\hidden.dat"));
    EXPECT_FALSE(CopyFileReplacing("C:\\u\\new.bin", "C:\\u\\missing\\KV.dat"));
    EXPECT_FALSE(CopyFileReplacing("C:\\u\\new.bin", "C:\\locked\\KV.dat"));
    EXPECT_FALSE(CopyFileReplacing("C:\\u\\new.bin", "C:\\sealed\\KV.dat"));
    EXPECT_FALSE(CopyFileReplacing("C:\\u\\new.bin", "Q:\\KV.dat"));
    {
        TFileSizeLimit fullDisk(4096);
        EXPECT_FALSE(CopyFileReplacing("C:\\u\\new.bin", "C:\\u\\KV.dat"));
    }
    Machine.SetImmutable(Host("C:\\locked\\KV.dat"), false);
    Machine.SetImmutable(Host("C:\\sealed"), false);

    EXPECT_EQ(HostContent(Host("C:\\u\\KV.dat")), "old data");
    EXPECT_EQ(HostContent(Host("C:\\u\\readonly.dat")), "old read-only");
    EXPECT_EQ(HostContent(Host("C:\\u\\hidden.dat")), "old hidden");
    EXPECT_EQ(HostContent(Host("C:\\locked\\KV.dat")), "old locked");
    EXPECT_EQ(HostContent(Host("C:\\sealed\\KV.dat")), "old sealed");
    EXPECT_EQ(NamesIn(Host("C:\\u")),
              (std::vector<std::string>{"KV.dat", "folder", "hidden.dat", "new.bin", "readonly.dat"}));
    EXPECT_EQ(NamesIn(Host("C:\\locked")), (std::vector<std::string>{"KV.dat"}));
}

} // namespace
