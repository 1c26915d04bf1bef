#include "update/updaterReply.h"

#include <gtest/gtest.h>

namespace {

const std::string Head = "System=Rudarorovod\r\nCommand=Update\r\nx=y\r\n";

struct TReplyCase {
    const char* Name;
    std::string Reply;
    int Result;
    TUpdateFiles Files;
};

class UpdaterReplyTest : public testing::TestWithParam<TReplyCase> {};

TEST_P(UpdaterReplyTest, ResultAndFields) {
    const TReplyCase& c = GetParam();
    TUpdateFiles files{"stale", "stale", "stale", "stale", "stale", "stale"};
    EXPECT_EQ(ReadUpdaterReply(c.Reply, files), c.Result);
    EXPECT_EQ(files.ProgramUrl, c.Files.ProgramUrl);
    EXPECT_EQ(files.DataUrl, c.Files.DataUrl);
    EXPECT_EQ(files.SoftDataUrl, c.Files.SoftDataUrl);
    EXPECT_EQ(files.ProgramMd5, c.Files.ProgramMd5);
    EXPECT_EQ(files.DataMd5, c.Files.DataMd5);
    EXPECT_EQ(files.SoftDataMd5, c.Files.SoftDataMd5);
}

const std::string Full = "\r\n\r\n\r\nP=http://h/p.exe\r\nD=http://h/d.dat\r\nS=http://h/s.dat\r\n"
                         "a=00112233445566778899aabbccddeeff\r\nb=11\r\nc=22\r\n";
const TUpdateFiles FullFiles{
    "http://h/p.exe", "http://h/d.dat", "http://h/s.dat", "00112233445566778899aabbccddeeff", "11", "22"};

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdaterReplyTest,
    testing::Values(
        TReplyCase{"all three", Head + "Result=1" + Full, 7, FullFiles},
        TReplyCase{"program and software data",
                   Head + "Result=1\r\n\r\n\r\nP=p\r\n\r\nS=s\r\n",
                   5,
                   {"p", "", "s", "", "", ""}},
        TReplyCase{
            "master data only", Head + "Result=3\r\n\r\n\r\n\r\nD=d\r\n", 2, {"", "d", "", "", "", ""}},
        TReplyCase{"six and seven", Head + "Result=9\r\n\r\n\r\nP=p\r\nD=d", 3, {"p", "d", "", "", "", ""}},
        TReplyCase{"addresses all empty", Head + "Result=1\r\n\r\n\r\nP=\r\nD=\r\nS=\r\n", 0, {}},
        TReplyCase{"result zero keeps the addresses", Head + "Result=0" + Full, 0, FullFiles},
        TReplyCase{"result not an integer", Head + "Result=yes" + Full, 0, FullFiles},
        TReplyCase{"no result at line 3", Head + "Other=1" + Full, 0, FullFiles},
        TReplyCase{"result in lower case", Head + "result=1" + Full, 0, FullFiles},
        TReplyCase{"negative result passed on", Head + "Result=-6" + Full, -6, FullFiles},
        TReplyCase{"result -1 like a wrong line 0", Head + "Result=-1", -1, {}},
        TReplyCase{"wrong system", "System=uninstaller\r\nCommand=Update\r\n\r\nResult=1" + Full, -1, {}},
        TReplyCase{
            "blank beside the sign", "System =Rudarorovod\r\nCommand=Update\r\n\r\nResult=1" + Full, -1, {}},
        TReplyCase{
            "wrong command", "System=Rudarorovod\r\nCommand=SubmitSoft\r\n\r\nResult=1" + Full, -2, {}},
        TReplyCase{"empty reply", "", 0, {}}, TReplyCase{"system line alone", "System=Rudarorovod", 0, {}},
        TReplyCase{"keys not looked at, a line without =",
                   Head + "Result=1\n\n\nhttp://h/p.exe\nk=v?a=b\n",
                   3,
                   {"http://h/p.exe", "v?a=b", "", "", "", ""}},
        TReplyCase{"lone LF and lone CR",
                   "System=Rudarorovod\nCommand=Update\rx\nResult=1\r\r\rP=p\n",
                   1,
                   {"p", "", "", "", "", ""}},
        TReplyCase{"empty line moves the result",
                   Head + "\r\nResult=1" + Full,
                   0,
                   {"", "http://h/p.exe", "http://h/d.dat", "http://h/s.dat",
                    "00112233445566778899aabbccddeeff", "11"}},
        TReplyCase{"lines past 11 ignored", Head + "Result=1" + Full + "X=1\r\nY=2\r\n", 7, FullFiles}),
    [](const testing::TestParamInfo<TReplyCase>& param) {
        std::string name;
        for (const char* c = param.param.Name; *c != '\0'; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

} // namespace
