#include "common/serverProtocol.h"

#include "support/loopbackServer.h"
#include "support/scopedVariable.h"
#include "support/tempMachine.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using platform::TStringList;

namespace {

TEST(UpdateReplyTest, LinesBreakAtCrLfLfOrCrAndAreCutAtTheirFirstEquals) {
    const struct {
        const char* Text;
        std::vector<TReplyLine> Lines;
    } cases[] = {
        {"", {}},
        {"a=b", {{"a", "b"}}},
        {"a=b\r\n", {{"a", "b"}}},
        {"\r\n", {{"", ""}}},
        {"a\r\n\r\nb=", {{"", "a"}, {"", ""}, {"b", ""}}},
        {"a=1\rb=2\nc=3\r\nd=4", {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}},
        {"a=1\n\rb=2\r\r", {{"a", "1"}, {"", ""}, {"b", "2"}, {"", ""}}},
        {"url=http://h/x.php?a=1&b=2", {{"url", "http://h/x.php?a=1&b=2"}}},
        {" System = x ", {{" System ", " x "}}},
        {"=v", {{"", "v"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.Text)));
        const UpdateReply reply(c.Text);
        ASSERT_EQ(reply.Count(), static_cast<int>(c.Lines.size()));
        for (int i = 0; i < reply.Count(); ++i)
            EXPECT_EQ(reply.Line(i), c.Lines[static_cast<size_t>(i)]);
        EXPECT_EQ(reply.Value(reply.Count()), "");
        EXPECT_EQ(reply.Value(-1), "");
    }
}

TEST(UpdateReplyTest, ReadingChecksLinesZeroAndOneAndTakesResultAtPositionThree) {
    const struct {
        const char* Text;
        const char* Command;
        int Result;
        bool ChecksPassed;
    } cases[] = {
        {"", CommandUpdate, -999, true},
        {"System=Rudarorovod", CommandUpdate, -999, true},
        {"System=Rudarorovod\r\nCommand=Update", CommandUpdate, -999, true},
        {"System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=2", CommandUpdate, 2, true},
        {"System=Rudarorovod\r\nCommand=Update\r\nx\r\nResult=-6\r\n", CommandUpdate, -6, true},
        {"System=Rudarorovod\nCommand=SubmitSoft\n\nResult=1\n", CommandSubmitSoft, 1, true},
        {"System=Rudarorovod\rCommand=Update\r\rResult=7\r", CommandUpdate, 7, true},
        {"System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=abc", CommandUpdate, 0, true},
        {"System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=", CommandUpdate, 0, true},
        {"System=Rudarorovod\r\nCommand=Update\r\n\r\nresult=2", CommandUpdate, -999, true},
        {"System=Rudarorovod\r\nCommand=Update\r\n\r\nResult =2", CommandUpdate, -999, true},
        // An empty line before Result moves it to position 4, where nobody reads it.
        {"System=Rudarorovod\r\nCommand=Update\r\n\r\n\r\nResult=2", CommandUpdate, -999, true},
        {"System=Rudarorovod\r\nCommand=Update\r\nResult=2", CommandUpdate, -999, true},
        {"System=rudarorovod\r\nCommand=Update\r\n\r\nResult=2", CommandUpdate, -1, false},
        {"System =Rudarorovod\r\nCommand=Update\r\n\r\nResult=2", CommandUpdate, -1, false},
        {"System= Rudarorovod\r\nCommand=Update\r\n\r\nResult=2", CommandUpdate, -1, false},
        {"\r\nSystem=Rudarorovod", CommandUpdate, -1, false},
        {"<html>Not the script</html>", CommandUpdate, -1, false},
        {"System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=2", CommandSubmitSoft, -2, false},
        {"System=Rudarorovod\r\nCommand=update\r\n\r\nResult=2", CommandUpdate, -2, false},
        {"System=Rudarorovod\r\n\r\n\r\nResult=2", CommandUpdate, -2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.Text)));
        const TReplyReading reading = UpdateReply(c.Text).Read(c.Command, ResultRequestFailed);
        EXPECT_EQ(reading.Result, c.Result);
        EXPECT_EQ(reading.ChecksPassed, c.ChecksPassed);
    }
    // The updater's own default when there is no Result.
    EXPECT_EQ(UpdateReply("System=Rudarorovod").Read(CommandUpdate, 0).Result, 0);
}

