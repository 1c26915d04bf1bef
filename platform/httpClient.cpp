#include "platform/httpClient.h"

#include "platform/sysUtils.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <exception>
#include <mutex>
#include <ostream>
#include <sstream>

namespace platform {

namespace {

using TClock = std::chrono::steady_clock;

// The longest the transfer loop sleeps in one wait, so that OnIdle, Disconnect and the read time-out are
// seen promptly.
constexpr int IdleIntervalMs = 50;
constexpr const char* AllowedSchemes = "http,https";
constexpr const char* LoopbackHosts = "localhost,127.0.0.1,::1";

std::atomic<int64_t> TestDownloadLimit{0};

void InitialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw EHttpError("The network library could not be started");
    });
}

bool HasHttpScheme(const std::string& url) {
    const std::string lower = LowerCase(url.substr(0, 8));
    return lower.starts_with("http://") || lower.starts_with("https://");
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

std::string PercentEncode(const std::string& value) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    for (unsigned char c : value) {
        if (IsUnreserved(c)) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += Digits[c >> 4];
            encoded += Digits[c & 0x0F];
        }
    }
    return encoded;
}

// The hosts reached without a proxy: the environment's list with the loopback added, so that a proxy set
// for the machine never carries a request meant for this machine itself.
std::string NoProxyHosts() {
    const char* fromEnvironment = std::getenv("no_proxy");
    if (fromEnvironment == nullptr || *fromEnvironment == '\0')
        fromEnvironment = std::getenv("NO_PROXY");
    if (fromEnvironment == nullptr || *fromEnvironment == '\0')
        return LoopbackHosts;
    if (std::strcmp(fromEnvironment, "*") == 0)
        return "*";
    return std::string(LoopbackHosts) + "," + fromEnvironment;
}

// "HTTP/1.1 404 Not Found" -> 404; 0 when the line is not a status line.
int StatusCodeOf(const std::string& statusLine) {
    const size_t blank = statusLine.find(' ');
    if (blank == std::string::npos)
        return 0;
    int code = 0;
    for (size_t i = blank + 1; i < statusLine.size() && i < blank + 4; ++i) {
        if (statusLine[i] < '0' || statusLine[i] > '9')
            return 0;
        code = code * 10 + (statusLine[i] - '0');
    }
    return code;
}

bool HeaderNameIs(const std::string& line, const char* name) {
    const size_t length = std::strlen(name);
    return line.size() > length && line[length] == ':' && SameText(line.substr(0, length), name);
}

std::exception_ptr ReplyTooLong(int64_t limit) {
    return std::make_exception_ptr(
        EHttpReplyTooLong("The server's reply is longer than " + std::to_string(limit) + " bytes."));
}

std::exception_ptr ErrorOfCurlResult(CURLcode result, const char* detail) {
    const std::string text = (detail != nullptr && *detail != '\0') ? detail : curl_easy_strerror(result);
    switch (result) {
    case CURLE_UNSUPPORTED_PROTOCOL:
        return std::make_exception_ptr(EHttpSchemeRefused(text));
    case CURLE_OPERATION_TIMEDOUT:
        return std::make_exception_ptr(EHttpReadTimeout(text));
    default:
        return std::make_exception_ptr(EHttpError(text));
    }
}

} // namespace

// One transfer of a client: the easy handle, the state its callbacks share, and the loop that drives it.
class THttpTransfer {
public:
    THttpTransfer(THttpClient& client, const std::string* body, std::ostream& target, int64_t bodyLimit)
        : FClient(client), FBody(body), FTarget(target), FBodyLimit(bodyLimit) {}
    ~THttpTransfer();
    THttpTransfer(const THttpTransfer&) = delete;
    THttpTransfer& operator=(const THttpTransfer&) = delete;

    void Run(const std::string& url);

private:
    void Configure(const std::string& url);
    // Drives the transfer to its end; the error it ended with, if any.
    std::exception_ptr Drive();
    // Runs the end event of every side that began; the first error an end event raised is raised after all
    // have run.
    void EndSides();

    // Runs an event handler; an error it raises is kept, and stops the transfer.
    template <class TCall> bool Guard(TCall&& call);
    bool Stopped() const { return FError != nullptr || FClient.FDisconnectRequested.load(); }
    void Moved() { FLastActivity = TClock::now(); }

    void BeginWrite();
    void EndWrite();
    void OnHeaderLine(const std::string& line);
    void OnHeadersEnd();

    static size_t HeaderCallback(char* data, size_t size, size_t count, void* self);
    static size_t WriteCallback(char* data, size_t size, size_t count, void* self);
    static size_t ReadCallback(char* buffer, size_t size, size_t count, void* self);
    static int SeekCallback(void* self, curl_off_t offset, int origin);

