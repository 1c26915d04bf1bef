#include "platform/httpClient.h"

#include "support/loopbackServer.h"
#include "support/scopedVariable.h"
#include "support/tempMachine.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>

using namespace std::chrono_literals;
using platform::EHttpAborted;
using platform::EHttpError;
using platform::EHttpReadTimeout;
using platform::EHttpReplyTooLong;
using platform::EHttpSchemeRefused;
using platform::EHttpStatusError;
using platform::THttpClient;
using platform::TStringList;
using platform::TWorkMode;

namespace {

// The events of a transfer as text: "begin read 10", "work read 4", "end read".
class TEventLog {
public:
    void Attach(THttpClient& client) {
        client.OnWorkBegin = [this](THttpClient&, TWorkMode mode, int64_t total) {
            Events.push_back("begin " + Name(mode) + " " + std::to_string(total));
        };
        client.OnWork = [this](THttpClient&, TWorkMode mode, int64_t count) {
            Events.push_back("work " + Name(mode) + " " + std::to_string(count));
        };
        client.OnWorkEnd = [this](THttpClient&, TWorkMode mode) { Events.push_back("end " + Name(mode)); };
    }
    static std::string Name(TWorkMode mode) { return mode == TWorkMode::wmRead ? "read" : "write"; }
    size_t Count(const std::string& prefix) const {
        size_t count = 0;
        for (const auto& event : Events)
            count += event.starts_with(prefix) ? 1 : 0;
        return count;
    }

    std::vector<std::string> Events;
};

class HttpClientTest : public testing::Test {
protected:
    HttpClientTest() {
        Client.Request().ContentType = "application/x-www-form-urlencoded";
        Client.SetHTTPOptions(platform::hoForceEncodeParams);
        Client.SetReadTimeout(5000);
    }
    ~HttpClientTest() override { platform::SetDownloadLimitForTesting(0); }

    TTempMachine Machine;
    TLoopbackServer Server;
    THttpClient Client;
};

TEST_F(HttpClientTest, PostSendsTheEncodedFieldsAndTheHeadersInOrderAndReturnsTheBodyAsItCame) {
    Server.Answer("/communicate.php", "System=Rudarorovod\r\nCommand=Update\nx=a=b\r");
    const TStringList fields = {"System=Rudarorovod", "Other=a&b=c+d%e f\r\nline\tend",
                                "Name=Müller Café",   "Email=",
                                "Odd~Name_1.-=~._-",  "NoEquals"};
    EXPECT_EQ(Client.Post(Server.Url("/communicate.php"), fields),
              "System=Rudarorovod\r\nCommand=Update\nx=a=b\r");
    EXPECT_EQ(Client.ResponseCode(), 200);

    const auto requests = Server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.Method, "POST");
    EXPECT_EQ(request.Target, "/communicate.php");
    const std::string body = "System=Rudarorovod"
                             "&Other=a%26b%3Dc%2Bd%25e%20f%0D%0Aline%09end"
                             "&Name=M%C3%BCller%20Caf%C3%A9"
                             "&Email="
                             "&Odd~Name_1.-=~._-"
                             "&NoEquals";
    EXPECT_EQ(request.Body, body);
    EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.Header("Content-Length"), std::to_string(body.size()));
}

TEST_F(HttpClientTest, WithoutForcedEncodingTheLinesGoAsGiven) {
    EXPECT_EQ(platform::EncodeFormFields({"a=b c&d", "e=%41"}, 0), "a=b c&d&e=%41");
    EXPECT_EQ(platform::EncodeFormFields({}, platform::hoForceEncodeParams), "");
    EXPECT_EQ(platform::EncodeFormFields({"a==", "=b"}, platform::hoForceEncodeParams), "a=%3D&=b");
}

TEST_F(HttpClientTest, GetSendsNoBodyAndNoContentType) {
    Server.Answer("/file.bin", std::string("\0\x01\xff", 3));
    EXPECT_EQ(Client.Get(Server.Url("/file.bin?x=1")), std::string("\0\x01\xff", 3));
    const auto request = Server.Requests().at(0);
    EXPECT_EQ(request.Method, "GET");
    EXPECT_EQ(request.Target, "/file.bin?x=1");
    EXPECT_EQ(request.Header("Content-Type"), "");
    EXPECT_EQ(request.Header("Accept"), "text/html, */*");
}