TEST(UpdateReplyTest, TheResultIsASignedDecimalWithin32Bits) {
    const struct {
        const char* Value;
        int Result;
    } cases[] = {{"2", 2},
                 {"-7", -7},
                 {"+5", 5},
                 {"0", 0},
                 {"2147483647", 2147483647},
                 {"-2147483648", -2147483647 - 1},
                 {"2147483648", 0},
                 {"99999999999", 0},
                 {"-", 0},
                 {" 2", 0},
                 {"2 ", 0},
                 {"0x10", 0},
                 {"$10", 0},
                 {"1e3", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value);
        EXPECT_EQ(ReplyResultValue(c.Value), c.Result);
    }
}

TEST(UpdateReplyTest, TheUpdatersLinesKeepEverythingAfterTheFirstEquals) {
    const UpdateReply reply("System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=1\r\n\r\n\r\n"
                            "p=http://h/get.php?f=KV.exe&v=2\r\n\r\nsoftdata\r\n"
                            "m=0123456789abcdef0123456789abcdef\r\n");
    EXPECT_EQ(reply.Value(ReplyProgramUrl), "http://h/get.php?f=KV.exe&v=2");
    EXPECT_EQ(reply.Value(ReplyDataUrl), "");
    EXPECT_EQ(reply.Value(ReplySoftDataUrl), "softdata");
    EXPECT_EQ(reply.Value(ReplyProgramMd5), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(reply.Value(ReplyDataMd5), "");
    EXPECT_EQ(reply.Value(ReplySoftDataMd5), "");
}

TEST(ServerRequestsTest, FieldsComeInTheirOrderWithValuesAsGiven) {
    EXPECT_EQ(UpdateRequest("1700000000", "1234", ""),
              (TStringList{"System=Rudarorovod", "Command=Update", "ProgramVer=1700000000", "DataVer=1234",
                           "SoftDataVer="}));
    EXPECT_EQ(
        SubmitSoftRequest("Foo", "1.0", "System Tools", "Windows XP Home", "http://x/?a=b", "a\r\nb", ""),
        (TStringList{"System=Rudarorovod", "Command=SubmitSoft", "SoftName=Foo", "SoftVer=1.0",
                     "SoftType=System Tools", "Os=Windows XP Home", "DownloadLink=http://x/?a=b",
                     "Other=a\r\nb", "Email="}));
}

TEST(ServerRequestsTest, TheAddressIsCompiledInUnlessTheEnvironmentNamesOne) {
    {
        TScopedVariable unset(ServerUrlVariable, nullptr);
        EXPECT_EQ(ServerScriptUrl(), KORVANE_TEST_DEFAULT_SERVER_URL);
    }
    {
        TScopedVariable empty(ServerUrlVariable, "");
        EXPECT_EQ(ServerScriptUrl(), KORVANE_TEST_DEFAULT_SERVER_URL);
    }
    TScopedVariable set(ServerUrlVariable, "http://127.0.0.1:1/communicate.php");
    EXPECT_EQ(ServerScriptUrl(), "http://127.0.0.1:1/communicate.php");
}

TEST(ServerRequestsTest, TheClientIsSetUpAsTheServerExpects) {
    platform::THttpClient client;
    ConfigureServerClient(client, true);
    EXPECT_EQ(client.ReadTimeout(), 30000);
    EXPECT_EQ(client.Request().ContentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(client.HTTPOptions(), platform::hoForceEncodeParams);
    EXPECT_TRUE(client.HandleRedirects());
    ConfigureServerClient(client, false);
    EXPECT_FALSE(client.HandleRedirects());
    EXPECT_EQ(client.Request().Accept, "text/html, */*");
    EXPECT_EQ(client.Request().UserAgent, "Mozilla/3.0 (compatible; Indy Library)");

    SetServerReadTimeoutForTesting(250);
    ConfigureServerClient(client, false);
    EXPECT_EQ(client.ReadTimeout(), 250);
    SetServerReadTimeoutForTesting(0);
    EXPECT_EQ(ServerReadTimeout(), 30000);
}

// A loopback server in the place of the update server's script.
class PostServerRequestTest : public testing::Test {
protected:
    PostServerRequestTest() : Address(ServerUrlVariable, Server.Url("/communicate.php").c_str()) {}
    ~PostServerRequestTest() override { SetServerReadTimeoutForTesting(0); }

    void AnswerWith(const std::string& reply) { Server.Answer("/communicate.php", reply); }
    int PostUpdate() { return PostServerRequest(UpdateRequest("1", "2", "3"), CommandUpdate, false); }
    int PostSubmission() {
        return PostServerRequest(SubmitSoftRequest("Foo", "", "Games", "VISTA", "", "", ""),
                                 CommandSubmitSoft, true);
    }

    TTempMachine Machine;
    TLoopbackServer Server;
    TScopedVariable Address;
};

TEST_F(PostServerRequestTest, TheServerReceivesExactlyTheFieldsAndHeaders) {
    AnswerWith("System=Rudarorovod\r\nCommand=SubmitSoft\r\n\r\nResult=1\r\n");
    const std::string other = "Line one & two = 100% + more\r\nSecond line: Müller, 東京";
    EXPECT_EQ(
        PostServerRequest(SubmitSoftRequest("Foo & Bar", " 1.0 ", "Other Tools", "Windows XP Home",
                                            "http://example.org/get?x=1&y=2", other, "me+you@example.org"),
                          CommandSubmitSoft, true),
        1);
    const auto requests = Server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string body =
        "System=Rudarorovod&Command=SubmitSoft&SoftName=Foo%20%26%20Bar&SoftVer=%201.0%20"
        "&SoftType=Other%20Tools&Os=Windows%20XP%20Home"
        "&DownloadLink=http%3A%2F%2Fexample.org%2Fget%3Fx%3D1%26y%3D2"
        "&Other=Line%20one%20%26%20two%20%3D%20100%25%20%2B%20more%0D%0A"
        "Second%20line%3A%20M%C3%BCller%2C%20%E6%9D%B1%E4%BA%AC"
        "&Email=me%2Byou%40example.org";
    EXPECT_EQ(requests[0].Method, "POST");
    EXPECT_EQ(requests[0].Target, "/communicate.php");
    EXPECT_EQ(requests[0].Body, body);
    const TLoopbackServer::THeaders headers = {
        {"Host", "127.0.0.1:" + std::to_string(Server.Port())},
        {"User-Agent", "Mozilla/3.0 (compatible; Indy Library)"},
        {"Accept", "text/html, */*"},
        {"Content-Type", "application/x-www-form-urlencoded"},
        {"Content-Length", std::to_string(body.size())},
    };
    EXPECT_EQ(requests[0].Headers, headers);

    AnswerWith("System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=0\r\n");
    EXPECT_EQ(PostServerRequest(UpdateRequest("1700000000", "1234567890", "0"), CommandUpdate, false), 0);
    EXPECT_EQ(Server.Requests().at(1).Body,
              "System=Rudarorovod&Command=Update&ProgramVer=1700000000&DataVer=1234567890&SoftDataVer=0");
}

TEST_F(PostServerRequestTest, RepliesGiveTheirCodes) {
    const struct {
        const char* Reply;
        int Update;
        int Submission;
    } cases[] = {
        {"", -999, -999},
        {"System=Rudarorovod\r\nCommand=Update", -999, -2},
        {"System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=2\r\n", 2, -2},
        {"System=Rudarorovod\nCommand=SubmitSoft\n\nResult=1\n", -2, 1},
        {"System=Rudarorovod\rCommand=SubmitSoft\r\rResult=abc", -2, 0},
        {"System=uninstaller\r\nCommand=Update\r\n\r\nResult=2", -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.Reply)));
        AnswerWith(c.Reply);
        EXPECT_EQ(PostUpdate(), c.Update);
        EXPECT_EQ(PostSubmission(), c.Submission);
    }
}

