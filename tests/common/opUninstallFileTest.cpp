#include "common/opUninstallFile.h"

#include "platform/dateTime.h"
#include "platform/fileSystem.h"
#include "platform/sysUtils.h"
#include "support/hiveBuilder.h"
#include "support/tempMachine.h"
#include "tools/databaseWriter.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>

namespace fs = std::filesystem;
using platform::TStringList;

namespace platform {
// Lists show as their lines in a failure message.
void PrintTo(const TStringList& list, std::ostream* out) {
    *out << "{";
    for (int i = 0; i < list.Count(); ++i)
        *out << (i == 0 ? "\"" : ", \"") << list[i] << "\"";
    *out << "}";
}
} // namespace platform

namespace {

std::string ReadHostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A field of a packed record, copied out: a reference to it could be misaligned.
template <typename T> T Copy(T value) {
    return value;
}

void PutInt32(std::string& bytes, int64_t offset, int32_t value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// A temporary machine with a fixed clock and the program folder as the place of the database files.
class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClockForTesting([this] { return FNow; });
    }
    void TearDown() override { platform::SetClockForTesting({}); }

    TUFileOp OpenWritten(const TDatabaseWriter& writer) {
        writer.WriteFiles(FMachine.ProgramFolder());
        return TUFileOp("", "");
    }

    TTempMachine FMachine;
    platform::TDateTime FNow = platform::EncodeDateTime(2024, 5, 6, 7, 8, 9);
};

// ---- Files, headers and records ----

TEST_F(DatabaseTest, MissingFilesAreCreatedWithExactEmptyHeaders) {
    TUFileOp database("", "");
    EXPECT_EQ(database.DataFile(), FMachine.ProgramFolderWindows() + "KV.dat");
    EXPECT_EQ(database.SoftFile(), FMachine.ProgramFolderWindows() + "soft.dat");

    const int32_t stamp = 1714979289; // 2024-05-06 07:08:09 counted from 1970 on the same clock
    std::string expectedData(28, '\0');
    PutInt32(expectedData, 0, stamp);
    std::memcpy(expectedData.data() + 4, &FNow, 8);
    PutInt32(expectedData, 24, 28);
    std::string expectedSoft(16, '\0');
    PutInt32(expectedSoft, 0, stamp);
    std::memcpy(expectedSoft.data() + 4, &FNow, 8);
    EXPECT_EQ(ReadHostFile(FMachine.ProgramFolder() / "KV.dat"), expectedData);
    EXPECT_EQ(ReadHostFile(FMachine.ProgramFolder() / "soft.dat"), expectedSoft);

    EXPECT_EQ(database.GetDataVersion(1), std::to_string(stamp));
    EXPECT_EQ(database.GetDataVersion(0), "2024.0506.070809");
    EXPECT_EQ(database.GetSoftDataVersion(1), std::to_string(stamp));
}

TEST_F(DatabaseTest, PathsAreTrimmedAndBlankPathsMeanTheProgramFolder) {
    FMachine.MakeFolder("C:\\db");
    TUFileOp given(" \tC:\\db\\main.dat ", "  C:\\db\\software.dat\t");
    EXPECT_EQ(given.DataFile(), "C:\\db\\main.dat");
    EXPECT_EQ(given.SoftFile(), "C:\\db\\software.dat");
    EXPECT_TRUE(fs::exists(FMachine.HostPath("C:\\db\\main.dat")));
    EXPECT_TRUE(fs::exists(FMachine.HostPath("C:\\db\\software.dat")));

    TUFileOp blank("   ", "\t");
    EXPECT_EQ(blank.DataFile(), FMachine.ProgramFolderWindows() + "KV.dat");
    EXPECT_EQ(blank.SoftFile(), FMachine.ProgramFolderWindows() + "soft.dat");
}

TEST_F(DatabaseTest, ExistingFilesAreLoadedNotRewritten) {
    TDatabaseWriter writer;
    writer.DataStamp = 1234567890;
    writer.SoftStamp = -5;
    writer.Add("A", "Alpha", 1);
    TUFileOp database = OpenWritten(writer);
    EXPECT_EQ(ReadHostFile(FMachine.ProgramFolder() / "KV.dat"), writer.DataFileContent());
    EXPECT_EQ(database.GetDataVersion(1), "1234567890");
    EXPECT_EQ(database.GetDataVersion(0), "2009.0213.233130");
    EXPECT_EQ(database.GetSoftDataVersion(1), "-5");
    // The object keeps what it loaded: a file replaced later is not seen.
    TDatabaseWriter other;
    other.WriteFiles(FMachine.ProgramFolder());
    EXPECT_EQ(database.CountSoftwareByCategory(0), 1);
}

TEST(DatabaseVersionTest, VersionTexts) {
    struct TCase {
        int32_t Stamp;
        uint16_t Format;
        const char* Text;
    } cases[] = {
        {1234567890, 1, "1234567890"},       {1234567890, 0, "2009.0213.233130"},
        {1234567890, 7, "2009.0213.233130"}, {0, 1, "0"},
        {0, 0, "1970.0101.000000"},          {-1, 1, "-1"},
        {-2147483647 - 1, 1, "-2147483648"},
    };
    for (const TCase& c : cases) {
        TDatabaseWriter writer;
        writer.DataStamp = c.Stamp;
        writer.SoftStamp = c.Stamp;
        TUFileOp database = TUFileOp::FromContents(writer.DataFileContent(), writer.SoftFileContent());
        EXPECT_EQ(database.GetDataVersion(c.Format), c.Text) << c.Stamp << " format " << c.Format;
        EXPECT_EQ(database.GetSoftDataVersion(c.Format), c.Text) << c.Stamp << " format " << c.Format;
    }
    // A file too short for its header has no stamp.
    TUFileOp shortFiles = TUFileOp::FromContents(std::string(27, '\x7f'), std::string(15, '\x7f'));
    EXPECT_EQ(shortFiles.GetDataVersion(1), "0");
    EXPECT_EQ(shortFiles.GetSoftDataVersion(0), "1970.0101.000000");
}

// The message of the creation error that opening the program folder's database raises, or "" without one.
std::string CreationError() {
    try {
        TUFileOp database("", "");
    } catch (const EFCreateError& error) {
        return error.what();
    }
    return {};
}