TEST_F(HttpClientTest, FailuresRaiseTheirOwnErrors) {
    TRefusingPort refusing;
    Server.Fail("/missing", 404, "Not Found");
    Server.Fail("/broken", 500, "Internal Server Error");
    Server.CutShort("/short", "half of it", 100);

    EXPECT_THROW(Client.Post(refusing.Url("/communicate.php"), {"a=b"}), EHttpError);
    try {
        Client.Post(Server.Url("/missing"), {"a=b"});
        FAIL() << "no error";
    } catch (const EHttpStatusError& error) {
        EXPECT_EQ(error.ResponseCode(), 404);
        EXPECT_STREQ(error.what(), "HTTP/1.1 404 Not Found");
    }
    EXPECT_THROW(Client.Get(Server.Url("/broken")), EHttpStatusError);
    EXPECT_EQ(Client.ResponseCode(), 500);

    std::ostringstream partial;
    try {
        Client.Get(Server.Url("/short"), partial);
        FAIL() << "no error";
    } catch (const EHttpStatusError&) {
        FAIL() << "a cut transfer is no status error";
    } catch (const EHttpError&) {
    }
    EXPECT_EQ(partial.str(), "half of it");
}

TEST_F(HttpClientTest, RedirectsFailUnlessHandledAndThenKeepThePostFor301And302) {
    Server.Answer("/new.php", "moved here");
    Server.Redirect("/old.php", Server.Url("/new.php"), 302);
    EXPECT_THROW(Client.Post(Server.Url("/old.php"), {"a=1"}), EHttpStatusError);
    EXPECT_EQ(Server.RequestCount(), 1u);

    Client.SetHandleRedirects(true);
    const struct {
        int Status;
        const char* Method;
        const char* Body;
    } cases[] = {
        {301, "POST", "a=1&b=%20"}, {302, "POST", "a=1&b=%20"}, {303, "GET", ""}, {307, "POST", "a=1&b=%20"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Status);
        Server.Redirect("/old.php", Server.Url("/new.php"), c.Status);
        const size_t before = Server.RequestCount();
        EXPECT_EQ(Client.Post(Server.Url("/old.php"), {"a=1", "b= "}), "moved here");
        const auto requests = Server.Requests();
        ASSERT_EQ(requests.size(), before + 2);
        EXPECT_EQ(requests.back().Target, "/new.php");
        EXPECT_EQ(requests.back().Method, c.Method);
        EXPECT_EQ(requests.back().Body, c.Body);
    }
}

TEST_F(HttpClientTest, OnlyHttpAndHttpsAreUsedForRedirectsToo) {
    Machine.WriteHostFile(Machine.Root() / "secret.txt", "secret");
    Client.SetHandleRedirects(true);
    const std::string targets[] = {"file://" + (Machine.Root() / "secret.txt").string(),
                                   "ftp://127.0.0.1:" + std::to_string(Server.Port()) + "/secret.txt",
                                   "gopher://127.0.0.1/x"};
    for (const auto& target : targets) {
        SCOPED_TRACE(target);
        Server.Redirect("/away", target);
        std::ostringstream body;
        EXPECT_THROW(Client.Get(Server.Url("/away"), body), EHttpSchemeRefused);
        EXPECT_EQ(body.str(), "");
    }
    // The ftp:// redirect named the server itself: it was never asked.
    EXPECT_EQ(Server.RequestCount(), 3u);

    for (const auto& address : targets) {
        SCOPED_TRACE(address);
        EXPECT_THROW(Client.Get(address), EHttpSchemeRefused);
        EXPECT_THROW(Client.Post(address, {"a=b"}), EHttpSchemeRefused);
    }
    EXPECT_EQ(Server.RequestCount(), 3u);
}

TEST_F(HttpClientTest, HttpsIsUsedForAddressesAndRedirects) {
    // The loopback server speaks plain HTTP and never answers a TLS greeting: the handshake runs into the
    // read time-out, after https was let through.
    Client.SetReadTimeout(300);
    const std::string secure = "https://127.0.0.1:" + std::to_string(Server.Port()) + "/secure";
    Client.SetHandleRedirects(true);
    Server.Redirect("/to-https", secure);
    for (const auto& address : {secure, Server.Url("/to-https")}) {
        SCOPED_TRACE(address);
        try {
            Client.Get(address);
            FAIL() << "no error";
        } catch (const EHttpSchemeRefused&) {
            FAIL() << "https refused";
        } catch (const EHttpError&) {
        }
    }
}

