#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

// Text conversions between the system's UTF-8 and the registry's UTF-16 (little-endian bytes, as values
// store it). Invalid input becomes U+FFFD; the UTF-16 reading stops at the end of the data, not at a NUL.
std::string Utf16LeToUtf8(std::string_view bytes);
std::string Utf8ToUtf16Le(std::string_view text);
// The key under which names compare and order without regard to case, as Wine compares them
// (platform::WineCaseKey): equal keys name the same key or value, and keys compare in Wine's order.
std::string FoldName(std::string_view name);

// One registry value: its name (UTF-8), its type and its data bytes exactly as a program would read them
// (strings in UTF-16LE with their terminator).
struct THiveValue {
    std::string Name;
    uint32_t Type = 0;
    std::string Data;
    // Where the value's lines lie in the loaded text while the value is unchanged (length 0: no such text).
    size_t SourceBegin = 0;
    size_t SourceLength = 0;
};

class THive;

// One key of a hive: a case-preserving name, subkeys and values in file order.
class THiveKey {
public:
    THiveKey() = default;
    THiveKey(const THiveKey&) = delete;
    THiveKey& operator=(const THiveKey&) = delete;

    const std::string& Name() const { return FName; }
    THiveKey* Parent() const { return FParent; }
    const std::vector<std::unique_ptr<THiveKey>>& Children() const { return FChildren; }
    const std::vector<THiveValue>& Values() const { return FValues; }
    bool IsLink() const { return FIsLink; }
    // The last-write time as a file time (0 when the file gave none).
    uint64_t Time() const { return FTime; }
    // The target of a link key (its REG_LINK value "SymbolicLinkValue"), as UTF-8 text.
    std::optional<std::string> LinkTarget() const;

    // Lookups without regard to case.
    THiveKey* FindChild(std::string_view name) const;
    const THiveValue* FindValue(std::string_view name) const;

private:
    friend class THive;

    THiveKey* AddChild(std::unique_ptr<THiveKey> child, size_t position);
    void IndexChild(THiveKey* child);
    size_t FindValueIndex(std::string_view name) const;
    THiveKey* FindFoldedChild(const std::string& folded) const;

    std::string FName;
    std::string FFolded;
    THiveKey* FParent = nullptr;
    std::vector<std::unique_ptr<THiveKey>> FChildren;
    std::vector<THiveValue> FValues;
    // Built once a key has many subkeys, so that opening a key below Software\Classes stays fast.
    mutable std::unique_ptr<std::unordered_map<std::string, THiveKey*>> FIndex;
    bool FIsLink = false;
    std::optional<std::string> FClass; // the raw escaped text between the quotes of "#class="
    uint64_t FTime = 0;                // last-write time as a file time

    // The key's block in the loaded text: from the gap before it through its last line.
    bool FHasBlock = false;
    bool FDirty = false;
    size_t FBlockBegin = 0;
    size_t FContentBegin = 0;
    size_t FBlockEnd = 0;
    size_t FPathBegin = 0; // the escaped path between '[' and ']'
    size_t FPathLength = 0;
    uint32_t FOrder = 0; // position of the block in the loaded file
};

// One registry file in Wine's text format ("WINE REGISTRY Version 2"), parsed into a tree and written back
// exactly: unchanged blocks keep their original text byte for byte, and only the blocks of changed keys are
// written anew in Wine's own form. A file that is not understood completely is still read as far as it is
// understood, but Complete() is false and the file must not be written back.
class THive {
public:
    THive();
    THive(const THive&) = delete;
    THive& operator=(const THive&) = delete;

    static std::unique_ptr<THive> Parse(std::string text);

    bool Complete() const { return FComplete; }
    // The first problem met while parsing ("line 12: ..."), empty when complete.
    const std::string& Problem() const { return FProblem; }
    // The text after ";; All keys relative to ", e.g. REGISTRY\\Machine (escaped as in the file).
    const std::string& RelativeTo() const { return FRelativeTo; }

    THiveKey& Root() { return *FRoot; }
    const THiveKey& Root() const { return *FRoot; }

    // The file's text with every change applied.
    std::string Text() const;

    // Changes. Each stamps the changed key with Time (a file time; 0 takes the clock's time).
    // A new subkey goes to its sorted place among its siblings (without regard to case).
    THiveKey& CreateKey(THiveKey& parent, const std::string& name, uint64_t time = 0);
    // Removes a key with everything below it (a link key as itself). The root cannot be deleted.
    bool DeleteKey(THiveKey& key, uint64_t time = 0);
    void SetValue(THiveKey& key, const std::string& name, uint32_t type, std::string data, uint64_t time = 0);
    bool DeleteValue(THiveKey& key, const std::string& name, uint64_t time = 0);

private:
    class TParser;
    friend class TParser;

    void WriteKey(const THiveKey& key, std::string& out) const;
    void WriteBlock(const THiveKey& key, std::string& out) const;
    void Touch(THiveKey& key, uint64_t time);

    std::string FSource;
    std::unique_ptr<THiveKey> FRoot;
    bool FComplete = true;
    std::string FProblem;
    std::string FRelativeTo;
    size_t FHeaderEnd = 0;
    size_t FTailBegin = 0;
};

// The current time as a file time (100 ns since 1601-01-01 UTC).
uint64_t CurrentFileTime();

} // namespace platform