TEST_F(DatabaseTest, ConstructionFailuresNameThePath) {
    // A folder in the way of KV.dat is no file, and no file can be made there.
    fs::create_directories(FMachine.ProgramFolder() / "KV.dat");
    EXPECT_EQ(CreationError(), "Cannot create file " + FMachine.ProgramFolderWindows() + "KV.dat");
    fs::remove(FMachine.ProgramFolder() / "KV.dat");

    // KV.dat is there, soft.dat is missing in a folder that cannot be written.
    TDatabaseWriter().WriteDataFile(FMachine.ProgramFolder() / "KV.dat");
    ASSERT_TRUE(FMachine.SetImmutable(FMachine.ProgramFolder(), true))
        << "no immutable flag on this file system";
    EXPECT_EQ(CreationError(), "Cannot create file " + FMachine.ProgramFolderWindows() + "soft.dat");
    FMachine.SetImmutable(FMachine.ProgramFolder(), false);

    // Both missing in a read-only folder: KV.dat is the first to fail.
    fs::remove(FMachine.ProgramFolder() / "KV.dat");
    ASSERT_TRUE(FMachine.SetImmutable(FMachine.ProgramFolder(), true));
    EXPECT_EQ(CreationError(), "Cannot create file " + FMachine.ProgramFolderWindows() + "KV.dat");
    FMachine.SetImmutable(FMachine.ProgramFolder(), false);
    EXPECT_FALSE(fs::exists(FMachine.ProgramFolder() / "soft.dat"));
}

TEST(DatabaseLayoutTest, WrittenRecordsReadBackFieldByField) {
    TDatabaseWriter writer;
    writer.DataStamp = 111;
    writer.DataCreated = 45000.25;
    writer.SoftStamp = 222;
    writer.SoftCreated = 45001.5;
    writer.DataReserved1 = 7;
    writer.DataReserved2 = 8;
    writer.DataReserved3 = 99;
    writer.SlotFiller = '\xAA'; // bytes behind a text mean nothing
    TDatabaseProgram& first = writer.Add("ID1", "First Program", 3);
    first.Services = "SvcA,SvcB";
    first.Processes = "a.exe,b.exe";
    first.Spare = "spare";
    first.InstallFolder = "1\\Vendor";
    first.DesktopEntries = "Desk";
    first.ProgramsEntries = "Progs";
    first.StartupEntries = "Start";
    first.StartMenuEntries = "Menu";
    first.File(1, "{pf}\\Vendor\\a.exe")
        .Registry(2, "HKLM{sw}\\Vendor")
        .Registry(3, "HKCU{sw}\\Vendor\\Path");
    first.Probe("HKLM{sw}\\Vendor", "InstallDir").Probe("HKCU{sw}\\Vendor", "(default)");
    writer.Add("ID2", std::string(40, 'n'), 4)
        .File(1, std::string(100, 't'))
        .Probe("k", std::string(30, 'v'));

    TUFileOp database = TUFileOp::FromContents(writer.DataFileContent(), writer.SoftFileContent());
    TDataHeader header;
    ASSERT_TRUE(database.ReadDataHeader(header));
    EXPECT_EQ(Copy(header.Stamp), 111);
    EXPECT_EQ(Copy(header.Created), 45000.25);
    EXPECT_EQ(Copy(header.Count), 2);
    EXPECT_EQ(Copy(header.Reserved1), 7);
    EXPECT_EQ(Copy(header.Reserved2), 8);
    EXPECT_EQ(Copy(header.Reserved3), 99);

    TDataIndexRec index;
    ASSERT_TRUE(database.ReadDataIndex(28, index));
    EXPECT_EQ(index.ID.Text(), "ID1");
    EXPECT_EQ(Copy(index.ItemOffset), 28 + 2 * 27);
    EXPECT_EQ(Copy(index.FileCount), 1);
    EXPECT_EQ(Copy(index.RegCount), 2);
    ASSERT_TRUE(database.ReadDataIndex(28 + 27, index));
    EXPECT_EQ(index.ID.Text(), "ID2");
    EXPECT_EQ(Copy(index.ItemOffset), 28 + 2 * 27 + 3 * 105);
    EXPECT_FALSE(database.ReadDataIndex(28 + 2 * 27 + 4 * 105 - 26, index)) << "runs past the end";
    EXPECT_EQ(index.ID.Text(), "");

    TDataItemRec item;
    ASSERT_TRUE(database.ReadDataItem(28 + 2 * 27 + 2 * 105, item));
    EXPECT_EQ(Copy(item.Kind), 3);
    EXPECT_EQ(item.Template.Text(), "HKCU{sw}\\Vendor\\Path");
    ASSERT_TRUE(database.ReadDataItem(28 + 2 * 27 + 3 * 105, item));
    EXPECT_EQ(item.Template.Text(), std::string(100, 't'));

    TSoftDataHeader softHeader;
    ASSERT_TRUE(database.ReadSoftDataHeader(softHeader));
    EXPECT_EQ(Copy(softHeader.Stamp), 222);
    EXPECT_EQ(Copy(softHeader.Created), 45001.5);
    EXPECT_EQ(Copy(softHeader.Count), 2);

    TSoftRec record;
    ASSERT_TRUE(database.ReadSoftRecord(16, record));
    EXPECT_EQ(record.ID.Text(), "ID1");
    EXPECT_EQ(record.Name.Text(), "First Program");
    EXPECT_EQ(Copy(record.Category), 3);
    EXPECT_EQ(record.Services.Text(), "SvcA,SvcB");
    EXPECT_EQ(record.Processes.Text(), "a.exe,b.exe");
    EXPECT_EQ(record.Spare.Text(), "spare");
    EXPECT_EQ(record.InstallFolder.Text(), "1\\Vendor");
    EXPECT_EQ(record.DesktopEntries.Text(), "Desk");
    EXPECT_EQ(record.ProgramsEntries.Text(), "Progs");
    EXPECT_EQ(record.StartupEntries.Text(), "Start");
    EXPECT_EQ(record.StartMenuEntries.Text(), "Menu");
    EXPECT_EQ(Copy(record.ProbeOffset), 16 + 2 * 1114);
    EXPECT_EQ(Copy(record.ProbeCount), 2);
    ASSERT_TRUE(database.ReadSoftRecord(16 + 1114, record));
    EXPECT_EQ(record.Name.Text(), std::string(40, 'n'));

    TSoftProbeRec probe;
    ASSERT_TRUE(database.ReadSoftProbe(16 + 2 * 1114 + 132, probe));
    EXPECT_EQ(probe.KeyTemplate.Text(), "HKCU{sw}\\Vendor");
    EXPECT_EQ(probe.ValueName.Text(), "(default)");
    ASSERT_TRUE(database.ReadSoftProbe(16 + 2 * 1114 + 2 * 132, probe));
    EXPECT_EQ(probe.ValueName.Text(), std::string(30, 'v'));
    EXPECT_FALSE(database.ReadSoftProbe(16 + 2 * 1114 + 2 * 132 + 1, probe));
    EXPECT_FALSE(database.ReadSoftProbe(-1, probe));

    // Reserved3 is not where the index begins: the index is at 28 whatever the header says.
    TStringList names;
    EXPECT_EQ(database.ListSoftwareByCategory(names, 0), 2);
    EXPECT_EQ(names[0], "First Program");
}

