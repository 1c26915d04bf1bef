#include "platform/profileFile.h"

#include "platform/fileDescriptor.h"
#include "platform/sysUtils.h"
#include "platform/winePath.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace platform {

namespace {

constexpr std::string_view LineEnd = "\r\n";
constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";

// One line of the file as byte positions: its text runs from Start to End (without CR LF or LF), and
// the next line starts at Next.
struct TLine {
    size_t Start = 0;
    size_t End = 0;
    size_t Next = 0;
};

enum class TLineKind { Blank, Section, Entry };

struct TParsedLine {
    TLineKind Kind = TLineKind::Blank;
    std::string Name;  // the section's or the key's name, trimmed
    std::string Value; // an entry's value, trimmed, quotes kept
};

std::vector<TLine> SplitLines(const std::string& text) {
    std::vector<TLine> lines;
    size_t start = text.compare(0, Utf8Mark.size(), Utf8Mark) == 0 ? Utf8Mark.size() : 0;
    while (start < text.size()) {
        size_t newline = text.find('\n', start);
        size_t next = newline == std::string::npos ? text.size() : newline + 1;
        size_t end = newline == std::string::npos ? text.size() : newline;
        if (end > start && text[end - 1] == '\r')
            --end;
        lines.push_back({start, end, next});
        start = next;
    }
    return lines;
}

TParsedLine ParseLine(std::string_view line) {
    TParsedLine parsed;
    std::string trimmed = Trim(std::string(line));
    if (trimmed.empty())
        return parsed;
    if (trimmed.front() == '[') {
        size_t close = trimmed.find(']');
        if (close != std::string::npos) {
            parsed.Kind = TLineKind::Section;
            parsed.Name = Trim(trimmed.substr(1, close - 1));
            return parsed;
        }
    }
    parsed.Kind = TLineKind::Entry;
    size_t equals = trimmed.find('=');
    if (equals == std::string::npos) {
        parsed.Name = trimmed;
    } else {
        parsed.Name = Trim(trimmed.substr(0, equals));
        parsed.Value = Trim(trimmed.substr(equals + 1));
    }
    return parsed;
}

// Where a key stands in a file: the line of the key (the first one in any section of that name), and the
// line after which a new key of the section goes (its last entry, else its header, in the section's first
// occurrence).
struct TKeyPlace {
    std::optional<size_t> KeyLine;
    std::optional<size_t> InsertAfter;
    std::string Key;
    std::string Value;
};

TKeyPlace FindKey(const std::string& text, const std::vector<TLine>& lines, const std::string& section,
                  const std::string& key) {
    TKeyPlace place;
    bool inSection = false;
    bool inFirstSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        TParsedLine parsed =
            ParseLine(std::string_view(text).substr(lines[i].Start, lines[i].End - lines[i].Start));
        if (parsed.Kind == TLineKind::Section) {
            inSection = SameText(parsed.Name, section);
            inFirstSection = inSection && !place.InsertAfter;
            if (inFirstSection)
                place.InsertAfter = i;
        } else if (parsed.Kind == TLineKind::Entry && inSection) {
            if (inFirstSection)
                place.InsertAfter = i;
            if (!place.KeyLine && SameText(parsed.Name, key)) {
                place.KeyLine = i;
                place.Key = parsed.Name;
                place.Value = parsed.Value;
            }
        }
    }
    return place;
}

// A value in matching quotes loses them, as the profile functions of Windows return it.
std::string Unquote(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// Names that the file could not hold as given: a line break would start a line of its own, a ']' would end
// the section name early, an '=' would end the key early and a leading '[' would make the key a section.
bool CanBeWritten(const std::string& section, const std::string& key, const std::string& value) {
    if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value))
        return false;
    return section.find(']') == std::string::npos && key.find('=') == std::string::npos && key.front() != '[';
}

