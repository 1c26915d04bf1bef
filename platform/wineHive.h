#pragma once

#include <cstdint>
#include <functional>
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

class THive;

// One registry value as its key holds it: its name (UTF-8), its type and where its data lies. An unchanged
// value keeps only the span of its lines in the loaded text and decodes its data when asked; a set value
// keeps its data bytes in the hive.
class THiveValue {
public:
    std::string_view Name() const;
    uint32_t Type() const { return FType; }
    // The data bytes exactly as a program would read them (strings in UTF-16LE with their terminator).
    std::string Data() const;
    // The text of a value written as a quoted string of plain ASCII (no escapes), straight from its line
    // without a pass through UTF-16: the common case of REG_SZ and REG_EXPAND_SZ. False for any other
    // value, whose text Data() gives.
    bool PlainText(std::string& text) const;

private:
    friend class THive;

    // Where the value's text lies: its lines in the loaded text with the name as written there; a copy of
    // them after the decoded name (a name with escapes); or the decoded name and the data bytes once set.
    enum class TPlace : uint8_t { Lines, NamedLines, Set };

    bool FromSource() const { return FPlace != TPlace::Set; }
    // The value's lines, or its data bytes once set.
    std::string_view Bytes() const;

    const char* FText = "";
    uint32_t FNameLength = 0;
    uint32_t FBytesLength = 0;
    uint32_t FType = 0;
    TPlace FPlace = TPlace::Lines;
};

// A value's type and data apart from the hive they were read from.
struct THiveValueData {
    uint32_t Type = 0;
    std::string Data;
};

// One key of a hive: a case-preserving name, subkeys and values in file order. Keys live as long as their
// hive; a deleted key is only detached and emptied. A key's values are read from its block in the text when
// they are first asked for.
class THiveKey {
public:
    THiveKey() = default;
    THiveKey(const THiveKey&) = delete;
    THiveKey& operator=(const THiveKey&) = delete;

    std::string_view Name() const { return {FName, FNameLength}; }
    THiveKey* Parent() const { return FParent; }
    const std::vector<THiveKey*>& Children() const { return FChildren; }
    const std::vector<THiveValue>& Values() const {
        if (FValuesPending)
            ReadPendingValues();
        return FValues;
    }
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

    // The folded name (FoldName): an ASCII name folds as it is read; another keeps its folded name after
    // the name, its length before it.
    // Reads the value lines of the key's block, which loading the hive only stepped over.
    void ReadPendingValues() const;
    std::string_view StoredFolded() const;
    std::string Folded() const;
    int CompareFolded(std::string_view folded) const;
    size_t FindValueIndex(std::string_view name) const;
    THiveKey* FindFoldedChild(std::string_view folded) const;
    // The first child whose folded name is not below Folded (children in sorted order only).
    size_t LowerBound(std::string_view folded) const;

    const char* FName = "";
    uint32_t FNameLength = 0;
    // The key's block in the loaded text: from the gap before it through its last line; its key line
    // starts at FContentBegin.
    uint32_t FBlockBegin = 0;
    THiveKey* FParent = nullptr;
    std::vector<THiveKey*> FChildren;
    std::vector<THiveValue> FValues;
    // Built when a key with many subkeys is first searched, so that opening a key below Software\Classes
    // stays fast; the parser never needs it.
    // Its hash takes a string_view, so that a lookup copies no name.
    struct TFoldedHash {
        using is_transparent = void;
        size_t operator()(std::string_view folded) const { return std::hash<std::string_view>()(folded); }
    };
    using TFoldedIndex = std::unordered_map<std::string, THiveKey*, TFoldedHash, std::equal_to<>>;
    mutable std::unique_ptr<TFoldedIndex> FIndex;
    uint64_t FTime = 0; // last-write time as a file time
    uint32_t FContentBegin = 0;
    uint32_t FBlockEnd = 0;
    bool FAsciiName = true; // the folded name is the name with A to Z lowered
    bool FHasBlock = false;
    bool FDirty = false;
    bool FIsLink = false;
    bool FHasClass = false;      // the block has a "#class=" line, kept as it stands
    bool FChildrenSorted = true; // children in FoldName order: found by binary search
    bool FValuesPending = false; // the block's value lines are not read yet
};

// One registry file in Wine's text format ("WINE REGISTRY Version 2"), parsed into a tree and written back
// exactly: unchanged blocks keep their original text byte for byte, and only the blocks of changed keys are
// written anew in Wine's own form. A file that is not understood completely is still read as far as it is
// understood, but Complete() is false and the file must not be written back.
//
// Loading reads the key lines and their options and steps over the value lines; a block's values are read
// and checked when its key's values are first used. Complete() and Problem() first read every block left,
// so that their verdict is that of the whole file.
class THive {
public:
    THive();
    THive(const THive&) = delete;
    THive& operator=(const THive&) = delete;

    static std::unique_ptr<THive> Parse(std::string text);

    bool Complete() const;
    // The file's first problem ("line 12: ..."), empty when complete.
    const std::string& Problem() const;
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
    friend class THiveKey;

    void WriteKey(const THiveKey& key, std::string& out) const;
    void WriteBlock(const THiveKey& key, std::string& out) const;
    void WriteClass(const THiveKey& key, std::string& out) const;
    void Touch(THiveKey& key, uint64_t time);
    THiveKey& NewKey();
    // Copies text into the hive's arena, where it stays as long as the hive; returns the copy.
    const char* Store(std::string_view first, std::string_view second = {});
    void SetName(THiveKey& key, std::string_view name);
    void ReadValues(THiveKey& key);
    void ReadAllValues() const;
    // Keeps the problem of Line when it comes before the one kept (OrderProblemLine: after every line's).
    void Report(size_t line, const std::string& problem);
    static constexpr size_t OrderProblemLine = SIZE_MAX;

    std::string FSource;
    // Every key, the root first, in blocks: stable addresses without an allocation each. Blocks grow, so
    // that a small hive takes little and a large one few blocks, whose memory is made present at once.
    struct TKeyBlock {
        TKeyBlock(size_t count);
        TKeyBlock(const TKeyBlock&) = delete;
        TKeyBlock& operator=(const TKeyBlock&) = delete;
        TKeyBlock(TKeyBlock&& other) noexcept : Keys(other.Keys), Count(other.Count) { other.Keys = nullptr; }
        TKeyBlock& operator=(TKeyBlock&&) = delete;
        ~TKeyBlock();
        THiveKey* Keys = nullptr;
        size_t Count = 0;
    };
    std::vector<TKeyBlock> FKeys;
    size_t FKeysLeft = 0;
    // The root knows its hive, which a key's values read later need: keys reach it through their parents.
    struct TRootKey : THiveKey {
        explicit TRootKey(THive& hive) : Hive(&hive) {}
        THive* Hive;
    };
    TRootKey FRootKey{*this};
    THiveKey* FRoot = &FRootKey;
    std::vector<std::unique_ptr<char[]>> FArena;
    char* FArenaNext = nullptr;
    size_t FArenaLeft = 0;
    bool FComplete = true;
    bool FAllValuesRead = true;
    std::string FProblem;
    size_t FProblemLine = 0;
    std::string FRelativeTo;
    size_t FHeaderEnd = 0;
    size_t FTailBegin = 0;
};

// The current time as a file time (100 ns since 1601-01-01 UTC).
uint64_t CurrentFileTime();

} // namespace platform