TEST(DatabaseWriterTest, TextDescriptionMatchesTheStructs) {
    TDatabaseWriter parsed = TDatabaseWriter::Parse(R"(
# a demonstration database
[database]
data stamp = 1234567890
soft stamp = 0x10

[program]
id = FOO
name = Foo Tool
category = 5
services = FooSvc
processes = foo.exe,footray.exe
spare = "  kept  "
folder = 1\Foo
desktop = Foo Tool
programs = Foo
startup = Foo Tray
startmenu = Foo Menu
probe = HKLM{sw}\Foo | " InstallDir "
file = 1 | {pf}\Foo\foo.exe
registry = 3 | HKCU{sw}\Foo\Path

[program]
id = GHOST
name = Ghost
soft = no
)");
    TDatabaseWriter built;
    built.DataStamp = 1234567890;
    built.SoftStamp = 16;
    TDatabaseProgram& foo = built.Add("FOO", "Foo Tool", 5);
    foo.Services = "FooSvc";
    foo.Processes = "foo.exe,footray.exe";
    foo.Spare = "  kept  ";
    foo.InstallFolder = "1\\Foo";
    foo.DesktopEntries = "Foo Tool";
    foo.ProgramsEntries = "Foo";
    foo.StartupEntries = "Foo Tray";
    foo.StartMenuEntries = "Foo Menu";
    foo.Probe("HKLM{sw}\\Foo", " InstallDir ")
        .File(1, "{pf}\\Foo\\foo.exe")
        .Registry(3, "HKCU{sw}\\Foo\\Path");
    built.Add("GHOST", "Ghost", 0).InSoft = false;
    EXPECT_EQ(parsed.DataFileContent(), built.DataFileContent());
    EXPECT_EQ(parsed.SoftFileContent(), built.SoftFileContent());

    EXPECT_THROW(TDatabaseWriter::Parse("[program]\ncategory = five\n"), std::invalid_argument);
    EXPECT_THROW(TDatabaseWriter::Parse("[program]\ncolour = red\n"), std::invalid_argument);
    EXPECT_THROW(TDatabaseWriter::Parse("id = x\n"), std::invalid_argument);
    EXPECT_THROW(TDatabaseWriter::Parse("[program]\nid = ELEVENCHARS\n").SoftFileContent(),
                 std::invalid_argument);
}

TEST_F(DatabaseTest, AFileThatCannotBeReadRaisesCannotOpenFile) {
    // A FIFO in the place of a database file has no content to load: the reader must not wait on it.
    TDatabaseWriter().WriteFiles(FMachine.ProgramFolder());
    for (const char* name : {"KV.dat", "soft.dat"}) {
        const fs::path file = FMachine.ProgramFolder() / name;
        fs::remove(file);
        ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
        std::string message;
        try {
            TUFileOp database("", "");
        } catch (const EFOpenError& error) {
            message = error.what();
        }
        EXPECT_EQ(message, "Cannot open file " + FMachine.ProgramFolderWindows() + name);
        fs::remove(file);
        TDatabaseWriter().WriteFiles(FMachine.ProgramFolder());
    }
}

// ---- Path templates ----

struct TExpandCase {
    const char* Template;
    uint16_t Kind;
    const char* Path;
};

class ExpandPathTemplateTest : public ::testing::TestWithParam<TExpandCase> {
protected:
    TTempMachine FMachine; // user "tester", Windows directory C:\windows
};

