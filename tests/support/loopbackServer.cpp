#include "support/loopbackServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t MaxConnections = 256;
constexpr size_t MaxHeaderBytes = 64 * 1024;
constexpr auto ClientSilenceLimit = std::chrono::seconds(10);
constexpr size_t EndlessReplyLimit = 16 * 1024 * 1024;

std::string ReadWholeFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace

std::string TLoopbackServer::TRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : Headers)
        if (key == name)
            return value;
    return {};
}

TLoopbackServer::TLoopbackServer() {
    if (pipe(FWakePipe) != 0)
        throw std::runtime_error("loopback server: no pipe");
    FListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListener < 0)
        throw std::runtime_error("loopback server: no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(FListener, 16) != 0 ||
        getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(FListener);
        throw std::runtime_error("loopback server: cannot listen");
    }
    FPort = ntohs(address.sin_port);
    FAcceptThread = std::thread([this] { AcceptLoop(); });
}

TLoopbackServer::~TLoopbackServer() {
    // One byte in the pipe wakes every wait for good: the pipe is never read.
    [[maybe_unused]] ssize_t written = write(FWakePipe[1], "x", 1);
    FAcceptThread.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(FLock);
        connections.swap(FConnections);
    }
    for (auto& connection : connections)
        connection.join();
    close(FListener);
    close(FWakePipe[0]);
    close(FWakePipe[1]);
}

std::string TLoopbackServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
}

void TLoopbackServer::SetReply(const std::string& path, TReply reply) {
    std::lock_guard lock(FLock);
    FFiles.erase(path);
    FReplies[path] = std::move(reply);
}

void TLoopbackServer::Answer(const std::string& path, const std::string& body) {
    TReply reply;
    reply.Body = body;
    SetReply(path, reply);
}

void TLoopbackServer::ServeFile(const std::string& path, const std::filesystem::path& file) {
    std::lock_guard lock(FLock);
    FReplies.erase(path);
    FFiles[path] = file;
}

void TLoopbackServer::StaySilent(const std::string& path) {
    TReply reply;
    reply.Silent = true;
    SetReply(path, reply);
}

void TLoopbackServer::Redirect(const std::string& path, const std::string& location, int status) {
    TReply reply;
    reply.Status = status;
    reply.Reason = status == 301 ? "Moved Permanently" : status == 303 ? "See Other" : "Found";
    reply.Headers = {{"Location", location}};
    reply.Body = "moved";
    SetReply(path, reply);
}

void TLoopbackServer::Fail(const std::string& path, int status, const std::string& reason) {
    TReply reply;
    reply.Status = status;
    reply.Reason = reason;
    reply.Body = reason;
    SetReply(path, reply);
}

void TLoopbackServer::CutShort(const std::string& path, const std::string& body, size_t missing) {
    TReply reply;
    reply.Body = body;
    reply.AnnouncedLength = static_cast<long long>(body.size() + missing);
    SetReply(path, reply);
}

void TLoopbackServer::NeverEnd(const std::string& path, const std::string& piece) {
    TReply reply;
    reply.Body = piece;
    reply.AnnouncedLength = -2;
    reply.Endless = true;
    SetReply(path, reply);
}

void TLoopbackServer::Trickle(const std::string& path, const std::string& body, size_t pieceSize,
                              std::chrono::milliseconds pause) {
    TReply reply;
    reply.Body = body;
    reply.PieceSize = pieceSize;
    reply.Pause = pause;
    SetReply(path, reply);
}

std::vector<TLoopbackServer::TRequest> TLoopbackServer::Requests() const {
    std::lock_guard lock(FLock);
    return FRequests;
}

size_t TLoopbackServer::RequestCount() const {
    std::lock_guard lock(FLock);
    return FRequests.size();
}

bool TLoopbackServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(FLock);
    return FRequestArrived.wait_for(lock, timeout, [&] { return FRequests.size() >= count; });
}

void TLoopbackServer::AcceptLoop() {
    for (size_t served = 0; served < MaxConnections;) {
        pollfd waits[2] = {{FListener, POLLIN, 0}, {FWakePipe[0], POLLIN, 0}};
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (waits[1].revents != 0)
            return;
        const int connection = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        ++served;
        std::lock_guard lock(FLock);
        FConnections.emplace_back([this, connection] {
            Serve(connection);
            close(connection);
        });
    }
}

TLoopbackServer::TWait TLoopbackServer::WaitReadable(int connection,
                                                     std::chrono::milliseconds timeout) const {
    pollfd waits[2] = {{connection, POLLIN, 0}, {FWakePipe[0], POLLIN, 0}};
    const int ready = poll(waits, 2, static_cast<int>(timeout.count()));
    if (ready < 0 || waits[1].revents != 0)
        return TWait::Ending;
    return ready == 0 ? TWait::TimedOut : TWait::Readable;
}