TEST_F(HttpClientTest, RedirectLoopsEndAfterTheMaximum) {
    Client.SetHandleRedirects(true);
    Client.SetRedirectMaximum(3);
    Server.Redirect("/loop", Server.Url("/loop"));
    EXPECT_THROW(Client.Get(Server.Url("/loop")), EHttpError);
    EXPECT_EQ(Server.RequestCount(), 4u);
}

TEST_F(HttpClientTest, TheReadTimeOutIsSilenceNotTheLengthOfTheTransfer) {
    Client.SetReadTimeout(1000);
    // Fifteen pieces 100 ms apart: 1.5 s in all, never a second of silence.
    Server.Trickle("/slow", "0123456789abcde", 1, 100ms);
    EXPECT_EQ(Client.Get(Server.Url("/slow")), "0123456789abcde");

    Server.StaySilent("/silent");
    EXPECT_THROW(Client.Post(Server.Url("/silent"), {"a=b"}), EHttpReadTimeout);

    // Silence in the middle of a body.
    Server.Trickle("/stalls", "ab", 1, 3000ms);
    EXPECT_THROW(Client.Get(Server.Url("/stalls")), EHttpReadTimeout);
}

TEST_F(HttpClientTest, EventsFollowEachSideOfATransfer) {
    TEventLog log;
    log.Attach(Client);
    Server.Trickle("/reply", "0123456789", 4, 20ms);
    Client.Post(Server.Url("/reply"), {"a=b"});
    // The pieces may arrive joined: the counts only grow and end at the whole.
    const std::vector<std::string> expected = {"begin write 3", "work write 3", "end write", "begin read 10"};
    ASSERT_GE(log.Events.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(log.Events.begin(), log.Events.begin() + 4), expected);
    EXPECT_EQ(log.Events[log.Events.size() - 2], "work read 10");
    EXPECT_EQ(log.Events.back(), "end read");
    EXPECT_EQ(log.Count("work read"), log.Events.size() - 5);

    log.Events.clear();
    const std::string big(300000, 'k');
    Machine.WriteHostFile(Machine.Root() / "big.bin", big);
    Server.ServeFile("/big.bin", Machine.Root() / "big.bin");
    std::ostringstream target;
    Client.Get(Server.Url("/big.bin"), target);
    EXPECT_EQ(target.str(), big);
    ASSERT_GE(log.Events.size(), 3u);
    EXPECT_EQ(log.Events.front(), "begin read 300000");
    EXPECT_EQ(log.Events[log.Events.size() - 2], "work read 300000");
    EXPECT_EQ(log.Events.back(), "end read");
    EXPECT_EQ(log.Count("begin"), 1u);
    EXPECT_EQ(log.Count("write"), 0u);

    // A failed request ends what began; a refused one began nothing.
    log.Events.clear();
    Server.Fail("/missing", 404, "Not Found");
    EXPECT_THROW(Client.Post(Server.Url("/missing"), {"a=b"}), EHttpStatusError);
    EXPECT_EQ(log.Events, (std::vector<std::string>{"begin write 3", "work write 3", "end write"}));
    log.Events.clear();
    TRefusingPort refusing;
    EXPECT_THROW(Client.Get(refusing.Url("/communicate.php")), EHttpError);
    EXPECT_TRUE(log.Events.empty());
}

TEST_F(HttpClientTest, ReplyWithoutALengthBeginsWithZero) {
    TLoopbackServer::TReply reply;
    reply.Body = "abc";
    reply.AnnouncedLength = -2;
    Server.SetReply("/nolength", reply);
    TEventLog log;
    log.Attach(Client);
    EXPECT_EQ(Client.Get(Server.Url("/nolength")), "abc");
    EXPECT_EQ(log.Events.front(), "begin read 0");
}