    THttpClient& FClient;
    const std::string* FBody;
    std::ostream& FTarget;
    const int64_t FBodyLimit;
    CURL* FEasy = nullptr;
    CURLM* FMulti = nullptr;
    curl_slist* FHeaders = nullptr;
    char FErrorText[CURL_ERROR_SIZE] = {};
    std::exception_ptr FError;
    TClock::time_point FLastActivity;

    size_t FSent = 0;
    // The final reply's body bytes (the progress count), and every body byte of the transfer (the bound's).
    int64_t FReceived = 0;
    int64_t FBodyBytes = 0;
    bool FWriteOpen = false;
    bool FReadOpen = false;

    // The reply being read: several when redirects are followed, the last one is final.
    std::string FStatusLine;
    int FStatus = 0;
    bool FHasLocation = false;
    int64_t FAnnouncedLength = -1;
};

THttpTransfer::~THttpTransfer() {
    if (FMulti != nullptr && FEasy != nullptr)
        curl_multi_remove_handle(FMulti, FEasy);
    if (FEasy != nullptr)
        curl_easy_cleanup(FEasy);
    if (FMulti != nullptr)
        curl_multi_cleanup(FMulti);
    curl_slist_free_all(FHeaders);
}

template <class TCall> bool THttpTransfer::Guard(TCall&& call) {
    if (FError != nullptr)
        return false;
    try {
        call();
    } catch (...) {
        FError = std::current_exception();
    }
    return !Stopped();
}

