#include "platform/sysUtils.h"

#include "platform/stringList.h"

#include <climits>
#include <gtest/gtest.h>

using namespace platform;

TEST(SysUtils, TrimRemovesControlCharactersAndBlanksOnly) {
    EXPECT_EQ(Trim(std::string("\t \x01 a b \r\n\x1f", 11)), "a b");
    EXPECT_EQ(Trim("   "), "");
    // Bytes above 127 are text in the ANSI code page, never trimmed.
    EXPECT_EQ(Trim("\xc3\xa9 "), "\xc3\xa9");
}

TEST(SysUtils, CaseFoldingTouchesAsciiLettersOnly) {
    EXPECT_EQ(UpperCase("abz\xc3\xa9[]"), "ABZ\xc3\xa9[]");
    EXPECT_TRUE(SameText("Vendor Tool", "VENDOR TOOL"));
    EXPECT_FALSE(SameText("\xc3\xa9", "\xc3\x89"));
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_EQ(FindText("Vendor Tool 9.0", "TOOL"), 7u);
}

struct TIntCase {
    const char* Text;
    int Expected;
};

class StrToIntDefTest : public ::testing::TestWithParam<TIntCase> {};

TEST_P(StrToIntDefTest, ReadsDecimalAndBothHexadecimalForms) {
    EXPECT_EQ(StrToIntDef(GetParam().Text, -99), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, StrToIntDefTest,
                         ::testing::Values(TIntCase{"1", 1}, TIntCase{"-17", -17}, TIntCase{"+5", 5},
                                           TIntCase{"0x1F", 31}, TIntCase{"$ff", 255}, TIntCase{"0XfF", 255},
                                           TIntCase{"2147483647", 2147483647}, TIntCase{"2147483648", -99},
                                           TIntCase{"0xFFFFFFFF", -1}, TIntCase{"", -99}, TIntCase{" 1", -99},
                                           TIntCase{"1 ", -99}, TIntCase{"1.0", -99}, TIntCase{"0x", -99},
                                           TIntCase{"$", -99}, TIntCase{"abc", -99},
                                           // The lowest int, and hexadecimal texts that negate it.
                                           TIntCase{"-2147483648", INT_MIN}, TIntCase{"-2147483649", -99},
                                           TIntCase{"-$80000000", INT_MIN}, TIntCase{"-0x80000000", INT_MIN},
                                           TIntCase{"-$FFFFFFFF", 1}, TIntCase{"-0x1", -1}));

TEST(SysUtils, WindowsPathPieces) {
    EXPECT_EQ(ExtractFilePath("C:\\Program Files\\KV.exe"), "C:\\Program Files\\");
    EXPECT_EQ(ExtractFileName("C:\\Program Files\\KV.exe"), "KV.exe");
    EXPECT_EQ(ExtractFilePath("C:KV.exe"), "C:");
    EXPECT_EQ(ExtractFileExt("C:\\a.b\\file"), "");
    EXPECT_EQ(ExtractFileExt("C:\\a\\file.tar.gz"), ".gz");
    EXPECT_EQ(IncludeTrailingBackslash("C:"), "C:\\");
    EXPECT_EQ(ExcludeTrailingBackslash("C:\\x\\"), "C:\\x");
}

TEST(SysUtils, ReplaceAllDoesNotRescanReplacedText) {
    EXPECT_EQ(StringReplaceAll("{pf}{pf}x", "{pf}", "\\{pf}"), "\\{pf}\\{pf}x");
    EXPECT_EQ(StringReplaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(StringReplaceAll("abc", "", "x"), "abc");
}

TEST(StringList, TextUsesCrLfAfterEveryLineAndSplitsAnyLineEnd) {
    TStringList list{"a", "", "b"};
    EXPECT_EQ(list.Text(), "a\r\n\r\nb\r\n");
    list.SetText("x\r\ny\nz\rw");
    EXPECT_EQ(list, (TStringList{"x", "y", "z", "w"}));
    list.SetText("only\r\n");
    EXPECT_EQ(list.Count(), 1);
}

TEST(StringList, SortAndIndexOfIgnoreCaseAndKeepDuplicates) {
    TStringList list{"beta", "Alpha", "alpha", "Gamma", "BETA"};
    list.Sort();
    EXPECT_EQ(list, (TStringList{"Alpha", "alpha", "beta", "BETA", "Gamma"}));
    EXPECT_EQ(list.IndexOf("GAMMA"), 4);
    EXPECT_EQ(list.IndexOf("delta"), -1);
}

TEST(StringList, ValuesReadNameValueLines) {
    TStringList reply{"Result=1", "Url=http://x/a=b", "flag"};
    EXPECT_EQ(reply.Values("url"), "http://x/a=b");
    EXPECT_EQ(reply.Values("flag"), "");
}
