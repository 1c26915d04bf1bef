#pragma once

#include <string>

// What the updater reads of the update server's reply beyond what KV reads: the three download addresses
// and the three digests, and the set of files to fetch.

// The addresses and digests of the reply's lines 6 to 11, as they came (not trimmed, not checked).
struct TUpdateFiles {
    std::string ProgramUrl;
    std::string DataUrl;
    std::string SoftDataUrl;
    std::string ProgramMd5;
    std::string DataMd5;
    std::string SoftDataMd5;
};

// UpdateMask bits: which files the server has newer versions of.
inline constexpr int umProgram = 1;
inline constexpr int umData = 2;
inline constexpr int umSoftData = 4;

// Reads the reply text of the update request. Files is emptied first and gets the values of lines 6 to 11
// that were read. The result: the UpdateMask (1 to 7) when "Result" is above 0 and an address is given; 0
// when "Result" is 0, not an integer or missing at line 3, or no address is given; -1 when line 0 is not
// "System=Rudarorovod"; -2 when line 1 is not "Command=Update"; any other negative "Result" as it came.
int ReadUpdaterReply(const std::string& replyText, TUpdateFiles& files);
