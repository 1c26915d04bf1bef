#include "update/updaterReply.h"

#include "common/serverProtocol.h"

int ReadUpdaterReply(const std::string& replyText, TUpdateFiles& files) {
    files = TUpdateFiles{};
    const UpdateReply reply(replyText);
    // A reply without a "Result" at line 3 means nothing to fetch.
    const TReplyReading reading = reply.Read(CommandUpdate, 0);
    if (reading.ChecksPassed) {
        files.ProgramUrl = reply.Value(ReplyProgramUrl);
        files.DataUrl = reply.Value(ReplyDataUrl);
        files.SoftDataUrl = reply.Value(ReplySoftDataUrl);
        files.ProgramMd5 = reply.Value(ReplyProgramMd5);
        files.DataMd5 = reply.Value(ReplyDataMd5);
        files.SoftDataMd5 = reply.Value(ReplySoftDataMd5);
    }
    if (reading.Result <= 0)
        return reading.Result;
    return (files.ProgramUrl.empty() ? 0 : umProgram) | (files.DataUrl.empty() ? 0 : umData) |
           (files.SoftDataUrl.empty() ? 0 : umSoftData);
}