void THttpTransfer::Configure(const std::string& url) {
    FEasy = curl_easy_init();
    FMulti = curl_multi_init();
    if (FEasy == nullptr || FMulti == nullptr)
        throw EHttpError("The network library could not start a transfer");

    const THttpRequest& request = FClient.Request();
    auto addHeader = [this](const std::string& line) {
        curl_slist* list = curl_slist_append(FHeaders, line.c_str());
        if (list == nullptr)
            throw EHttpError("Out of memory for the request headers");
        FHeaders = list;
    };
    // An empty value removes the header that the library would add itself.
    addHeader("Accept:" + (request.Accept.empty() ? std::string() : " " + request.Accept));
    addHeader("Expect:");
    if (FBody != nullptr)
        addHeader("Content-Type:" +
                  (request.ContentType.empty() ? std::string() : " " + request.ContentType));

    curl_easy_setopt(FEasy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(FEasy, CURLOPT_PROTOCOLS_STR, AllowedSchemes);
    curl_easy_setopt(FEasy, CURLOPT_REDIR_PROTOCOLS_STR, AllowedSchemes);
    curl_easy_setopt(FEasy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(FEasy, CURLOPT_ERRORBUFFER, FErrorText);
    curl_easy_setopt(FEasy, CURLOPT_NOPROXY, NoProxyHosts().c_str());
    curl_easy_setopt(FEasy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(FEasy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(FEasy, CURLOPT_HTTPHEADER, FHeaders);
    if (!request.UserAgent.empty())
        curl_easy_setopt(FEasy, CURLOPT_USERAGENT, request.UserAgent.c_str());

    curl_easy_setopt(FEasy, CURLOPT_FOLLOWLOCATION, FClient.HandleRedirects() ? 1L : 0L);
    curl_easy_setopt(FEasy, CURLOPT_MAXREDIRS, static_cast<long>(FClient.RedirectMaximum()));
    curl_easy_setopt(FEasy, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_301 | CURL_REDIR_POST_302));

    curl_easy_setopt(FEasy, CURLOPT_HEADERFUNCTION, &THttpTransfer::HeaderCallback);
    curl_easy_setopt(FEasy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(FEasy, CURLOPT_WRITEFUNCTION, &THttpTransfer::WriteCallback);
    curl_easy_setopt(FEasy, CURLOPT_WRITEDATA, this);
    if (FBody != nullptr) {
        curl_easy_setopt(FEasy, CURLOPT_POST, 1L);
        curl_easy_setopt(FEasy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(FBody->size()));
        curl_easy_setopt(FEasy, CURLOPT_READFUNCTION, &THttpTransfer::ReadCallback);
        curl_easy_setopt(FEasy, CURLOPT_READDATA, this);
        curl_easy_setopt(FEasy, CURLOPT_SEEKFUNCTION, &THttpTransfer::SeekCallback);
        curl_easy_setopt(FEasy, CURLOPT_SEEKDATA, this);
    } else {
        curl_easy_setopt(FEasy, CURLOPT_HTTPGET, 1L);
    }
    if (curl_multi_add_handle(FMulti, FEasy) != CURLM_OK)
        throw EHttpError("The network library could not start a transfer");
}

void THttpTransfer::Run(const std::string& url) {
    // Checked here as well as by the library, so that no other scheme is even looked at.
    if (!HasHttpScheme(url))
        throw EHttpSchemeRefused("Only http:// and https:// addresses are used: " + url);
    Configure(url);
    std::exception_ptr error = Drive();
    // The connection is closed before the end events run.
    curl_multi_remove_handle(FMulti, FEasy);
    curl_easy_cleanup(FEasy);
    FEasy = nullptr;
    EndSides();
    if (error != nullptr)
        std::rethrow_exception(error);
}

std::exception_ptr THttpTransfer::Drive() {
    const int readTimeout = FClient.ReadTimeout();
    Moved();
    bool finished = false;
    bool timedOut = false;
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(FMulti, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            finished = true;
            break;
        }
        if (running == 0) {
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(FMulti, &queued)) {
                if (message->msg == CURLMSG_DONE)
                    result = message->data.result;
            }
            finished = true;
            break;
        }
        if (Stopped())
            break;
        int waitMs = IdleIntervalMs;
        if (readTimeout > 0) {
            const auto silent =
                std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - FLastActivity).count();
            if (silent >= readTimeout) {
                timedOut = true;
                break;
            }
            waitMs = static_cast<int>(std::min<long long>(waitMs, readTimeout - silent));
        }
        curl_multi_poll(FMulti, nullptr, 0, waitMs, nullptr);
        if (FClient.OnIdle && !Guard([this] { FClient.OnIdle(FClient); }))
            break;
    }

    if (FError != nullptr)
        return FError;
    if (finished && result == CURLE_OK) {
        if (FStatus < 200 || FStatus > 299)
            return std::make_exception_ptr(EHttpStatusError(FStatusLine, FStatus));
        return nullptr;
    }
    if (FClient.FDisconnectRequested.load())
        return std::make_exception_ptr(EHttpAborted("Connection closed gracefully."));
    if (timedOut)
        return std::make_exception_ptr(EHttpReadTimeout("Read timed out."));
    return ErrorOfCurlResult(result, FErrorText);
}

void THttpTransfer::EndSides() {
    std::exception_ptr first;
    auto end = [&](bool& open, TWorkMode mode) {
        if (!open)
            return;
        open = false;
        if (!FClient.OnWorkEnd)
            return;
        try {
            FClient.OnWorkEnd(FClient, mode);
        } catch (...) {
            if (first == nullptr)
                first = std::current_exception();
        }
    };
    end(FWriteOpen, TWorkMode::wmWrite);
    end(FReadOpen, TWorkMode::wmRead);
    if (first != nullptr)
        std::rethrow_exception(first);
}

void THttpTransfer::BeginWrite() {
    FWriteOpen = true;
    if (FClient.OnWorkBegin)
        Guard([this] {
            FClient.OnWorkBegin(FClient, TWorkMode::wmWrite, static_cast<int64_t>(FBody->size()));
        });
}

void THttpTransfer::EndWrite() {
    FWriteOpen = false;
    if (FClient.OnWorkEnd)
        Guard([this] { FClient.OnWorkEnd(FClient, TWorkMode::wmWrite); });
}

void THttpTransfer::OnHeaderLine(const std::string& line) {
    if (line.starts_with("HTTP/")) {
        // A new reply: the request (or the body it carried) has gone.
        if (FWriteOpen)
            EndWrite();
        FStatusLine = TrimRight(line);
        FStatus = StatusCodeOf(FStatusLine);
        FHasLocation = false;
        FAnnouncedLength = -1;
        return;
    }
    if (line == "\r\n" || line == "\n") {
        OnHeadersEnd();
        return;
    }
    if (HeaderNameIs(line, "Location")) {
        FHasLocation = true;
    } else if (HeaderNameIs(line, "Content-Length")) {
        const std::string value = Trim(line.substr(line.find(':') + 1));
        char* end = nullptr;
        const long long length = std::strtoll(value.c_str(), &end, 10);
        if (end != value.c_str() && *end == '\0' && length >= 0)
            FAnnouncedLength = length;
    }
}

void THttpTransfer::OnHeadersEnd() {
    const bool followed = FStatus >= 300 && FStatus <= 399 && FHasLocation && FClient.HandleRedirects();
    if (FStatus < 200 || followed)
        return;
    FClient.FResponseCode = FStatus;
    if (FStatus <= 299) {
        if (FAnnouncedLength > FBodyLimit) {
            FError = ReplyTooLong(FBodyLimit);
            return;
        }
        FReadOpen = true;
        if (FClient.OnWorkBegin)
            Guard([this] {
                FClient.OnWorkBegin(FClient, TWorkMode::wmRead, FAnnouncedLength < 0 ? 0 : FAnnouncedLength);
            });
    }
}

size_t THttpTransfer::HeaderCallback(char* data, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<THttpTransfer*>(self);
    const size_t length = size * count;
    transfer.Moved();
    if (transfer.Stopped())
        return 0;
    transfer.OnHeaderLine(std::string(data, length));
    return transfer.Stopped() ? 0 : length;
}

size_t THttpTransfer::WriteCallback(char* data, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<THttpTransfer*>(self);
    const size_t length = size * count;
    transfer.Moved();
    if (transfer.Stopped())
        return 0;
    transfer.FBodyBytes += static_cast<int64_t>(length);
    if (transfer.FBodyBytes > transfer.FBodyLimit) {
        transfer.FError = ReplyTooLong(transfer.FBodyLimit);
        return 0;
    }
    // The bodies of redirects and of error replies are nobody's data.
    if (!transfer.FReadOpen)
        return length;
    transfer.FTarget.write(data, static_cast<std::streamsize>(length));
    if (!transfer.FTarget) {
        transfer.FError = std::make_exception_ptr(EHttpError("The reply could not be stored"));
        return 0;
    }
    transfer.FReceived += static_cast<int64_t>(length);
    if (transfer.FClient.OnWork)
        transfer.Guard([&transfer] {
            transfer.FClient.OnWork(transfer.FClient, TWorkMode::wmRead, transfer.FReceived);
        });
    return transfer.Stopped() ? 0 : length;
}

size_t THttpTransfer::ReadCallback(char* buffer, size_t size, size_t count, void* self) {
    auto& transfer = *static_cast<THttpTransfer*>(self);
    transfer.Moved();
    if (transfer.Stopped())
        return CURL_READFUNC_ABORT;
    if (!transfer.FWriteOpen) {
        transfer.BeginWrite();
        if (transfer.Stopped())
            return CURL_READFUNC_ABORT;
    }
    const std::string& body = *transfer.FBody;
    const size_t piece = std::min(size * count, body.size() - transfer.FSent);
    std::memcpy(buffer, body.data() + transfer.FSent, piece);
    transfer.FSent += piece;
    if (transfer.FClient.OnWork)
        transfer.Guard([&transfer] {
            transfer.FClient.OnWork(transfer.FClient, TWorkMode::wmWrite,
                                    static_cast<int64_t>(transfer.FSent));
        });
    return transfer.Stopped() ? CURL_READFUNC_ABORT : piece;
}

int THttpTransfer::SeekCallback(void* self, curl_off_t offset, int origin) {
    auto& transfer = *static_cast<THttpTransfer*>(self);
    if (origin != SEEK_SET || offset < 0 || static_cast<size_t>(offset) > transfer.FBody->size())
        return CURL_SEEKFUNC_CANTSEEK;
    // The body is sent again (a redirect that keeps the POST): its write side begins again too.
    transfer.FSent = static_cast<size_t>(offset);
    if (transfer.FWriteOpen)
        transfer.EndWrite();
    return CURL_SEEKFUNC_OK;
}

THttpClient::THttpClient() {
    InitialiseCurl();
}

THttpClient::~THttpClient() = default;

void THttpClient::Perform(const std::string& url, const std::string* body, std::ostream& target,
                          int64_t bodyLimit) {
    if (FBusy)
        throw EHttpError("The HTTP client is already busy with a transfer");
    FBusy = true;
    FDisconnectRequested = false;
    FResponseCode = 0;
    struct TIdle {
        bool& Busy;
        ~TIdle() { Busy = false; }
    } idle{FBusy};
    THttpTransfer transfer(*this, body, target, bodyLimit);
    transfer.Run(url);
}

std::string THttpClient::Post(const std::string& url, const TStringList& fields) {
    const std::string body = EncodeFormFields(fields, FOptions);
    std::ostringstream reply;
    Perform(url, &body, reply, ReplyBodyLimit);
    return reply.str();
}

void THttpClient::Get(const std::string& url, std::ostream& target) {
    Perform(url, nullptr, target, DownloadLimit());
}

std::string THttpClient::Get(const std::string& url) {
    std::ostringstream reply;
    Perform(url, nullptr, reply, ReplyBodyLimit);
    return reply.str();
}

void THttpClient::Disconnect() {
    FDisconnectRequested = true;
}

int64_t DownloadLimit() {
    const int64_t limit = TestDownloadLimit.load();
    return limit > 0 ? limit : DownloadBodyLimit;
}

void SetDownloadLimitForTesting(int64_t bytes) {
    TestDownloadLimit = bytes;
}

std::string EncodeFormFields(const TStringList& fields, THttpOptions options) {
    std::string body;
    for (int i = 0; i < fields.Count(); ++i) {
        if (i > 0)
            body += '&';
        const std::string& line = fields[i];
        const size_t equals = line.find('=');
        if ((options & hoForceEncodeParams) == 0 || equals == std::string::npos)
            body += line;
        else
            body += line.substr(0, equals + 1) + PercentEncode(line.substr(equals + 1));
    }
    return body;
}

} // namespace platform
