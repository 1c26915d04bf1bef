#pragma once

#include "platform/stringList.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>

namespace platform {

// ---- Errors ----
// Every failed transfer raises an EHttpError; the subclasses say why where a caller may care. Nothing is
// raised from inside the network library: an error thrown by an event handler stops the transfer and
// reaches the caller of Post or Get after the end events have run.

class EHttpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The final reply had a status outside 200-299 (also a redirect that was not followed). The message is
// the reply's status line, e.g. "HTTP/1.1 404 Not Found".
class EHttpStatusError : public EHttpError {
public:
    EHttpStatusError(const std::string& statusLine, int responseCode)
        : EHttpError(statusLine), FResponseCode(responseCode) {}
    int ResponseCode() const { return FResponseCode; }

private:
    int FResponseCode = 0;
};

// Nothing moved in either direction for ReadTimeout milliseconds.
class EHttpReadTimeout : public EHttpError {
public:
    using EHttpError::EHttpError;
};

// Disconnect was called while the transfer ran.
class EHttpAborted : public EHttpError {
public:
    using EHttpError::EHttpError;
};

// The address, or an address that a redirect named, is not http:// or https://. Nothing is read from it.
class EHttpSchemeRefused : public EHttpError {
public:
    using EHttpError::EHttpError;
};

// The reply's body ran past the bound of its kind (below): the transfer was cut off there, as if the
// connection had broken.
class EHttpReplyTooLong : public EHttpError {
public:
    using EHttpError::EHttpError;
};

// ---- Bounds ----
// What a server sends is bounded, so that no reply, whatever its length, makes the programs grow. Every
// body byte that reaches the client counts (an error reply's body too), and a reply that announces a
// longer body fails as soon as its headers have come.

// A reply held in memory (Post, and Get into a string): the update server's replies are a few short lines.
inline constexpr int64_t ReplyBodyLimit = 64 * 1024;
// A body that Get streams into a target: far above any real program or database file.
inline constexpr int64_t DownloadBodyLimit = int64_t{1} << 30;
// The bound of a streamed Get: DownloadBodyLimit, or what a test set.
int64_t DownloadLimit();
// Sets the bound of a streamed Get for a test (a small one, so that a test need not send a gigabyte);
// 0 restores DownloadBodyLimit.
void SetDownloadLimitForTesting(int64_t bytes);

// ---- The client ----

// Whether an event counts the bytes received (the reply) or the bytes sent (a POST's body).
enum class TWorkMode { wmRead, wmWrite };

// HTTPOptions bits.
using THttpOptions = uint32_t;
// Post sends each non-empty value percent-encoded (every byte but A-Z a-z 0-9 - . _ ~ as %XX); names go as
// they stand. Without it the lines go as given, joined by "&".
inline constexpr THttpOptions hoForceEncodeParams = 0x1;

// The request headers the caller may set. Accept and User-Agent are sent with every request; ContentType
// only with a POST's body.
struct THttpRequest {
    std::string ContentType;
    std::string Accept = "text/html, */*";
    std::string UserAgent = "Mozilla/3.0 (compatible; Indy Library)";
};

class THttpTransfer;

// The HTTP client of the programs' toolkit, over libcurl. One object makes one transfer at a time on the
// thread that calls it; every Post or Get opens its own connection and closes it before it returns. Only
// http:// and https:// addresses are used, for redirects too. Proxies come from the environment as usual,
// except that the loopback (localhost, 127.0.0.1, ::1) is always reached directly.
//
// Events, for every transfer (a POST's body is the write side, every reply the read side):
// - OnWorkBegin(mode, total) when that side starts: the body size for write; for read, once the final
//   reply's headers have arrived, the length it announces (0 when it announces none);
// - OnWork(mode, count) each time more bytes went (count is the bytes so far of that side);
// - OnWorkEnd(mode) exactly once for each begin, also when the transfer fails (then before the error
//   reaches the caller). An error raised by OnWorkEnd replaces the transfer's own error.
// - OnIdle while the client waits for the network, at least every 50 ms (a window pumps its messages here).
// Calling Disconnect from any event (or from another thread) cuts the transfer off: it fails with
// EHttpAborted.
class THttpClient {
public:
    THttpClient();
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // Milliseconds of silence (no byte sent or received, connecting included) after which a transfer fails
    // with EHttpReadTimeout; a transfer that keeps moving may take as long as it needs. 0: no limit.
    int ReadTimeout() const { return FReadTimeout; }
    void SetReadTimeout(int milliseconds) { FReadTimeout = milliseconds; }

    THttpRequest& Request() { return FRequest; }
    const THttpRequest& Request() const { return FRequest; }

    THttpOptions HTTPOptions() const { return FOptions; }
    void SetHTTPOptions(THttpOptions options) { FOptions = options; }

    // Off (the default): a redirect reply fails the request with EHttpStatusError. On: up to
    // RedirectMaximum redirects are followed; a POST answered with 301 or 302 is posted again, body and
    // all, to the new address, one answered with 303 becomes a GET.
    bool HandleRedirects() const { return FHandleRedirects; }
    void SetHandleRedirects(bool handleRedirects) { FHandleRedirects = handleRedirects; }
    int RedirectMaximum() const { return FRedirectMaximum; }
    void SetRedirectMaximum(int maximum) { FRedirectMaximum = maximum; }

    // Posts Fields ("name=value" lines) as a form body joined by "&" and returns the reply's body, which
    // may be ReplyBodyLimit bytes long at most (longer fails with EHttpReplyTooLong).
    std::string Post(const std::string& url, const TStringList& fields);
    // Fetches Url and writes the reply's body into Target as it arrives, DownloadLimit() bytes at most
    // (longer fails with EHttpReplyTooLong). When the transfer fails, Target may hold a part of the body.
    void Get(const std::string& url, std::ostream& target);
    // Fetches Url into memory: ReplyBodyLimit bytes at most, as for Post.
    std::string Get(const std::string& url);

    // Closes the connection. During a transfer (from its events, or from another thread) it makes the
    // transfer fail with EHttpAborted; outside one there is nothing open and it does nothing.
    void Disconnect();

    // The status code of the last final reply, 0 before any reply.
    int ResponseCode() const { return FResponseCode; }

    std::function<void(THttpClient& sender, TWorkMode mode, int64_t workCountMax)> OnWorkBegin;
    std::function<void(THttpClient& sender, TWorkMode mode, int64_t workCount)> OnWork;
    std::function<void(THttpClient& sender, TWorkMode mode)> OnWorkEnd;
    std::function<void(THttpClient& sender)> OnIdle;

private:
    friend class THttpTransfer;
    // Body: the POST's form body, null for a GET. BodyLimit: the bound of the bytes received.
    void Perform(const std::string& url, const std::string* body, std::ostream& target, int64_t bodyLimit);

    int FReadTimeout = 0;
    THttpRequest FRequest;
    THttpOptions FOptions = 0;
    bool FHandleRedirects = false;
    int FRedirectMaximum = 15;
    int FResponseCode = 0;
    bool FBusy = false;
    std::atomic<bool> FDisconnectRequested{false};
};

// The form body of Fields as Post sends it with the given options.
std::string EncodeFormFields(const TStringList& fields, THttpOptions options);

} // namespace platform