bool TLoopbackServer::SendAll(int connection, const std::string& data) const {
    // A client that stops reading holds a send up for the silence limit at most, and never past the
    // server's end.
    for (size_t sent = 0; sent < data.size();) {
        pollfd waits[2] = {{connection, POLLOUT, 0}, {FWakePipe[0], POLLIN, 0}};
        const int ready =
            poll(waits, 2, static_cast<int>(std::chrono::milliseconds(ClientSilenceLimit).count()));
        if (ready <= 0 || waits[1].revents != 0)
            return false;
        const ssize_t count =
            send(connection, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (count <= 0)
            return false;
        sent += static_cast<size_t>(count);
    }
    return true;
}

bool TLoopbackServer::ReadRequest(int connection, TRequest& request) {
    std::string received;
    size_t headerEnd = std::string::npos;
    char buffer[4096];
    auto readMore = [&] {
        if (WaitReadable(connection, ClientSilenceLimit) != TWait::Readable)
            return false;
        const ssize_t count = recv(connection, buffer, sizeof(buffer), 0);
        if (count <= 0)
            return false;
        received.append(buffer, static_cast<size_t>(count));
        return true;
    };
    while ((headerEnd = received.find("\r\n\r\n")) == std::string::npos) {
        if (received.size() > MaxHeaderBytes || !readMore())
            return false;
    }

    std::istringstream head(received.substr(0, headerEnd));
    std::string line;
    std::getline(head, line);
    std::istringstream requestLine(line);
    requestLine >> request.Method >> request.Target >> request.Version;
    size_t contentLength = 0;
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        request.Headers.emplace_back(line.substr(0, colon), value);
        if (line.substr(0, colon) == "Content-Length")
            contentLength = std::stoul(value);
    }
    request.Body = received.substr(headerEnd + 4);
    while (request.Body.size() < contentLength) {
        const size_t before = received.size();
        if (!readMore())
            return false;
        request.Body += received.substr(before);
    }
    return true;
}

TLoopbackServer::TReply TLoopbackServer::ReplyFor(const std::string& target) {
    const std::string path = target.substr(0, target.find('?'));
    std::filesystem::path file;
    {
        std::lock_guard lock(FLock);
        if (const auto it = FReplies.find(path); it != FReplies.end())
            return it->second;
        const auto it = FFiles.find(path);
        if (it == FFiles.end()) {
            TReply missing;
            missing.Status = 404;
            missing.Reason = "Not Found";
            missing.Body = "not found";
            return missing;
        }
        file = it->second;
    }
    TReply reply;
    reply.Body = ReadWholeFile(file);
    return reply;
}

void TLoopbackServer::Serve(int connection) {
    TRequest request;
    if (!ReadRequest(connection, request))
        return;
    {
        std::lock_guard lock(FLock);
        FRequests.push_back(request);
    }
    FRequestArrived.notify_all();
    SendReply(connection, ReplyFor(request.Target));
}

void TLoopbackServer::SendReply(int connection, const TReply& reply) {
    if (reply.Silent) {
        // Until the client closes (readable with nothing to read) or the server ends.
        char buffer[256];
        while (WaitReadable(connection, ClientSilenceLimit) == TWait::Readable &&
               recv(connection, buffer, sizeof(buffer), 0) > 0) {
        }
        return;
    }
    std::string head = "HTTP/1.1 " + std::to_string(reply.Status) + " " + reply.Reason + "\r\n";
    for (const auto& [name, value] : reply.Headers)
        head += name + ": " + value + "\r\n";
    if (reply.AnnouncedLength != -2) {
        const long long length =
            reply.AnnouncedLength == -1 ? static_cast<long long>(reply.Body.size()) : reply.AnnouncedLength;
        head += "Content-Length: " + std::to_string(length) + "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    if (!SendAll(connection, head))
        return;
    if (reply.Endless) {
        // A client that closes makes a send fail; one that reads on is cut off at the limit.
        for (size_t sent = 0; sent < EndlessReplyLimit && !reply.Body.empty(); sent += reply.Body.size())
            if (!SendAll(connection, reply.Body))
                return;
        shutdown(connection, SHUT_WR);
        return;
    }
    const size_t pieceSize = reply.PieceSize == 0 ? reply.Body.size() : reply.PieceSize;
    for (size_t offset = 0; offset < reply.Body.size(); offset += pieceSize) {
        // A pause ends early when the server ends or the client has gone.
        if (reply.Pause.count() > 0 && WaitReadable(connection, reply.Pause) != TWait::TimedOut)
            return;
        if (!SendAll(connection, reply.Body.substr(offset, pieceSize)))
            return;
    }
    shutdown(connection, SHUT_WR);
}

TRefusingPort::TRefusingPort() {
    FSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (FSocket < 0 || bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("refusing port: cannot bind");
    FPort = ntohs(address.sin_port);
}

TRefusingPort::~TRefusingPort() {
    close(FSocket);
}

std::string TRefusingPort::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(FPort) + path;
}