TEST_F(HttpClientTest, DisconnectFromAProgressEventAbortsAndTheEndEventStillRuns) {
    Server.Trickle("/download", std::string(50, 'd'), 5, 20ms);
    int ends = 0;
    Client.OnWork = [](THttpClient& sender, TWorkMode, int64_t count) {
        if (count >= 10)
            sender.Disconnect();
    };
    Client.OnWorkEnd = [&](THttpClient&, TWorkMode) { ++ends; };
    std::ostringstream target;
    EXPECT_THROW(Client.Get(Server.Url("/download"), target), EHttpAborted);
    EXPECT_GE(target.str().size(), 10u);
    EXPECT_LT(target.str().size(), 50u);
    EXPECT_EQ(ends, 1);

    // An error raised by the end event is what the caller sees (the updater's silent abort).
    struct TSilentAbort {};
    Client.OnWorkEnd = [](THttpClient&, TWorkMode) { throw TSilentAbort(); };
    EXPECT_THROW(Client.Get(Server.Url("/download")), TSilentAbort);

    // The client works again afterwards.
    Client.OnWork = nullptr;
    Client.OnWorkEnd = nullptr;
    EXPECT_EQ(Client.Get(Server.Url("/download")), std::string(50, 'd'));
}

TEST_F(HttpClientTest, AnErrorOfAnEventHandlerStopsTheTransferAndReachesTheCaller) {
    Server.Trickle("/download", std::string(50, 'd'), 5, 10ms);
    int ends = 0;
    Client.OnWork = [](THttpClient&, TWorkMode, int64_t) { throw std::runtime_error("handler failed"); };
    Client.OnWorkEnd = [&](THttpClient&, TWorkMode) { ++ends; };
    try {
        Client.Get(Server.Url("/download"));
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "handler failed");
    }
    EXPECT_EQ(ends, 1);
}

TEST_F(HttpClientTest, OnIdleRunsWhileTheServerIsSilentAndMayDisconnect) {
    Server.StaySilent("/silent");
    int idles = 0;
    Client.OnIdle = [&](THttpClient& sender) {
        if (++idles == 5)
            sender.Disconnect();
    };
    EXPECT_THROW(Client.Post(Server.Url("/silent"), {"a=b"}), EHttpAborted);
    EXPECT_EQ(idles, 5);
}

TEST_F(HttpClientTest, AClientIsNotEnteredAgainFromItsOwnEvents) {
    Server.Answer("/reply", "x");
    std::optional<std::string> nestedError;
    Client.OnWorkBegin = [&](THttpClient& sender, TWorkMode, int64_t) {
        try {
            sender.Get(Server.Url("/reply"));
        } catch (const EHttpError& error) {
            nestedError = error.what();
        }
    };
    EXPECT_EQ(Client.Get(Server.Url("/reply")), "x");
    EXPECT_TRUE(nestedError.has_value());
    EXPECT_EQ(Server.RequestCount(), 1u);
}

TEST_F(HttpClientTest, TheLoopbackIsReachedPastAProxyOfTheEnvironment) {
    TRefusingPort deadProxy;
    const std::string proxy = deadProxy.Url("");
    TScopedVariable httpProxy("http_proxy", proxy.c_str());
    TScopedVariable noProxy("no_proxy", "example.org");
    Server.Answer("/direct", "direct");
    EXPECT_EQ(Client.Get(Server.Url("/direct")), "direct");
}

// How a test fetches: a post and a GET into a string hold the reply in memory, a streamed GET does not.
enum class TFetch { Post, GetIntoString, GetIntoStream };
const char* const FetchNames[] = {"post", "get into a string", "get into a stream"};

// How much of a body the client returned ("N bytes"), or the error it raised.
std::string Fetch(THttpClient& client, TFetch how, const std::string& url) {
    std::ostringstream target;
    try {
        switch (how) {
        case TFetch::Post:
            return std::to_string(client.Post(url, {"a=b"}).size()) + " bytes";
        case TFetch::GetIntoString:
            return std::to_string(client.Get(url).size()) + " bytes";
        case TFetch::GetIntoStream:
            client.Get(url, target);
            return std::to_string(target.str().size()) + " bytes";
        }
    } catch (const EHttpReplyTooLong&) {
        return "too long";
    } catch (const EHttpStatusError& error) {
        return std::string("status error: ") + error.what();
    } catch (const EHttpError& error) {
        return std::string("error: ") + error.what();
    }
    return "";
}