TEST_P(ExpandPathTemplateTest, Expands) {
    TUFileOp database = TUFileOp::FromContents({}, {});
    EXPECT_EQ(database.ExpandPathTemplate(GetParam().Template, GetParam().Kind), GetParam().Path);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, ExpandPathTemplateTest,
    ::testing::Values(
        TExpandCase{"{das}{cur}{ad}\\Opera", 1,
                    "C:\\Documents and Settings\\tester\\Application Data\\Opera"},
        TExpandCase{"{pf}{cf}\\Vendor", 1, "C:\\Program Files\\Common Files\\Vendor"},
        TExpandCase{"{w}{s32}\\x.dll", 1, "C:\\windows\\system32\\x.dll"},
        TExpandCase{"D:\\Games\\Foo", 1, "D:\\Games\\Foo"}, TExpandCase{"\\Temp\\Foo", 1, "C:\\Temp\\Foo"},
        TExpandCase{"HKLM{sw}\\Vendor", 2, "HKEY_LOCAL_MACHINE\\Software\\Vendor"},
        TExpandCase{"hkcu{sw}{ms}{win}{cv}\\Run\\Foo", 3,
                    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Foo"},
        // Empty and blank templates.
        TExpandCase{"", 1, ""}, TExpandCase{"   ", 1, ""}, TExpandCase{" \t ", 2, ""}, TExpandCase{"", 3, ""},
        // {w} counts only at the very start; a template with a drive loses every {w}.
        TExpandCase{"\\a{w}b", 1, "C:\\a{w}b"}, TExpandCase{"D:\\{w}x{w}", 1, "D:\\x"},
        TExpandCase{"{w}", 1, "C:\\windows"},
        // Placeholders are case-sensitive, applied in table order, {sf} before {sf2} and {s32} before {s}.
        TExpandCase{"{PF}\\x", 1, "C:{PF}\\x"},
        TExpandCase{"{w}{s}{s32}", 1, "C:\\windows\\system\\system32"},
        TExpandCase{"HKCU{sw}{sf}{sf2}{usf}", 2,
                    "HKEY_CURRENT_USER\\Software\\Shell Folder\\ShellFolder\\User Shell Folders"},
        TExpandCase{"HKU{cur}{sw}", 2, "HKEY_USERS\\tester\\Software"},
        // A key stands where its braces are: an unclosed or unknown brace is text, a known key right after it
        // is still replaced, and the replaced text brings no new key.
        TExpandCase{"{a{pf}}", 1, "C:{a\\Program Files}"},
        TExpandCase{"{{pf}}{cv", 2, "HKEY_CURRENT_CONFIG\\Program Files}{cv"},
        TExpandCase{"\\x{pf", 1, "C:\\x{pf"}, TExpandCase{"{}{cur}{", 1, "C:{}\\tester{"},
        // Registry heads ignore case; full root names and anything else become HKEY_CURRENT_CONFIG.
        TExpandCase{"HkLm\\x", 2, "HKEY_LOCAL_MACHINE\\x"},
        TExpandCase{"hkcr\\.txt", 3, "HKEY_CLASSES_ROOT\\.txt"},
        TExpandCase{"HKEY_LOCAL_MACHINE\\Software", 2, "HKEY_CURRENT_CONFIG\\Software"},
        TExpandCase{"\\Software\\x", 2, "HKEY_CURRENT_CONFIG\\Software\\x"},
        TExpandCase{"Foo", 2, "HKEY_CURRENT_CONFIGFoo"}, TExpandCase{"Foo", 0, "HKEY_CURRENT_CONFIGFoo"},
        // {w} and {x} mean nothing in a registry path.
        TExpandCase{"{w}\\x", 2, "HKEY_CURRENT_CONFIG\\x"},
        TExpandCase{"HKLM\\{x}", 2, "HKEY_LOCAL_MACHINE\\{x}"}));

// Every placeholder of the table, alone and in a registry path, so that a typo in any row of
// it shows.
INSTANTIATE_TEST_SUITE_P(
    Placeholders, ExpandPathTemplateTest,
    ::testing::Values(
        TExpandCase{"{das}", 1, "C:\\Documents and Settings"}, TExpandCase{"{ls}", 1, "C:\\Local Settings"},
        TExpandCase{"{md}", 1, "C:\\My Documents"}, TExpandCase{"{ad}", 1, "C:\\Application Data"},
        TExpandCase{"{is}", 1, "C:\\Internet Settings"}, TExpandCase{"{usf}", 1, "C:\\User Shell Folders"},
        TExpandCase{"{sf}", 1, "C:\\Shell Folder"}, TExpandCase{"{sf2}", 1, "C:\\ShellFolder"},
        TExpandCase{"{pf}", 1, "C:\\Program Files"}, TExpandCase{"{cf}", 1, "C:\\Common Files"},
        TExpandCase{"{cm}", 1, "C:\\Config.Msi"}, TExpandCase{"{s32}", 1, "C:\\system32"},
        TExpandCase{"{s}", 1, "C:\\system"}, TExpandCase{"{c}", 1, "C:\\config"},
        TExpandCase{"{i}", 1, "C:\\Installer"}, TExpandCase{"{as}", 1, "C:\\All Users"},
        TExpandCase{"{a}", 1, "C:\\Administrator"}, TExpandCase{"{df}", 1, "C:\\Default User"},
        TExpandCase{"{lse}", 1, "C:\\LocalService"}, TExpandCase{"{nse}", 1, "C:\\NetworkService"},
        TExpandCase{"{sw}", 1, "C:\\Software"}, TExpandCase{"{ms}", 1, "C:\\Microsoft"},
        TExpandCase{"{win}", 1, "C:\\Windows"}, TExpandCase{"{cv}", 1, "C:\\CurrentVersion"},
        TExpandCase{"{cur}", 1, "C:\\tester"}, TExpandCase{"{w}", 1, "C:\\windows"},
        TExpandCase{"HKLM{das}{ls}{md}{ad}{is}{usf}{sf}{sf2}{pf}{cf}{cm}{s32}", 2,
                    "HKEY_LOCAL_MACHINE\\Documents and Settings\\Local Settings\\My Documents\\Application "
                    "Data\\Internet Settings\\User Shell Folders\\Shell Folder\\ShellFolder\\Program "
                    "Files\\Common Files\\Config.Msi\\system32"},
        TExpandCase{
            "HKCU{s}{c}{i}{as}{a}{df}{lse}{nse}{sw}{ms}{win}{cv}{cur}", 3,
            "HKEY_CURRENT_USER\\system\\config\\Installer\\All Users\\Administrator\\Default "
            "User\\LocalService\\NetworkService\\Software\\Microsoft\\Windows\\CurrentVersion\\tester"}));

TEST(ProfileFolderTest, FirstVisibleDefaultEntryEndsThePath) {
    TTempMachine machine;
    TUFileOp database = TUFileOp::FromContents({}, {});
    const std::string profiles = "C:\\users\\tester\\AppData\\Roaming\\Mozilla\\Firefox\\Profiles";
    const std::string templateText = "\\users{cur}\\AppData\\Roaming\\Mozilla\\Firefox\\Profiles\\{x}\\Cache";

    // No folder at all, then an empty folder: the folder that was to hold the profile.
    EXPECT_EQ(database.ExpandPathTemplate(templateText, 1), profiles + "\\");
    machine.MakeFolder(profiles);
    machine.MakeFolder(profiles + "\\other.release");
    EXPECT_EQ(database.ExpandPathTemplate(templateText, 1), profiles + "\\");

    // Hidden and system entries are passed over; a dot name is hidden too.
    machine.MakeFolder(profiles + "\\hidden.default");
    machine.MakeFolder(profiles + "\\system.default");
    machine.MakeFolder(profiles + "\\.dot.default");
    machine.SetDosAttributes(machine.HostPath(profiles + "\\hidden.default"), 2);
    machine.SetDosAttributes(machine.HostPath(profiles + "\\system.default"), 4);
    if ((platform::GetFileAttributes(profiles + "\\hidden.default") & platform::FILE_ATTRIBUTE_HIDDEN) == 0)
        GTEST_SKIP() << "no extended attributes on this file system";
    EXPECT_EQ(database.ExpandPathTemplate(templateText, 1), profiles + "\\");

    machine.MakeFolder(profiles + "\\ab12cd34.default");
    EXPECT_EQ(database.ExpandPathTemplate(templateText, 1), profiles + "\\ab12cd34.default");
    EXPECT_EQ(database.ResolveProfileFolder(profiles + "\\{x}{x}\\more"), profiles + "\\ab12cd34.default");
}

TEST(ProfileFolderTest, AFileMatchesAsWellAsAFolder) {
    TTempMachine machine;
    TUFileOp database = TUFileOp::FromContents({}, {});
    machine.WriteFile("C:\\p\\x.default", "");
    EXPECT_EQ(database.ExpandPathTemplate("\\p\\{x}", 1), "C:\\p\\x.default");
}

// ---- Item existence ----

class ItemExistsTest : public ::testing::Test {
protected:
    void SetUp() override {
        THiveBuilder system(THiveBuilder::System);
        system.Key("Software\\Vendor").String("Path", "C:\\Vendor").String("", "default");
        FMachine.WriteRegistryFile("system.reg", system.Text());
        THiveBuilder user(THiveBuilder::User);
        user.Key("Software\\Vendor").Dword("Count", 1);
        // A value directly under the root: a block for the root key itself, ahead of the others.
        std::string userText = user.Text();
        userText.insert(userText.find("\n[") + 1, "[] 1796892324\n\"Foo\"=\"at the root\"\n\n");
        FMachine.WriteRegistryFile("user.reg", userText);
        FMachine.WriteFile("C:\\Program Files\\Vendor\\x.dll", "x");
    }

    TTempMachine FMachine;
    TUFileOp FDatabase = TUFileOp::FromContents({}, {});
};

TEST_F(ItemExistsTest, EveryKind) {
    struct TCase {
        const char* Path;
        uint16_t Kind;
        bool Exists;
    } cases[] = {
        {"C:\\Program Files\\Vendor\\x.dll", 1, true},
        {"C:\\Program Files\\Vendor", 1, false}, // a folder is no file
        {"C:\\Program Files\\Vendor\\gone.dll", 1, false},
        {"HKEY_LOCAL_MACHINE\\Software\\Vendor", 2, true},
        {"HKEY_LOCAL_MACHINE\\Software\\Gone", 2, false},
        {"HKEY_CURRENT_USER\\Software\\Vendor", 2, true},
        {"hklm\\Software\\Vendor", 2, false}, // expanded paths carry full root names only
        {"HKEY_LOCAL_MACHINE\\Software\\Vendor\\Path", 3, true},
        {"HKEY_LOCAL_MACHINE\\Software\\Vendor\\", 3, true}, // the default value
        {"HKEY_LOCAL_MACHINE\\Software\\Vendor\\Gone", 3, false},
        {"HKEY_LOCAL_MACHINE\\Software\\Gone\\Path", 3, false},
        {"HKEY_CURRENT_USER\\Foo", 3, true}, // a value directly under the root
        {"HKEY_CURRENT_USER\\Bar", 3, false},
        {"HKEY_CURRENT_CONFIGFoo", 3, false}, // no backslash: no value is named
        {"HKEY_LOCAL_MACHINE\\Software\\Vendor", 0, false},
        {"HKEY_LOCAL_MACHINE\\Software\\Vendor", 4, false},
        {"C:\\Program Files\\Vendor\\x.dll", 0, false},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(FDatabase.ItemExists(c.Path, c.Kind), c.Exists) << c.Path << " kind " << c.Kind;
}

TEST_F(ItemExistsTest, ValueUnderAHiveThatCannotBeWrittenIsAbsent) {
    // A hive file without write permission is read-only to the platform, root or not.
    fs::permissions(FMachine.Prefix() / "system.reg", fs::perms::all, fs::perm_options::remove);
    fs::permissions(FMachine.Prefix() / "system.reg", fs::perms::owner_read, fs::perm_options::add);
    EXPECT_TRUE(FDatabase.ItemExists("HKEY_LOCAL_MACHINE\\Software\\Vendor", 2));
    EXPECT_FALSE(FDatabase.ItemExists("HKEY_LOCAL_MACHINE\\Software\\Vendor\\Path", 3));
    EXPECT_TRUE(FDatabase.ItemExists("HKEY_CURRENT_USER\\Software\\Vendor\\Count", 3));
}

// ---- Queries ----

// A database whose order and spelling show which record wins each lookup.
class QueryTest : public DatabaseTest {
protected:
    void SetUp() override {
        DatabaseTest::SetUp();
        TDatabaseWriter writer;
        writer.Add("tool", "Tool", 2);
        writer.Add("VT", "  VENDOR TOOL  ", 5);
        TDatabaseProgram& foo = writer.Add("foo", "Foo", 9);
        foo.File(1, " {pf}\\Foo\\foo.exe ")
            .File(1, "{pf}\\Foo")
            .File(1, "{pf}\\Foo\\gone.dll")
            .File(2, "HKLM{sw}\\Foo")
            .Registry(2, "HKLM{sw}\\Foo")
            .Registry(3, "HKLM{sw}\\Foo\\Path")
            .Registry(3, "HKLM{sw}\\Foo\\Gone")
            .Registry(1, "{pf}\\Foo\\readme.txt");
        foo.Services = "  FooSvc  ";
        foo.Processes = "foo.exe,footray.exe";
        foo.Spare = " s ";
        foo.InstallFolder = " 1\\Foo ";
        foo.DesktopEntries = "Foo";
        foo.ProgramsEntries = "Foo Group";
        foo.StartupEntries = "Foo Tray";
        foo.StartMenuEntries = "Foo Menu";
        foo.Probe("HKLM{sw}\\Foo", "InstallDir")
            .Probe("  hkcu{sw}\\Foo", "(default)")
            .Probe("HKU\\x", " spaced ");
        writer.Add("FOOM", "Foo Mail", 1).File(1, "{pf}\\FooMail\\mail.exe");
        TDatabaseProgram& alpha = writer.Add("  abc ", "Alpha Beta", 11);
        alpha.IndexId = "ABC";
        alpha.File(1, "{pf}\\Alpha\\alpha.exe");
        writer.Add("blank", "   ", 3);
        writer.Add("dup", "Dup One", 4);
        writer.Add("DUP", "Dup Two", 6);
        writer.Add("ghost", "Ghost", 0).InSoft = false;
        writer.Add("unindexed", "Unindexed", 7).InIndex = false;
        // A second index record for foo, with items of its own that are never used.
        TDatabaseProgram& again = writer.Add("FOO", "", 0);
        again.InSoft = false;
        again.File(1, "{pf}\\Other\\other.exe");
        writer.WriteFiles(FMachine.ProgramFolder());

        THiveBuilder system(THiveBuilder::System);
        system.Key("Software\\Foo").String("Path", "C:\\Program Files\\Foo");
        FMachine.WriteRegistryFile("system.reg", system.Text());
        for (const char* file :
             {"C:\\Program Files\\Foo\\foo.exe", "C:\\Program Files\\Foo\\readme.txt",
              "C:\\Program Files\\Alpha\\alpha.exe", "C:\\Program Files\\Other\\other.exe"})
            FMachine.WriteFile(file, "x");
        FDatabase = std::make_unique<TUFileOp>("", "");
    }

    std::unique_ptr<TUFileOp> FDatabase;
};

TEST_F(QueryTest, DisplayNameToIdTakesTheFirstRecordWhoseNameOccurs) {
    struct TCase {
        const char* DisplayName;
        const char* Id;
    } cases[] = {
        {"Vendor Tool 9.0", "tool"}, // Tool comes first in the file
        {"Foo Mail 1.0", "foo"},     // the first record, not the longest name
        {"FOO MAIL", "foo"},
        {"My Alpha Beta", "  abc "}, // the ID as stored
        {"Dup Two", "DUP"},
        {"Mail", ""},
        {"", ""},
        {"     ", ""}, // a blank name occurs in nothing
    };
    for (const TCase& c : cases)
        EXPECT_EQ(FDatabase->FindIdByDisplayName(c.DisplayName), c.Id) << c.DisplayName;
}

TEST(DisplayNameTest, TheNameMatchesIgnoringCaseWhenNoEarlierNameOccurs) {
    for (bool toolFirst : {false, true}) {
        TDatabaseWriter writer;
        if (toolFirst)
            writer.Add("T", "Tool", 1);
        writer.Add("VT", "VENDOR TOOL", 1);
        writer.Add("T", "Tool", 1);
        TUFileOp database = TUFileOp::FromContents(writer.DataFileContent(), writer.SoftFileContent());
        EXPECT_EQ(database.FindIdByDisplayName("Vendor Tool 9.0"), toolFirst ? "T" : "VT");
    }
}

TEST_F(QueryTest, IdAndNameLookups) {
    EXPECT_EQ(FDatabase->GetNameById("VT"), "VENDOR TOOL");
    EXPECT_EQ(FDatabase->GetNameById("vt"), "VENDOR TOOL");
    EXPECT_EQ(FDatabase->GetNameById("abc"), "Alpha Beta");
    EXPECT_EQ(FDatabase->GetNameById(" abc"), ""); // the asked ID is not trimmed
    EXPECT_EQ(FDatabase->GetNameById("DUP"), "Dup One");
    EXPECT_EQ(FDatabase->GetNameById("ghost"), "");

    EXPECT_EQ(FDatabase->GetCategoryById("FOO"), 9);
    EXPECT_EQ(FDatabase->GetCategoryById("abc"), 11);
    EXPECT_EQ(FDatabase->GetCategoryById("nothing"), 0);

    EXPECT_EQ(FDatabase->GetCategoryTextByName("vendor tool"), "Application Software");
    EXPECT_EQ(FDatabase->GetCategoryTextByName("Foo Mail"), "Networking Software");
    EXPECT_EQ(FDatabase->GetCategoryTextByName("Foo"), "Games");
    EXPECT_EQ(FDatabase->GetCategoryTextByName(" Foo"), "");
    EXPECT_EQ(FDatabase->GetCategoryTextByName("Alpha Beta"), ""); // category 11
    EXPECT_EQ(FDatabase->GetCategoryTextByName("nothing"), "");
}

TEST(SoftCategoryTest, Texts) {
    const char* texts[] = {"",
                           "Networking Software",
                           "System Tools",
                           "Audio and video",
                           "Graphic Tools",
                           "Application Software",
                           "Profession",
                           "Educational Software",
                           "Security Tools",
                           "Games",
                           "Other Tools",
                           ""};
    for (int32_t category = 0; category <= 11; ++category)
        EXPECT_EQ(SoftCategoryText(category), texts[category]) << category;
    EXPECT_EQ(SoftCategoryText(-1), "");
}

TEST_F(QueryTest, ListsAndCountsFollowTheIndex) {
    TStringList list{"stale"};
    EXPECT_EQ(FDatabase->ListSoftwareByCategory(list, 0), 10);
    EXPECT_EQ(list, (TStringList{"Tool", "VENDOR TOOL", "Foo", "Foo Mail", "Alpha Beta", "", "Dup One",
                                 "Dup One", "", "Foo"}));
    EXPECT_EQ(FDatabase->ListSoftwareByCategory(list, 9), 2);
    EXPECT_EQ(list, (TStringList{"Foo", "Foo"}));
    EXPECT_EQ(FDatabase->ListSoftwareByCategory(list, 11), 1);
    EXPECT_EQ(FDatabase->ListSoftwareByCategory(list, 7), 0); // in soft.dat, not in the index
    EXPECT_TRUE(list.Empty());

    EXPECT_EQ(FDatabase->CountSoftwareByCategory(0), 10);
    EXPECT_EQ(FDatabase->CountSoftwareByCategory(9), 2);
    EXPECT_EQ(FDatabase->CountSoftwareByCategory(4), 2); // dup and DUP both find "dup"
    EXPECT_EQ(FDatabase->CountSoftwareByCategory(6), 0);
    EXPECT_EQ(FDatabase->CountSoftwareByCategory(7), 0);
}

// The counts fold each ID of the index and of soft.dat where it lies, a word at a time: they must find
// exactly the records that GetCategoryById finds, in every byte of the ten a slot holds.
TEST(CategoryCountTest, CountsFindTheRecordsThatTheIdLookupFinds) {
    using namespace std::string_literals;
    struct TCase {
        std::string SoftId;
        std::string IndexId;
        bool Found;
    } cases[] = {
        {"ABCDEFGHIJ", "abcdefghij", true}, // the last two bytes fold too
        {"abcdefghiJ", "ABCDEFGHIj", true},
        {"ABCDEFGH", "abcdefgh", true},
        {"AZ", "az", true},
        {"A@Z[", "a`z{", false}, // the neighbours of A and Z are not letters
        {"@[", "@[", true},
        {" \tPad  ", "pad", true}, // blanks trimmed on both sides
        {"pad", " PAD ", true},
        {"ab\0"s, "AB", true},     // a zero byte is trimmed as a blank
        {"\xC4x", "\xE4X", false}, // only ASCII letters fold
        {"\xC4x", "\xC4X", true},
        {"ab", "abc", false},
        {"abcdefghij", "abcdefghi", false},
    };
    for (const TCase& c : cases) {
        TDatabaseWriter writer;
        writer.Add(c.SoftId, "Program", 5).IndexId = c.IndexId;
        TUFileOp database = TUFileOp::FromContents(writer.DataFileContent(), writer.SoftFileContent());
        const std::string trimmed = platform::Trim(c.IndexId);
        EXPECT_EQ(database.GetCategoryById(trimmed), c.Found ? 5 : 0) << c.IndexId;
        EXPECT_EQ(database.CountSoftwareByCategory(5), c.Found ? 1 : 0) << c.IndexId;
        EXPECT_EQ(database.CountSoftwareByCategory(0), 1) << c.IndexId;
    }
}

TEST_F(QueryTest, LeftoverItemsByKindAndExistence) {
    struct TCase {
        const char* DisplayName;
        uint16_t Kind;
        uint16_t OnlyExisting;
        int32_t Result;
        TStringList Lines;
    } cases[] = {
        {"Foo 2.0", 1, 1, 1, {"1C:\\Program Files\\Foo\\foo.exe"}},
        {"Foo 2.0",
         1,
         0,
         3,
         {"1C:\\Program Files\\Foo\\foo.exe", "1C:\\Program Files\\Foo",
          "1C:\\Program Files\\Foo\\gone.dll"}},
        {"Foo 2.0", 2, 1, 1, {"2HKEY_LOCAL_MACHINE\\Software\\Foo"}},
        {"Foo 2.0", 3, 1, 1, {"3HKEY_LOCAL_MACHINE\\Software\\Foo\\Path"}},
        {"Foo 2.0",
         3,
         0,
         2,
         {"3HKEY_LOCAL_MACHINE\\Software\\Foo\\Path", "3HKEY_LOCAL_MACHINE\\Software\\Foo\\Gone"}},
        {"Foo 2.0",
         0,
         1,
         5,
         {"1C:\\Program Files\\Foo\\foo.exe", "2HKEY_LOCAL_MACHINE\\Software\\Foo",
          "2HKEY_LOCAL_MACHINE\\Software\\Foo", "3HKEY_LOCAL_MACHINE\\Software\\Foo\\Path",
          "1C:\\Program Files\\Foo\\readme.txt"}},
        {"  Alpha Beta  ",
         1,
         1,
         1,
         {"1C:\\Program Files\\Alpha\\alpha.exe"}}, // abc in soft.dat, ABC in the index
        {"Unindexed", 0, 1, 0, {}},
        {"Foo 2.0", 4, 1, -3, {}},
        {"Foo 2.0", 65535, 1, -3, {}},
        {"Nothing known", 5, 1, -1, {}}, // -1 before -3
        {"", 1, 1, -1, {}},
    };
    for (const TCase& c : cases) {
        TStringList list{"stale"};
        EXPECT_EQ(FDatabase->GetLeftoverItems(c.DisplayName, c.Kind, list, c.OnlyExisting), c.Result)
            << c.DisplayName << " kind " << c.Kind;
        EXPECT_EQ(list, c.Lines) << c.DisplayName << " kind " << c.Kind;
    }
}

TEST_F(DatabaseTest, ItemKindsBeyondSixteenBitsNameNothing) {
    // 65537 and 65538 have the low bits of a file and a key: they must not pass for either.
    TDatabaseWriter writer;
    writer.Add("wide", "Wide", 1).File(65537, "{pf}\\Wide\\wide.exe").Registry(65538, "HKLM{sw}\\Wide");
    writer.WriteFiles(FMachine.ProgramFolder());
    THiveBuilder system(THiveBuilder::System);
    system.Key("Software\\Wide").String("x", "y");
    FMachine.WriteRegistryFile("system.reg", system.Text());
    FMachine.WriteFile("C:\\Program Files\\Wide\\wide.exe", "x");
    TUFileOp database("", "");
    for (uint16_t kind : {uint16_t{0}, uint16_t{1}, uint16_t{2}, uint16_t{3}}) {
        TStringList list;
        EXPECT_EQ(database.GetLeftoverItems("Wide", kind, list, 1), 0) << "kind " << kind;
        EXPECT_EQ(list, TStringList{}) << "kind " << kind;
    }
    TStringList all;
    EXPECT_EQ(database.GetLeftoverItems("Wide", 0, all, 0), 2);
    ASSERT_EQ(all.Count(), 2);
    EXPECT_EQ(all[0].rfind("65537", 0), 0u);
    EXPECT_EQ(all[1].rfind("65538", 0), 0u);
}

TEST_F(QueryTest, SoftwareInformationAndProbes) {
    TStringList info{"stale"}, keys{"stale"}, values{"stale"};
    EXPECT_EQ(FDatabase->GetSoftInfo("  Foo 2.0 ", info, keys, values), 11);
    EXPECT_EQ(info, (TStringList{"foo", "Foo", "9", "FooSvc", "foo.exe,footray.exe", "s", "1\\Foo", "Foo",
                                 "Foo Group", "Foo Tray", "Foo Menu"}));
    EXPECT_EQ(keys, (TStringList{"HKEY_LOCAL_MACHINE\\Software\\Foo", "HKEY_CURRENT_USER\\Software\\Foo",
                                 "HKEY_USERS\\x"}));
    EXPECT_EQ(values, (TStringList{"InstallDir", "(default)", " spaced "}));

    // The exact-case ID finds the record the display name named, not the first one differing in case.
    EXPECT_EQ(FDatabase->GetSoftInfo("Dup Two", info, keys, values), 11);
    EXPECT_EQ(info[1], "Dup Two");
    EXPECT_TRUE(keys.Empty());

    EXPECT_EQ(FDatabase->GetSoftInfo("nothing", info, keys, values), -1);
    EXPECT_TRUE(info.Empty() && keys.Empty() && values.Empty());
}

TEST_F(DatabaseTest, EmptyDatabaseFindsNothing) {
    TUFileOp database("", "");
    TStringList list, info, keys, values;
    EXPECT_EQ(database.FindIdByDisplayName("Anything"), "");
    EXPECT_EQ(database.GetLeftoverItems("Anything", 0, list, 1), -1);
    EXPECT_EQ(database.GetSoftInfo("Anything", info, keys, values), -1);
    EXPECT_EQ(database.GetNameById(""), "");
    EXPECT_EQ(database.GetCategoryTextByName(""), "");
    for (uint16_t category = 0; category <= 10; ++category) {
        EXPECT_EQ(database.ListSoftwareByCategory(list, category), 0);
        EXPECT_EQ(database.CountSoftwareByCategory(category), 0);
    }
}

TEST(CountTest, CountIsSixteenBits) {
    TDatabaseWriter writer;
    for (int i = 0; i < 70000; ++i)
        writer.Add(std::to_string(i), "", 0).InSoft = false;
    writer.Add("5", "Five", 3);
    writer.Programs.back().InIndex = false;
    TUFileOp database = TUFileOp::FromContents(writer.DataFileContent(), writer.SoftFileContent());
    EXPECT_EQ(database.CountSoftwareByCategory(0), 4464);
    EXPECT_EQ(database.CountSoftwareByCategory(3), 1);
    TStringList list;
    EXPECT_EQ(database.ListSoftwareByCategory(list, 0), 70000);
}

// ---- Corrupt files ----

TEST(CorruptDatabaseTest, CountsAndOffsetsOutsideTheFileNameAbsentRecords) {
    // A count of two billion on a bare header.
    TDatabaseWriter bare;
    bare.DataCount = 2000000000;
    bare.SoftCount = 2000000000;
    TUFileOp empty = TUFileOp::FromContents(bare.DataFileContent(), bare.SoftFileContent());
    TStringList list;
    EXPECT_EQ(empty.ListSoftwareByCategory(list, 0), 0);
    EXPECT_EQ(empty.CountSoftwareByCategory(0), 0);
    EXPECT_EQ(empty.CountSoftwareByCategory(1), 0);
    EXPECT_EQ(empty.FindIdByDisplayName("x"), "");

    // A count above the records there: only those that are there.
    TDatabaseWriter two;
    two.Add("A", "Alpha", 1);
    two.Add("B", "Beta", 1);
    two.DataCount = 3;
    two.SoftCount = 3;
    TUFileOp over = TUFileOp::FromContents(two.DataFileContent(), two.SoftFileContent());
    EXPECT_EQ(over.CountSoftwareByCategory(0), 2);
    EXPECT_EQ(over.CountSoftwareByCategory(1), 2);
    EXPECT_EQ(over.ListSoftwareByCategory(list, 1), 2);
    // The count is cut to 16 bits before the records are counted: 65537 names the first record only.
    two.DataCount = 65537;
    over = TUFileOp::FromContents(two.DataFileContent(), two.SoftFileContent());
    EXPECT_EQ(over.CountSoftwareByCategory(0), 1);
    EXPECT_EQ(over.CountSoftwareByCategory(1), 1);

    TDatabaseWriter writer;
    writer.SoftCount = -7;
    writer.Add("A", "Alpha", 1).File(1, "{pf}\\a").Registry(2, "HKLM\\a").ItemOffset = -105;
    TDatabaseProgram& beta = writer.Add("B", "Beta", 1);
    beta.File(1, "{pf}\\b1").File(1, "{pf}\\b2");
    beta.FileCount = 2000000000;
    beta.RegCount = 2000000000;
    TUFileOp database = TUFileOp::FromContents(writer.DataFileContent(), writer.SoftFileContent());
    EXPECT_EQ(database.CountSoftwareByCategory(0), 2);
    EXPECT_EQ(database.ListSoftwareByCategory(list, 0), 2);
    EXPECT_EQ(list, (TStringList{"", ""})); // a negative soft.dat count holds no records

    writer.SoftCount = 2000000000;
    writer.Programs[1].ProbeOffset = 1 << 30;
    writer.Programs[1].ProbeCount = 5;
    writer.Programs[0].ProbeOffset = static_cast<int32_t>(TDatabaseWriter::SoftRecordOffset(1));
    writer.Programs[0].ProbeCount = 2000000000; // the probes read the next software record's bytes
    database = TUFileOp::FromContents(writer.DataFileContent(), writer.SoftFileContent());
    EXPECT_EQ(database.GetLeftoverItems("Alpha", 0, list, 0), 0);
    EXPECT_EQ(database.GetLeftoverItems("Beta", 1, list, 0), 2);
    EXPECT_EQ(list, (TStringList{"1C:\\Program Files\\b1", "1C:\\Program Files\\b2"}));
    EXPECT_EQ(database.GetLeftoverItems("Beta", 2, list, 0), 0);
    TStringList info, keys, values;
    EXPECT_EQ(database.GetSoftInfo("Beta", info, keys, values), 11);
    EXPECT_TRUE(keys.Empty());
    EXPECT_EQ(database.GetSoftInfo("Alpha", info, keys, values), 11);
    EXPECT_EQ(keys.Count(), 8); // 1114 bytes of a software record hold eight whole probes
}

TEST(CorruptDatabaseTest, LengthByteAboveTheSlotIsClamped) {
    TDatabaseWriter writer;
    writer.SlotFiller = 'z';
    writer.Add("ID", "Name", 1).File(1, "{pf}\\x");
    std::string soft = writer.SoftFileContent();
    std::string data = writer.DataFileContent();
    soft[TDatabaseWriter::SoftRecordOffset(0) + 11] = static_cast<char>(200); // Name, 40 bytes
    data[TDatabaseWriter::DataIndexOffset(0) + 4] = static_cast<char>(255);   // ID, 10 bytes
    data[TDatabaseWriter::DataIndexOffset(1) + 4] = static_cast<char>(101);   // the item's template
    TUFileOp database = TUFileOp::FromContents(data, soft);
    EXPECT_EQ(database.GetNameById("ID"), "Name" + std::string(36, 'z'));
    TDataIndexRec index;
    ASSERT_TRUE(database.ReadDataIndex(28, index));
    EXPECT_EQ(index.ID.Text(), "ID" + std::string(8, 'z'));
    TDataItemRec item;
    ASSERT_TRUE(database.ReadDataItem(index.ItemOffset, item));
    EXPECT_EQ(item.Template.Text(), "{pf}\\x" + std::string(94, 'z'));
}

} // namespace
