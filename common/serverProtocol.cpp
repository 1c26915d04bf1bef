#include "common/serverProtocol.h"

#include <atomic>
#include <cstdlib>
#include <limits>

#ifndef KORVANE_SERVER_URL
#error "KORVANE_SERVER_URL names the update server's script at build time"
#endif

namespace {

std::atomic<int> TestReadTimeout{0};

std::string Field(const char* name, const std::string& value) {
    return std::string(name) + "=" + value;
}

TReplyLine CutLine(const std::string& line) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos)
        return {"", line};
    return {line.substr(0, equals), line.substr(equals + 1)};
}

} // namespace

std::string ServerScriptUrl() {
    const char* address = std::getenv(ServerUrlVariable);
    if (address != nullptr && *address != '\0')
        return address;
    return KORVANE_SERVER_URL;
}

int ServerReadTimeout() {
    const int timeout = TestReadTimeout.load();
    return timeout > 0 ? timeout : ServerReadTimeoutMs;
}

void SetServerReadTimeoutForTesting(int milliseconds) {
    TestReadTimeout = milliseconds;
}

void ConfigureServerClient(platform::THttpClient& client, bool handleRedirects) {
    client.SetReadTimeout(ServerReadTimeout());
    client.Request().ContentType = ServerContentType;
    client.SetHTTPOptions(platform::hoForceEncodeParams);
    client.SetHandleRedirects(handleRedirects);
}

platform::TStringList UpdateRequest(const std::string& programVer, const std::string& dataVer,
                                    const std::string& softDataVer) {
    return {Field("System", ServerSystem), Field("Command", CommandUpdate), Field("ProgramVer", programVer),
            Field("DataVer", dataVer), Field("SoftDataVer", softDataVer)};
}

platform::TStringList SubmitSoftRequest(const std::string& softName, const std::string& softVer,
                                        const std::string& softType, const std::string& os,
                                        const std::string& downloadLink, const std::string& other,
                                        const std::string& email) {
    return {Field("System", ServerSystem),
            Field("Command", CommandSubmitSoft),
            Field("SoftName", softName),
            Field("SoftVer", softVer),
            Field("SoftType", softType),
            Field("Os", os),
            Field("DownloadLink", downloadLink),
            Field("Other", other),
            Field("Email", email)};
}

UpdateReply::UpdateReply(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t lineBreak = text.find_first_of("\r\n", start);
        if (lineBreak == std::string::npos) {
            FLines.push_back(CutLine(text.substr(start)));
            break;
        }
        FLines.push_back(CutLine(text.substr(start, lineBreak - start)));
        start = lineBreak + 1;
        if (text[lineBreak] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
}

std::string UpdateReply::Value(int position) const {
    return position >= 0 && position < Count() ? FLines[static_cast<size_t>(position)].Value : std::string();
}

TReplyReading UpdateReply::Read(const std::string& command, int noResult) const {
    TReplyReading reading{noResult, true};
    for (int i = 0; i < Count(); ++i) {
        const TReplyLine& line = FLines[static_cast<size_t>(i)];
        if (i == ReplySystem && !(line.Key == "System" && line.Value == ServerSystem))
            return {ResultWrongSystem, false};
        if (i == ReplyCommand && !(line.Key == "Command" && line.Value == command))
            return {ResultWrongCommand, false};
        if (i == ReplyResult && line.Key == "Result")
            reading.Result = ReplyResultValue(line.Value);
    }
    return reading;
}

int ReplyResultValue(const std::string& value) {
    size_t i = 0;
    const bool negative = !value.empty() && value[0] == '-';
    if (!value.empty() && (value[0] == '-' || value[0] == '+'))
        i = 1;
    if (i == value.size())
        return 0;
    long long number = 0;
    for (; i < value.size(); ++i) {
        if (value[i] < '0' || value[i] > '9')
            return 0;
        number = number * 10 + (value[i] - '0');
        if (number > static_cast<long long>(std::numeric_limits<int>::max()) + 1)
            return 0;
    }
    if (negative)
        number = -number;
    if (number > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(number);
}

int PostServerRequest(const platform::TStringList& fields, const std::string& command, bool handleRedirects) {
    try {
        platform::THttpClient client;
        ConfigureServerClient(client, handleRedirects);
        const UpdateReply reply(client.Post(ServerScriptUrl(), fields));
        return reply.Read(command, ResultRequestFailed).Result;
    } catch (...) {
        // Whatever went wrong, the request failed; the client has closed its connection on the way out.
        return ResultRequestFailed;
    }
}