TEST_F(PostServerRequestTest, EveryFailureOfTheRequestGivesMinus999) {
    Server.Fail("/communicate.php", 500, "Internal Server Error");
    EXPECT_EQ(PostUpdate(), -999);
    EXPECT_EQ(PostSubmission(), -999);

    Server.CutShort("/communicate.php", "System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=2", 50);
    EXPECT_EQ(PostUpdate(), -999);

    SetServerReadTimeoutForTesting(300);
    Server.StaySilent("/communicate.php");
    EXPECT_EQ(PostUpdate(), -999);
    EXPECT_EQ(PostSubmission(), -999);

    {
        TRefusingPort refusing;
        TScopedVariable refused(ServerUrlVariable, refusing.Url("/communicate.php").c_str());
        EXPECT_EQ(PostUpdate(), -999);
    }

    TScopedVariable notHttp(ServerUrlVariable, "file:///etc/hostname");
    EXPECT_EQ(PostUpdate(), -999);
}

TEST_F(PostServerRequestTest, AReplyIsReadUpToTheClientsBoundAndPastItTheRequestFails) {
    const std::string head = "System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=2\r\n";
    const std::string full =
        head + std::string(static_cast<size_t>(platform::ReplyBodyLimit) - head.size(), 'f');
    AnswerWith(full);
    EXPECT_EQ(PostUpdate(), 2);
    AnswerWith(full + "f");
    EXPECT_EQ(PostUpdate(), -999);
    // A reply that never ends fails at the bound as a cut one does; its first lines are never read.
    Server.NeverEnd("/communicate.php", head);
    EXPECT_EQ(PostUpdate(), -999);
}