std::string WithKey(const std::string& text, const std::string& section, const std::string& key,
                    const std::string& value) {
    std::vector<TLine> lines = SplitLines(text);
    TKeyPlace place = FindKey(text, lines, section, key);
    std::string result = text;
    if (place.KeyLine) {
        const TLine& line = lines[*place.KeyLine];
        result.replace(line.Start, line.End - line.Start, place.Key + "=" + value);
        return result;
    }
    std::string entry = key + "=" + value + std::string(LineEnd);
    if (place.InsertAfter) {
        const TLine& line = lines[*place.InsertAfter];
        bool terminated = line.Next > 0 && text[line.Next - 1] == '\n';
        result.insert(line.Next, terminated ? entry : std::string(LineEnd) + entry);
        return result;
    }
    if (!result.empty() && result.back() != '\n')
        result += LineEnd;
    result += "[" + section + "]" + std::string(LineEnd) + entry;
    return result;
}

} // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName,
                                    size_t bufferSize) {
    if (bufferSize == 0)
        return {};
    // As Windows does, a default loses its trailing blanks.
    std::string result = defaultValue.substr(0, defaultValue.find_last_not_of(' ') + 1);
    std::optional<fs::path> path = ResolvePath(fileName);
    std::string wantedSection = Trim(section);
    std::string wantedKey = Trim(key);
    if (path && !wantedSection.empty() && !wantedKey.empty()) {
        TFileDescriptor fd(open(path->c_str(), O_RDONLY | O_CLOEXEC));
        struct stat info {};
        std::string text;
        if (fd.Valid() && fstat(fd.Get(), &info) == 0 && S_ISREG(info.st_mode) && ReadAll(fd.Get(), text)) {
            std::vector<TLine> lines = SplitLines(text);
            TKeyPlace place = FindKey(text, lines, wantedSection, wantedKey);
            if (place.KeyLine)
                result = Unquote(place.Value);
        }
    }
    if (result.size() > bufferSize - 1)
        result.resize(bufferSize - 1);
    return result;
}

bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName) {
    std::string wantedSection = Trim(section);
    std::string wantedKey = Trim(key);
    if (!CanBeWritten(wantedSection, wantedKey, value))
        return false;
    std::optional<fs::path> resolved = ResolvePath(fileName);
    if (!resolved)
        return false;
    // The file is replaced where it really lies, so that a profile reached through a link stays linked.
    fs::path target = *resolved;
    if (std::unique_ptr<char, void (*)(void*)> real(realpath(resolved->c_str(), nullptr), std::free); real)
        target = real.get();
    std::string name = target.filename().string();
    fs::path folder = target.parent_path();
    if (name.empty() || name == "." || name == "..")
        return false;

    TFileDescriptor folderFd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.Valid())
        return false;
    // Every writer of a profile in this folder takes the folder's lock for its read-change-replace, so that
    // concurrent writers of different keys each see the other's key.
    while (flock(folderFd.Get(), LOCK_EX) != 0)
        if (errno != EINTR)
            return false;

    std::string text;
    struct stat info {};
    bool exists = false;
    {
        TFileDescriptor fd(openat(folderFd.Get(), name.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.Valid()) {
            if (fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || !ReadAll(fd.Get(), text))
                return false;
            exists = true;
            // A file without any write bit is read-only, also for root.
            if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
                return false;
        } else if (errno != ENOENT) {
            return false;
        }
    }

    std::string newText = WithKey(text, wantedSection, wantedKey, value);
    TReplacement how;
    how.Fill = [&](int out) {
        if (!WriteAll(out, newText))
            return false;
        if (!exists)
            return true;
        // The replacement takes the old file's place entirely: its owner, permissions and hidden/system bits.
        // Only root may give a file away; a file of another owner otherwise becomes the writer's own.
        [[maybe_unused]] int owned = fchown(out, info.st_uid, info.st_gid);
        if (fchmod(out, info.st_mode & 07777) != 0)
            return false;
        char dosValue[64] = {};
        ssize_t dosLength = getxattr(target.c_str(), "user.DOSATTRIB", dosValue, sizeof(dosValue));
        if (dosLength > 0)
            fsetxattr(out, "user.DOSATTRIB", dosValue, static_cast<size_t>(dosLength), 0);
        return true;
    };
    return ReplaceFileAtomically(folderFd.Get(), name, ".profile-", how);
}

} // namespace platform
