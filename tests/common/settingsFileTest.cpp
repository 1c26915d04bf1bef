#include "common/publicFun.h"
#include "platform/dateTime.h"
#include "platform/iniFile.h"
#include "platform/sysUtils.h"
#include "support/tempMachine.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClockForTesting([] { return platform::EncodeDateTime(2026, 12, 10, 9, 5, 7); });
    }
    void TearDown() override { platform::SetClockForTesting({}); }

    TTempMachine FMachine;
    std::string FFile = FMachine.ProgramFolderWindows() + SettingsFileName;
};

} // namespace

TEST_F(SettingsFile, DefaultTextIsElevenCrLfLines) {
    WriteDefaultSettings(FFile);
    EXPECT_EQ(ReadBytes(FMachine.ProgramFolder() / "Settings.ini"),
              "[Settings]\r\nView Style=2\r\nHidden RightTips=0\r\nHidden Process=0\r\nAuto Update=0\r\n"
              "Delete Update=1\r\nWindows Startup=0\r\nStartup Minimize=0\r\n[Update Information]\r\n"
              "Last Time=2026-12-10 09:05:07\r\nInstall Day=" +
                  EncodeSettingText("2026-12-10") + "\r\n");
}

TEST_F(SettingsFile, DefaultTextReplacesAnExistingFileAndReadsBack) {
    FMachine.WriteHostFile(FMachine.ProgramFolder() / "Settings.ini",
                           "junk that is longer than the default text\n");
    WriteDefaultSettings(FFile);
    platform::TIniFile ini(FFile);
    EXPECT_EQ(ini.ReadInteger(SectionSettings, KeyViewStyle, -1), 2);
    EXPECT_EQ(ini.ReadInteger(SectionSettings, KeyDeleteUpdate, -1), 1);
    EXPECT_EQ(ini.ReadString(SectionUpdateInformation, KeyLastTime, ""), "2026-12-10 09:05:07");
    EXPECT_EQ(DecodeSettingText(ini.ReadString(SectionUpdateInformation, KeyInstallDay, "")), "2026-12-10");
}

TEST_F(SettingsFile, UnwritableFolderRaisesInOutError) {
    if (!FMachine.SetImmutable(FMachine.ProgramFolder(), true))
        GTEST_SKIP() << "the file system cannot make a folder immutable";
    EXPECT_THROW(WriteDefaultSettings(FFile), platform::EInOutError);
    FMachine.SetImmutable(FMachine.ProgramFolder(), false);
}

TEST(InstallDay, ScrambleUsesTheKeyFromItsSecondByte) {
    // Key 05 02 09 03 06: the first character takes 02, the fifth 05, the sixth 02 again.
    EXPECT_EQ(XorScramble("A"), std::string(1, 'A' ^ 0x02));
    EXPECT_EQ(StrToHex(XorScramble("AAAAAA")), "434842474443");
    EXPECT_EQ(XorScramble(XorScramble("2026-12-10")), "2026-12-10");
    EXPECT_EQ(XorScramble(""), "");
}

TEST(InstallDay, EncodedDateIsTwentyUpperCaseDigitsThatDecodeBack) {
    std::string encoded = EncodeSettingText("2008-01-15");
    EXPECT_EQ(encoded.size(), 20u);
    EXPECT_EQ(encoded, platform::UpperCase(encoded));
    EXPECT_EQ(DecodeSettingText(encoded), "2008-01-15");
    EXPECT_EQ(DecodeSettingText(platform::LowerCase(encoded)), "2008-01-15");
    std::string spaced;
    for (size_t i = 0; i < encoded.size(); i += 2)
        spaced += encoded.substr(i, 2) + " ";
    EXPECT_EQ(DecodeSettingText(spaced), "2008-01-15");
    EXPECT_EQ(EncodeSettingText(""), "");
}

struct THexCase {
    const char* Hex;
    std::string Text;
};

class HexToStrTest : public ::testing::TestWithParam<THexCase> {};

TEST_P(HexToStrTest, ReadsPairsAndLoneDigits) {
    EXPECT_EQ(HexToStr(GetParam().Hex), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(Cases, HexToStrTest,
                         ::testing::Values(THexCase{"4142", "AB"}, THexCase{"414", "A\x04"},
                                           THexCase{"4 41", std::string("\x04"
                                                                        "A")},
                                           THexCase{"zz", ""}, THexCase{"", ""},
                                           THexCase{"ff00", std::string("\xff\0", 2)},
                                           THexCase{"-41-", "A"}));

TEST(InstallDay, StrToHexWritesTwoUpperCaseDigitsPerByte) {
    EXPECT_EQ(StrToHex(std::string("\x00\x0f\xff", 3)), "000FFF");
}