TEST_F(HttpClientTest, AReplyHeldInMemoryIsBoundedAndADownloadHasABoundOfItsOwn) {
    constexpr int64_t downloadLimit = 100000;
    platform::SetDownloadLimitForTesting(downloadLimit);
    const auto replyLimit = static_cast<size_t>(platform::ReplyBodyLimit);
    const auto streamLimit = static_cast<size_t>(downloadLimit);
    const struct {
        TFetch How;
        size_t Length;
        bool Announced;
        bool Fits;
    } cases[] = {
        {TFetch::Post, replyLimit, true, true},
        {TFetch::Post, replyLimit, false, true},
        {TFetch::Post, replyLimit + 1, true, false},
        {TFetch::Post, replyLimit + 1, false, false},
        {TFetch::GetIntoString, replyLimit, true, true},
        {TFetch::GetIntoString, replyLimit + 1, false, false},
        // A download streams past the bound of a reply in memory, up to its own.
        {TFetch::GetIntoStream, streamLimit, true, true},
        {TFetch::GetIntoStream, streamLimit, false, true},
        {TFetch::GetIntoStream, streamLimit + 1, true, false},
        {TFetch::GetIntoStream, streamLimit + 1, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << FetchNames[static_cast<int>(c.How)] << ", " << c.Length << " bytes"
                                        << (c.Announced ? " announced" : ""));
        TLoopbackServer::TReply reply;
        reply.Body = std::string(c.Length, 'r');
        reply.AnnouncedLength = c.Announced ? -1 : -2;
        Server.SetReply("/reply", reply);
        EXPECT_EQ(Fetch(Client, c.How, Server.Url("/reply")),
                  c.Fits ? std::to_string(c.Length) + " bytes" : "too long");
    }
    EXPECT_EQ(platform::DownloadLimit(), downloadLimit);
    platform::SetDownloadLimitForTesting(0);
    EXPECT_EQ(platform::DownloadLimit(), platform::DownloadBodyLimit);
    EXPECT_EQ(platform::DownloadBodyLimit, int64_t{1} << 30);
    EXPECT_EQ(platform::ReplyBodyLimit, 64 * 1024);
}

TEST_F(HttpClientTest, AReplyThatNeverEndsFailsAtTheBoundAsACutTransferDoes) {
    platform::SetDownloadLimitForTesting(200000);
    Server.NeverEnd("/endless", "System=Rudarorovod\r\nCommand=Update\r\n\r\nResult=1\r\n");
    TEventLog log;
    log.Attach(Client);
    for (TFetch how : {TFetch::Post, TFetch::GetIntoString, TFetch::GetIntoStream}) {
        SCOPED_TRACE(FetchNames[static_cast<int>(how)]);
        log.Events.clear();
        EXPECT_EQ(Fetch(Client, how, Server.Url("/endless")), "too long");
        // The read side began and ended as for a broken connection.
        EXPECT_EQ(log.Count("begin read"), 1u);
        EXPECT_EQ(log.Events.back(), "end read");
    }
    // What reached a stream before the cut lies within the bound.
    std::ostringstream target;
    EXPECT_THROW(Client.Get(Server.Url("/endless"), target), EHttpError);
    EXPECT_LE(target.str().size(), 200000u);
    EXPECT_GT(target.str().size(), 0u);

    // The client works on afterwards.
    Server.Answer("/reply", "short");
    EXPECT_EQ(Client.Post(Server.Url("/reply"), {"a=b"}), "short");
}

TEST_F(HttpClientTest, EveryBodyOfATransferCountsAndAnAnnouncedLengthPastTheBoundFailsAtOnce) {
    // The endless body of an error reply, which nobody keeps, ends the transfer too.
    TLoopbackServer::TReply failing;
    failing.Status = 500;
    failing.Reason = "Internal Server Error";
    failing.Body = std::string(4096, 'e');
    failing.AnnouncedLength = -2;
    failing.Endless = true;
    Server.SetReply("/failing", failing);
    EXPECT_EQ(Fetch(Client, TFetch::Post, Server.Url("/failing")), "too long");

    // A reply that announces more than the bound is refused when its headers come: its read side never
    // begins, although the body it sends is short.
    TEventLog log;
    log.Attach(Client);
    Server.CutShort("/huge", "abc", size_t{1} << 40);
    EXPECT_EQ(Fetch(Client, TFetch::Post, Server.Url("/huge")), "too long");
    EXPECT_EQ(log.Count("begin read"), 0u);
    EXPECT_EQ(Fetch(Client, TFetch::GetIntoStream, Server.Url("/huge")), "too long");
}

} // namespace