TEST_F(PostServerRequestTest, ARedirectIsFollowedForTheSubmissionOnly) {
    Server.Redirect("/communicate.php", Server.Url("/moved/communicate.php"), 301);
    Server.Answer("/moved/communicate.php", "System=Rudarorovod\r\nCommand=SubmitSoft\r\n\r\nResult=0\r\n");
    EXPECT_EQ(PostSubmission(), 0);
    auto requests = Server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Target, "/moved/communicate.php");
    EXPECT_EQ(requests[1].Method, "POST");
    EXPECT_EQ(requests[1].Body, requests[0].Body);

    Server.Answer("/moved/communicate.php", "System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=1\r\n");
    EXPECT_EQ(PostUpdate(), -999);
    EXPECT_EQ(Server.RequestCount(), 3u);
}

TEST_F(PostServerRequestTest, RedirectsToOtherSchemesAreRefused) {
    Machine.WriteHostFile(Machine.Root() / "reply.txt",
                          "System=Rudarorovod\r\nCommand=SubmitSoft\r\n\r\nResult=1");
    const std::string targets[] = {"file://" + (Machine.Root() / "reply.txt").string(),
                                   "ftp://127.0.0.1:" + std::to_string(Server.Port()) + "/communicate.php"};
    for (const auto& target : targets) {
        SCOPED_TRACE(target);
        Server.Redirect("/communicate.php", target, 302);
        EXPECT_EQ(PostSubmission(), -999);
    }
    EXPECT_EQ(Server.RequestCount(), 2u);
}

} // namespace
