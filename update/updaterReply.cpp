#include "update/updaterReply.h"

#include "platform/sysUtils.h"

#include <vector>

namespace {

struct TReplyLine {
    std::string Key;
    std::string Value;
};

// The reply's lines cut at their first "=", split at CR LF, a lone LF or a lone CR; a break at the very
// end adds no line.
std::vector<TReplyLine> ReplyLines(const std::string& text) {
    std::vector<TReplyLine> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t cut = line.find('=');
        if (cut == std::string::npos)
            lines.push_back({"", line});
        else
            lines.push_back({line.substr(0, cut), line.substr(cut + 1)});
        if (end == std::string::npos)
            break;
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

} // namespace

int ReadUpdaterReply(const std::string& replyText, TUpdateFiles& files) {
    files = TUpdateFiles{};
    std::string* const fields[] = {&files.ProgramUrl, &files.DataUrl, &files.SoftDataUrl,
                                   &files.ProgramMd5, &files.DataMd5, &files.SoftDataMd5};
    int result = 0;
    std::vector<TReplyLine> lines = ReplyLines(replyText);
    for (size_t i = 0; i < lines.size(); ++i) {
        const TReplyLine& line = lines[i];
        if (i == 0 && (line.Key != "System" || line.Value != "Rudarorovod")) {
            result = -1;
            break;
        }
        if (i == 1 && (line.Key != "Command" || line.Value != "Update")) {
            result = -2;
            break;
        }
        if (i == 3 && line.Key == "Result")
            result = platform::StrToIntDef(line.Value, 0);
        if (i >= 6 && i <= 11)
            *fields[i - 6] = line.Value;
    }
    if (result <= 0)
        return result;
    return (files.ProgramUrl.empty() ? 0 : umProgram) | (files.DataUrl.empty() ? 0 : umData) |
           (files.SoftDataUrl.empty() ? 0 : umSoftData);
}
