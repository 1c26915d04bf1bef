#include "platform/iniFile.h"

#include "support/tempMachine.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;
using platform::EIniFileException;
using platform::TIniFile;

namespace {

constexpr const char* IniPath = "C:\\Program Files\\Acme\\Settings.ini";

class IniFileTest : public testing::Test {
protected:
    void WriteIni(const std::string& text) const { Machine.WriteFile(IniPath, text); }

    std::string ReadIni() const {
        std::ifstream in(Machine.HostPath(IniPath), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

    TTempMachine Machine;
};

TEST_F(IniFileTest, IntegersAreDecimalOrHexadecimalElseTheDefault) {
    WriteIni("[S]\r\n"
             "decimal=12\r\nnegative=-5\r\nhex=0x1A\r\nHEX=0X1a\r\ndollar=$1a\r\nblanks=  7  \r\n"
             "word=abc\r\ntrailing=12abc\r\nempty=\r\nhuge=99999999999\r\nquoted=\"3\"\r\n");
    TIniFile ini(IniPath);
    const struct {
        const char* Key;
        int Expected;
    } cases[] = {
        {"decimal", 12},  {"negative", -5}, {"hex", 26},  {"dollar", 26},  {"blanks", 7}, {"word", 99},
        {"trailing", 99}, {"empty", 99},    {"huge", 99}, {"missing", 99}, {"quoted", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Key);
        EXPECT_EQ(ini.ReadInteger("s", c.Key, 99), c.Expected);
    }
}

TEST_F(IniFileTest, BooleansAreAnyIntegerOtherThanZero) {
    WriteIni("[S]\r\none=1\r\nzero=0\r\ntwo=2\r\nword=yes\r\n");
    TIniFile ini(IniPath);
    EXPECT_TRUE(ini.ReadBool("S", "one", false));
    EXPECT_FALSE(ini.ReadBool("S", "zero", true));
    EXPECT_TRUE(ini.ReadBool("S", "two", false));
    EXPECT_TRUE(ini.ReadBool("S", "word", true));
    EXPECT_FALSE(ini.ReadBool("S", "word", false));
    EXPECT_TRUE(ini.ReadBool("S", "missing", true));
    EXPECT_EQ(ini.ReadString("S", "word", ""), "yes");
    EXPECT_EQ(ini.ReadString("S", "missing", "fallback"), "fallback");
}

TEST_F(IniFileTest, WritesChangeOnlyTheirLinesOfTheDefaultText) {
    const std::string defaults =
        "[Settings]\r\nView Style=2\r\nHidden RightTips=0\r\nHidden Process=0\r\n"
        "Auto Update=0\r\nDelete Update=1\r\nWindows Startup=0\r\nStartup Minimize=0\r\n"
        "[Update Information]\r\nLast Time=2024-01-02 03:04:05\r\n"
        "Install Day=37323B33283430373034\r\n";
    WriteIni(defaults);
    TIniFile ini(IniPath);
    ini.WriteBool("Settings", "Auto Update", true);
    ini.WriteBool("Settings", "Delete Update", false);
    ini.WriteInteger("Settings", "View Style", -3);
    ini.WriteString("Update Information", "Last Time", "2025-06-07 08:09:10");
    EXPECT_EQ(ReadIni(), "[Settings]\r\nView Style=-3\r\nHidden RightTips=0\r\nHidden Process=0\r\n"
                         "Auto Update=1\r\nDelete Update=0\r\nWindows Startup=0\r\nStartup Minimize=0\r\n"
                         "[Update Information]\r\nLast Time=2025-06-07 08:09:10\r\n"
                         "Install Day=37323B33283430373034\r\n");
    EXPECT_EQ(ini.ReadInteger("Settings", "View Style", 2), -3);
    EXPECT_FALSE(ini.ReadBool("Settings", "Delete Update", true));
}

TEST_F(IniFileTest, AFailedWriteRaisesTheClassError) {
    WriteIni("[Settings]\r\nAuto Update=0\r\n");
    fs::permissions(Machine.HostPath(IniPath), fs::perms(0444));
    TIniFile ini(IniPath);
    try {
        ini.WriteBool("Settings", "Auto Update", true);
        FAIL() << "no error raised";
    } catch (const EIniFileException& error) {
        EXPECT_STREQ(error.what(), "Unable to write to C:\\Program Files\\Acme\\Settings.ini");
    }
    EXPECT_THROW(ini.WriteInteger("Settings", "Auto Update", 1), EIniFileException);
    EXPECT_THROW(ini.WriteString("Settings", "Auto Update", "1"), EIniFileException);
    EXPECT_THROW(TIniFile("C:\\Missing\\Settings.ini").WriteString("S", "k", "v"), EIniFileException);
    EXPECT_EQ(ReadIni(), "[Settings]\r\nAuto Update=0\r\n");
}

} // namespace
