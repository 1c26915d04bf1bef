#pragma once

#include "platform/httpClient.h"
#include "platform/stringList.h"

#include <string>
#include <vector>

// The update server's protocol, shared by both programs: the two requests posted to the server's script
// "communicate.php" (the update request and the software submission), the client settings both use, and the
// reading of the reply, lines of a key, "=" and a value taken by their position.

inline constexpr const char* ServerSystem = "Rudarorovod";
inline constexpr const char* CommandUpdate = "Update";
inline constexpr const char* CommandSubmitSoft = "SubmitSoft";
inline constexpr const char* ServerContentType = "application/x-www-form-urlencoded";
inline constexpr int ServerReadTimeoutMs = 30000;

// Result codes of a request as KV reads it; any other value is the reply's "Result".
inline constexpr int ResultRequestFailed = -999;
inline constexpr int ResultWrongSystem = -1;
inline constexpr int ResultWrongCommand = -2;

// Positions of the reply lines, counted from 0. KV reads up to ReplyResult; the updater also reads the
// three download addresses (empty when there is none) and the three MD5 digests after them.
inline constexpr int ReplySystem = 0;
inline constexpr int ReplyCommand = 1;
inline constexpr int ReplyResult = 3;
inline constexpr int ReplyProgramUrl = 6;
inline constexpr int ReplyDataUrl = 7;
inline constexpr int ReplySoftDataUrl = 8;
inline constexpr int ReplyProgramMd5 = 9;
inline constexpr int ReplyDataMd5 = 10;
inline constexpr int ReplySoftDataMd5 = 11;

// ---- The server's address and the client ----

// The environment variable that names the script's full address (tests and demonstrations point it at a
// server of their own); when it is unset or empty, the address compiled in (KORVANE_SERVER_URL in CMake).
inline constexpr const char* ServerUrlVariable = "KORVANE_SERVER_URL";
std::string ServerScriptUrl();

// The read time-out both programs give the client: ServerReadTimeoutMs, or what a test set.
int ServerReadTimeout();
// Shortens (or lengthens) the read time-out for a test; 0 restores ServerReadTimeoutMs.
void SetServerReadTimeoutForTesting(int milliseconds);

// Sets Client up as every request to the server uses it: the read time-out, the form content type, forced
// encoding of the values as the only option, and redirect following as given. The client's own default
// request headers (Accept, User-Agent) stay as they are.
void ConfigureServerClient(platform::THttpClient& client, bool handleRedirects);

// ---- Requests ----

// The fields of the update request, in their order: System, Command "Update", ProgramVer, DataVer,
// SoftDataVer. The three versions go as given (decimal texts).
platform::TStringList UpdateRequest(const std::string& programVer, const std::string& dataVer,
                                    const std::string& softDataVer);
// The fields of the software submission, in their order: System, Command "SubmitSoft", SoftName,
// SoftVer, SoftType, Os, DownloadLink, Other, Email. Values go as given; an empty one as the bare name
// and "=".
platform::TStringList SubmitSoftRequest(const std::string& softName, const std::string& softVer,
                                        const std::string& softType, const std::string& os,
                                        const std::string& downloadLink, const std::string& other,
                                        const std::string& email);

// ---- The reply ----

// One reply line cut at its first "=": the key before it, the value after it (later "=" included). A line
// without "=" has an empty key and its whole text as value.
struct TReplyLine {
    std::string Key;
    std::string Value;
    bool operator==(const TReplyLine&) const = default;
};

// How the reader's walk over a reply ended.
struct TReplyReading {
    // -1 (line 0 is not System=Rudarorovod), -2 (line 1 is not Command=<the command>), the value of a
    // "Result" line at position 3 as a decimal integer (0 when it is none), else the caller's NoResult.
    int Result = 0;
    // Lines 0 and 1, as far as the reply has them, passed their checks, so the reading went on to the end.
    // Only then are the lines after them the server's (the updater takes positions 6 to 11 only then).
    bool ChecksPassed = false;
};

// The server's reply: the text split into lines at each line break (CR LF, a lone LF or a lone CR); a line
// break at the very end adds no line, empty lines elsewhere count. Nothing is trimmed and every comparison
// is exact.
class UpdateReply {
public:
    explicit UpdateReply(const std::string& text);

    int Count() const { return static_cast<int>(FLines.size()); }
    // Throws std::out_of_range beyond the last line.
    const TReplyLine& Line(int position) const { return FLines.at(static_cast<size_t>(position)); }
    // The value at Position, empty when the reply has no such line.
    std::string Value(int position) const;

    // Reads the lines in order as both programs do for a request of Command: line 0 must be
    // System=Rudarorovod and line 1 Command=<Command>, where a failed check ends the reading; line 3 gives
    // the result when its key is "Result".
    TReplyReading Read(const std::string& command, int noResult) const;

private:
    std::vector<TReplyLine> FLines;
};

// The value of a "Result" line: an optional sign and decimal digits within 32 bits; 0 for anything else.
int ReplyResultValue(const std::string& value);

// ---- KV's requests ----

// Posts Fields to the server's script with a client of its own (configured as above) and reads the reply
// for Command: the result code of the reply, or ResultRequestFailed when the request failed (no
// connection, read time-out, an error status, a redirect not followed, any error of the client), the
// reply is empty, or it has no "Result" at position 3. Never raises; blocks until the reply is read or the
// request has failed.
int PostServerRequest(const platform::TStringList& fields, const std::string& command, bool handleRedirects);
