#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// A small HTTP server on 127.0.0.1 for the network tests: it plays the update server and the hosts of its
// downloads. It listens on a port of its own from construction to destruction, reads each request whole,
// records it as it came (request line, headers in their order, body), and answers by the reply set for the
// request's path (the target without its query); a path without a reply gets 404. Every connection carries
// one request and is closed after the answer. Bounded: a connection that sends nothing for ten seconds is
// dropped, at most 256 connections are served, a reply that never ends stops after 16 MiB, and the
// destructor ends every connection, silent ones too.
class TLoopbackServer {
public:
    using THeaders = std::vector<std::pair<std::string, std::string>>;

    // What the server does with a request.
    struct TReply {
        int Status = 200;
        std::string Reason = "OK";
        // Sent after the status line, before Content-Length and "Connection: close".
        THeaders Headers;
        std::string Body;
        // The Content-Length announced; -1 announces Body's size, -2 announces none.
        long long AnnouncedLength = -1;
        // The body goes in pieces of this size with a pause before each piece (0: in one piece).
        size_t PieceSize = 0;
        std::chrono::milliseconds Pause{0};
        // Read the request and then say nothing, until the client leaves or the server ends.
        bool Silent = false;
        // Send Body over and over after the head, announcing no length, until the client leaves or the
        // server ends (or 16 MiB have gone, so that a client without a bound still sees an end).
        bool Endless = false;
    };

    struct TRequest {
        std::string Method;
        std::string Target;
        std::string Version;
        THeaders Headers;
        std::string Body;
        // The header's value by exact name, or empty.
        std::string Header(const std::string& name) const;
    };

    TLoopbackServer();
    ~TLoopbackServer();
    TLoopbackServer(const TLoopbackServer&) = delete;
    TLoopbackServer& operator=(const TLoopbackServer&) = delete;

    uint16_t Port() const { return FPort; }
    // "http://127.0.0.1:<port>" followed by Path.
    std::string Url(const std::string& path) const;

    // The reply for Path, replacing an earlier one.
    void SetReply(const std::string& path, TReply reply);
    // 200 with Body.
    void Answer(const std::string& path, const std::string& body);
    // 200 with the content of File as it is when the request comes.
    void ServeFile(const std::string& path, const std::filesystem::path& file);
    void StaySilent(const std::string& path);
    // A redirect to Location (an address of any scheme) with the given status.
    void Redirect(const std::string& path, const std::string& location, int status = 302);
    // An error status with a short body.
    void Fail(const std::string& path, int status, const std::string& reason);
    // Announces Body's length plus Missing bytes, sends Body and closes the connection.
    void CutShort(const std::string& path, const std::string& body, size_t missing);
    // A 200 reply whose body never ends: Piece again and again (see TReply::Endless).
    void NeverEnd(const std::string& path, const std::string& piece);
    // Body in pieces with a pause before each.
    void Trickle(const std::string& path, const std::string& body, size_t pieceSize,
                 std::chrono::milliseconds pause);

    // The requests received so far, in the order they were read.
    std::vector<TRequest> Requests() const;
    size_t RequestCount() const;
    // Waits until Count requests have come, at most Timeout; whether they came.
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout) const;

private:
    enum class TWait { Readable, TimedOut, Ending };

    void AcceptLoop();
    void Serve(int connection);
    bool ReadRequest(int connection, TRequest& request);
    void SendReply(int connection, const TReply& reply);
    TReply ReplyFor(const std::string& target);
    // Waits until Connection can be read (data, or the client closed), Timeout passes or the server ends.
    TWait WaitReadable(int connection, std::chrono::milliseconds timeout) const;
    bool SendAll(int connection, const std::string& data) const;

    int FListener = -1;
    int FWakePipe[2] = {-1, -1};
    uint16_t FPort = 0;
    std::thread FAcceptThread;

    mutable std::mutex FLock;
    mutable std::condition_variable FRequestArrived;
    std::map<std::string, TReply> FReplies;
    std::map<std::string, std::filesystem::path> FFiles;
    std::vector<TRequest> FRequests;
    std::vector<std::thread> FConnections;
};

// A loopback port that refuses every connection (bound, never listening) for as long as the object lives.
class TRefusingPort {
public:
    TRefusingPort();
    ~TRefusingPort();
    TRefusingPort(const TRefusingPort&) = delete;
    TRefusingPort& operator=(const TRefusingPort&) = delete;

    // "http://127.0.0.1:<port>" followed by Path.
    std::string Url(const std::string& path) const;

private:
    int FSocket = -1;
    uint16_t FPort = 0;
};
