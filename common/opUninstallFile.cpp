#include "common/opUninstallFile.h"

#include "platform/dateTime.h"
#include "platform/fileSystem.h"
#include "platform/registry.h"
#include "platform/systemInfo.h"
#include "platform/sysUtils.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

constexpr int64_t DataIndexStart = sizeof(TDataHeader);
constexpr int64_t SoftRecordStart = sizeof(TSoftDataHeader);
constexpr int64_t NoRecord = -1;
// How many records ahead a walk of the software records asks for the memory it will read.
constexpr int64_t PrefetchDistance = 32;
// How many IDs ahead a walk that looks each one up prepares its probe of the ID table (a power of two).
constexpr int64_t ProbeDistance = 8;

struct TPlaceholder {
    std::string_view Key;
    std::string_view Value;
};

// The values are fixed folder names, never looked up on the machine. Every key runs from a "{" to the first
// "}" after it and holds no other "{", so two occurrences of keys never overlap and no value (none holds a
// brace) makes a new one: replacing each row's key in turn, as the table's order suggests, is the same as
// one pass over the text that replaces each key where it stands.
constexpr TPlaceholder PathPlaceholders[] = {
    {"{das}", "\\Documents and Settings"},
    {"{ls}", "\\Local Settings"},
    {"{md}", "\\My Documents"},
    {"{ad}", "\\Application Data"},
    {"{is}", "\\Internet Settings"},
    {"{usf}", "\\User Shell Folders"},
    {"{sf}", "\\Shell Folder"},
    {"{sf2}", "\\ShellFolder"},
    {"{pf}", "\\Program Files"},
    {"{cf}", "\\Common Files"},
    {"{cm}", "\\Config.Msi"},
    {"{s32}", "\\system32"},
    {"{s}", "\\system"},
    {"{c}", "\\config"},
    {"{i}", "\\Installer"},
    {"{as}", "\\All Users"},
    {"{a}", "\\Administrator"},
    {"{df}", "\\Default User"},
    {"{lse}", "\\LocalService"},
    {"{nse}", "\\NetworkService"},
    {"{sw}", "\\Software"},
    {"{ms}", "\\Microsoft"},
    {"{win}", "\\Windows"},
    {"{cv}", "\\CurrentVersion"},
};

// Head followed by Text with every placeholder key replaced by its value and, when User is given, every
// "{cur}" by a backslash and User, in one pass: the text a user name brings in is not searched again.
std::string ReplacePlaceholders(std::string_view head, std::string_view text, const std::string* user) {
    std::string out;
    out.reserve(head.size() + text.size() + 64);
    out.append(head);
    size_t done = 0;
    for (size_t open = text.find('{'); open != std::string_view::npos; open = text.find('{', open + 1)) {
        const size_t close = text.find('}', open + 1);
        if (close == std::string_view::npos)
            break;
        const std::string_view key = text.substr(open, close - open + 1);
        std::string_view value;
        bool known = false;
        if (user != nullptr && key == "{cur}") {
            known = true;
        } else {
            for (const TPlaceholder& placeholder : PathPlaceholders)
                if (placeholder.Key == key) {
                    value = placeholder.Value;
                    known = true;
                    break;
                }
        }
        if (!known)
            continue;
        out.append(text.substr(done, open - done));
        if (value.empty()) {
            out += '\\';
            out += *user;
        } else {
            out.append(value);
        }
        done = close + 1;
        open = close;
    }
    out.append(text.substr(done));
    return out;
}

// Leading and trailing characters of code 0 to 32 removed, as platform::Trim does, without a copy.
std::string_view TrimView(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
        text.remove_suffix(1);
    return text;
}

template <typename TRecord>
bool ReadRecord(const platform::TFileBytes& stream, int64_t offset, TRecord& record) {
    if (offset < 0 || offset > static_cast<int64_t>(stream.size()) ||
        static_cast<int64_t>(stream.size()) - offset < static_cast<int64_t>(sizeof(TRecord))) {
        record = TRecord{};
        return false;
    }
    std::memcpy(&record, stream.data() + offset, sizeof(TRecord));
    return true;
}

// How many records of Size bytes, of the Wanted ones from Offset on, lie wholly inside a stream of Length.
int64_t PresentRecords(int64_t length, int64_t offset, int64_t wanted, int64_t size) {
    if (wanted <= 0 || offset < 0 || offset > length)
        return 0;
    return std::min(wanted, (length - offset) / size);
}

int32_t StampOf(platform::TDateTime moment) {
    return static_cast<int32_t>(std::llround((moment - platform::UnixDateDelta) * 86400.0));
}

std::string VersionText(int32_t stamp, uint16_t format) {
    if (format == 1)
        return std::to_string(stamp);
    return platform::FormatDateTime("yyyy.MMdd.hhnnss", stamp / 86400.0 + platform::UnixDateDelta);
}

// Finds, among many names, the one with the lowest number that occurs in a text, in one pass over the text
// (Aho-Corasick): each state keeps the lowest number of the names that end there or at its suffix states.
class TNameMatcher {
public:
    // Builds the automaton of the names (none empty) with their numbers. The names are sorted first, so
    // that the trie is laid out one name after another and each state's edges end up side by side.
    void Build(std::vector<std::pair<std::string, int64_t>> names) {
        std::sort(names.begin(), names.end());
        FLowest.assign(1, NoMatch);
        struct TBuildEdge {
            int32_t Parent;
            unsigned char Label;
            int32_t Child;
        };
        std::vector<TBuildEdge> edges;
        std::vector<int32_t> path{0}; // the states along the previous name
        const std::string* previous = nullptr;
        for (const auto& [name, number] : names) {
            size_t common = 0;
            if (previous != nullptr)
                while (common < name.size() && common < previous->size() &&
                       name[common] == (*previous)[common])
                    ++common;
            path.resize(common + 1);
            for (size_t depth = common; depth < name.size(); ++depth) {
                const auto state = static_cast<int32_t>(FLowest.size());
                FLowest.push_back(NoMatch);
                edges.push_back({path.back(), static_cast<unsigned char>(name[depth]), state});
                path.push_back(state);
            }
            auto& lowest = FLowest[static_cast<size_t>(path.back())];
            lowest = std::min(lowest, number);
            previous = &name;
        }

        // The edges by state: a state's edges were made in the order of their labels, and stay in it.
        const size_t states = FLowest.size();
        FEdgeBegin.assign(states + 1, 0);
        for (const TBuildEdge& edge : edges)
            ++FEdgeBegin[static_cast<size_t>(edge.Parent) + 1];
        for (size_t state = 0; state < states; ++state)
            FEdgeBegin[state + 1] += FEdgeBegin[state];
        FEdges.assign(edges.size(), TEdge{});
        std::vector<int32_t> filled(FEdgeBegin.begin(), FEdgeBegin.end() - 1);
        for (const TBuildEdge& edge : edges)
            FEdges[static_cast<size_t>(filled[static_cast<size_t>(edge.Parent)]++)] = {edge.Child,
                                                                                       edge.Label};

        // Suffix links, breadth first, each state also taking the lowest number of its suffix state.
        FFail.assign(states, 0);
        std::vector<int32_t> queue;
        queue.reserve(states);
        queue.push_back(0);
        for (size_t head = 0; head < queue.size(); ++head) {
            const int32_t state = queue[head];
            const auto end = static_cast<size_t>(FEdgeBegin[static_cast<size_t>(state) + 1]);
            for (auto index = static_cast<size_t>(FEdgeBegin[static_cast<size_t>(state)]); index < end;
                 ++index) {
                const TEdge edge = FEdges[index];
                int32_t fail = 0;
                if (state != 0) {
                    fail = FFail[static_cast<size_t>(state)];
                    while (fail != 0 && Child(fail, edge.Label) < 0)
                        fail = FFail[static_cast<size_t>(fail)];
                    const int32_t next = Child(fail, edge.Label);
                    fail = next >= 0 ? next : 0;
                }
                FFail[static_cast<size_t>(edge.Target)] = fail;
                auto& lowest = FLowest[static_cast<size_t>(edge.Target)];
                lowest = std::min(lowest, FLowest[static_cast<size_t>(fail)]);
                queue.push_back(edge.Target);
            }
        }
    }

    // The lowest number of a name that occurs in Text, or -1.
    int64_t FirstIn(const std::string& text) const {
        if (FEdgeBegin.empty())
            return NoRecord; // not built
        int64_t best = NoMatch;
        int32_t state = 0;
        for (char ch : text) {
            auto c = static_cast<unsigned char>(ch);
            int32_t next = Child(state, c);
            while (next < 0 && state != 0) {
                state = FFail[static_cast<size_t>(state)];
                next = Child(state, c);
            }
            state = next >= 0 ? next : 0;
            best = std::min(best, FLowest[static_cast<size_t>(state)]);
        }
        return best == NoMatch ? NoRecord : best;
    }

private:
    static constexpr int64_t NoMatch = std::numeric_limits<int64_t>::max();

    struct TEdge {
        int32_t Target = 0;
        unsigned char Label = 0;
    };

    int32_t Child(int32_t state, unsigned char c) const {
        const auto end = static_cast<size_t>(FEdgeBegin[static_cast<size_t>(state) + 1]);
        for (auto edge = static_cast<size_t>(FEdgeBegin[static_cast<size_t>(state)]); edge < end; ++edge)
            if (FEdges[edge].Label == c)
                return FEdges[edge].Target;
        return -1;
    }

    // The edges of all states in one array, those of a state from FEdgeBegin[state] on, so that a search
    // reads memory in a few places only.
    std::vector<TEdge> FEdges;
    std::vector<int32_t> FEdgeBegin;
    std::vector<int64_t> FLowest;
    std::vector<int32_t> FFail;
};

using TFirstRecordMap = std::unordered_map<std::string, int64_t>;

// The first record of each software ID (at most 10 bytes, as the slots hold them) in open addressing, with
// the ID packed into the 16-byte slot itself: no allocation per ID, and a table of 20,000 IDs fits the
// processor's second-level cache. A walk over many IDs prepares each probe some IDs ahead (Prepare), so
// that the slot is on its way into the cache when it is used.
class TIdTable {
public:
    // An ID's key and hash, and a request for its slot's memory.
    struct TProbe {
        uint64_t Low = 0;
        uint32_t High = 0; // bytes 8 and 9 of the ID, and its length in the top byte
        uint64_t Hash = 0;
        bool Valid = false; // the ID fits a slot
    };

    void Reserve(size_t count) { Rehash(std::bit_ceil(std::max<size_t>(16, count + count / 2 + 1))); }

    TProbe Prepare(std::string_view id) const {
        TProbe probe;
        if (id.size() > MaxLength)
            return probe;
        unsigned char bytes[16] = {};
        std::memcpy(bytes, id.data(), id.size());
        bytes[11] = static_cast<unsigned char>(id.size());
        std::memcpy(&probe.Low, bytes, 8);
        std::memcpy(&probe.High, bytes + 8, 4);
        return Prepared(probe);
    }

    // The probe of the ID in a slot of the loaded bytes (its length byte, then its ten bytes), trimmed as
    // platform::Trim does and, when Fold, lower-cased as platform::LowerCase does: the same probe as
    // Prepare of that text, made in registers (bytes stored one by one and read back as words would stall
    // the processor on every ID of a walk).
    TProbe PrepareSlot(const char* slot, bool fold) const {
        const size_t length = std::min<size_t>(static_cast<unsigned char>(slot[0]), MaxLength);
        const char* text = slot + 1;
        if (length == 0 || static_cast<unsigned char>(text[0]) <= 32 ||
            static_cast<unsigned char>(text[length - 1]) <= 32) {
            // Blanks to trim (or nothing at all): the rare case, by the text.
            std::string id = platform::Trim(std::string(text, length));
            return Prepare(fold ? platform::LowerCase(id) : id);
        }
        uint64_t low = 0;
        uint16_t high = 0;
        std::memcpy(&low, text, 8);
        std::memcpy(&high, text + 8, 2);
        if (length < 8) {
            low &= (uint64_t{1} << (8 * length)) - 1;
            high = 0;
        } else {
            high &= static_cast<uint16_t>((1U << (8 * (length - 8))) - 1);
        }
        TProbe probe;
        probe.Low = fold ? LowerAscii(low) : low;
        probe.High = (fold ? static_cast<uint32_t>(LowerAscii(high)) : high) | static_cast<uint32_t>(length)
                                                                                   << 24;
        return Prepared(probe);
    }

    // Records Number for the probe's ID unless an earlier record has that ID already.
    void AddFirst(const TProbe& probe, int64_t number) {
        if (!probe.Valid)
            return;
        if ((FCount + 1) * 3 > FSlots.size() * 2)
            Rehash(std::max<size_t>(16, FSlots.size() * 2));
        TSlot& slot = SlotOf(probe);
        if (slot.Number == Empty) {
            slot.Low = probe.Low;
            slot.High = probe.High;
            slot.Number = static_cast<int32_t>(number);
            ++FCount;
        }
    }
    void AddFirst(std::string_view id, int64_t number) { AddFirst(Prepare(id), number); }

    int64_t Find(const TProbe& probe) const {
        if (!probe.Valid || FSlots.empty())
            return NoRecord;
        const int32_t number = const_cast<TIdTable*>(this)->SlotOf(probe).Number;
        return number == Empty ? NoRecord : number;
    }
    int64_t Find(std::string_view id) const { return Find(Prepare(id)); }

private:
    static constexpr size_t MaxLength = 10;
    static constexpr int32_t Empty = -1;
    // Record numbers come from a header's 32-bit count.
    struct TSlot {
        uint64_t Low = 0;
        uint32_t High = 0;
        int32_t Number = Empty;
    };
    static_assert(sizeof(TSlot) == 16);

    TProbe Prepared(TProbe probe) const {
        probe.Hash = HashOf(probe.Low, probe.High);
        probe.Valid = true;
        if (!FSlots.empty())
            __builtin_prefetch(&FSlots[static_cast<size_t>(probe.Hash) & (FSlots.size() - 1)]);
        return probe;
    }

    // Each byte of Word from 'A' to 'Z' made lower case, the others kept, all at once.
    static uint64_t LowerAscii(uint64_t word) {
        constexpr uint64_t ones = 0x0101010101010101ULL;
        const uint64_t seven = word & (0x7F * ones);
        const uint64_t fromA = seven + (0x80 - 'A') * ones;     // top bit: at least 'A'
        const uint64_t pastZ = seven + (0x80 - 'Z' - 1) * ones; // top bit: above 'Z'
        const uint64_t upper = fromA & ~pastZ & ~word & (0x80 * ones);
        return word | (upper >> 2);
    }

    static uint64_t HashOf(uint64_t low, uint32_t high) {
        const uint64_t hash = low * 0x9E3779B97F4A7C15ULL ^ (high + uint64_t{1}) * 0xC2B2AE3D27D4EB4FULL;
        return hash ^ (hash >> 29);
    }

    // The slot that holds the probe's ID, or the empty one where it would go.
    TSlot& SlotOf(const TProbe& probe) {
        const size_t mask = FSlots.size() - 1;
        for (size_t index = static_cast<size_t>(probe.Hash) & mask;; index = (index + 1) & mask) {
            TSlot& slot = FSlots[index];
            if (slot.Number == Empty || (slot.Low == probe.Low && slot.High == probe.High))
                return slot;
        }
    }

    void Rehash(size_t size) {
        std::vector<TSlot> old = std::move(FSlots);
        FSlots.assign(size, TSlot{});
        for (const TSlot& slot : old)
            if (slot.Number != Empty) {
                TProbe probe;
                probe.Low = slot.Low;
                probe.High = slot.High;
                probe.Hash = HashOf(slot.Low, slot.High);
                SlotOf(probe) = slot;
            }
    }

    std::vector<TSlot> FSlots;
    size_t FCount = 0;
};

// The full root name that an upper-cased abbreviation stands for, else HKEY_CURRENT_CONFIG.
std::string RootNameOfAbbreviation(const std::string& head) {
    if (head == "HKLM")
        return "HKEY_LOCAL_MACHINE";
    if (head == "HKCU")
        return "HKEY_CURRENT_USER";
    if (head == "HKCR")
        return "HKEY_CLASSES_ROOT";
    if (head == "HKU")
        return "HKEY_USERS";
    return "HKEY_CURRENT_CONFIG";
}

} // namespace

// The per-object tables behind the lookups, each built on first use from the loaded bytes (which never
// change while the object lives), so that every answer is still the first record in file order.
struct TUFileOp::TLookupTables {
    bool HaveSoftIds = false;
    TIdTable SoftByFoldedId;             // trimmed lower-case ID -> first software record
    std::vector<int32_t> SoftCategories; // the category of each software record, by number
    bool HaveSoftExactIds = false;
    TIdTable SoftByExactId; // trimmed ID -> first software record
    bool HaveSoftNames = false;
    TFirstRecordMap SoftByFoldedName; // trimmed lower-case name -> first software record
    bool HaveMatcher = false;
    TNameMatcher Matcher; // trimmed lower-case names, numbered by record
    bool HaveLastDisplayName = false;
    std::string LastDisplayName; // the last display name asked about, and the record it found
    int64_t LastDisplayRecord = NoRecord;
    bool HaveIndexIds = false;
    TIdTable IndexByFoldedId; // trimmed lower-case ID -> first index record
    bool HaveCategoryCounts = false;
    std::array<uint16_t, 16> SmallCategoryCounts{};        // by the low 16 bits of a category below 16
    std::unordered_map<uint16_t, uint16_t> CategoryCounts; // the other low 16 bits of a category -> count
};

std::string SoftCategoryText(int32_t category) {
    static const char* const Texts[] = {"Networking Software",  "System Tools",         "Audio and video",
                                        "Graphic Tools",        "Application Software", "Profession",
                                        "Educational Software", "Security Tools",       "Games",
                                        "Other Tools"};
    if (category < 1 || category > 10)
        return {};
    return Texts[category - 1];
}

TUFileOp::TUFileOp(const std::string& DataFile, const std::string& SoftFile) {
    FDataFile = platform::Trim(DataFile);
    FSoftFile = platform::Trim(SoftFile);
    if (FDataFile.empty() || FSoftFile.empty()) {
        const std::string programFolder = platform::ExtractFilePath(platform::GetModuleFileName());
        if (FDataFile.empty())
            FDataFile = programFolder + "KV.dat";
        if (FSoftFile.empty())
            FSoftFile = programFolder + "soft.dat";
    }

    // Each file is read first, so that an existing one costs no lookup of its own; one that cannot be read
    // is created with an empty header when it does not exist, both before either is read again.
    const bool dataRead = platform::ReadWholeFile(FDataFile, FDataStream);
    if (!dataRead && !platform::FileExists(FDataFile)) {
        std::string header;
        WriteDataHeader(header, 0, 0, 0, static_cast<int32_t>(sizeof(TDataHeader)));
        if (!platform::WriteWholeFile(FDataFile, header))
            throw EFCreateError("Cannot create file " + FDataFile);
    }
    const bool softRead = platform::ReadWholeFile(FSoftFile, FSoftStream);
    if (!softRead && !platform::FileExists(FSoftFile)) {
        std::string header;
        WriteSoftDataHeader(header, 0);
        if (!platform::WriteWholeFile(FSoftFile, header))
            throw EFCreateError("Cannot create file " + FSoftFile);
    }

    if (!dataRead && !platform::ReadWholeFile(FDataFile, FDataStream))
        throw EFOpenError("Cannot open file " + FDataFile);
    if (!softRead && !platform::ReadWholeFile(FSoftFile, FSoftStream))
        throw EFOpenError("Cannot open file " + FSoftFile);
}

TUFileOp::~TUFileOp() = default;
TUFileOp::TUFileOp(TUFileOp&&) noexcept = default;
TUFileOp& TUFileOp::operator=(TUFileOp&&) noexcept = default;

TUFileOp TUFileOp::FromContents(std::string dataContent, std::string softContent) {
    TUFileOp database;
    database.FDataStream = platform::TFileBytes(dataContent);
    database.FSoftStream = platform::TFileBytes(softContent);
    return database;
}

// ---- Records ----

bool TUFileOp::ReadDataHeader(TDataHeader& header) const {
    return ReadRecord(FDataStream, 0, header);
}

bool TUFileOp::ReadDataIndex(int64_t offset, TDataIndexRec& record) const {
    return ReadRecord(FDataStream, offset, record);
}

bool TUFileOp::ReadDataItem(int64_t offset, TDataItemRec& record) const {
    return ReadRecord(FDataStream, offset, record);
}

bool TUFileOp::ReadSoftDataHeader(TSoftDataHeader& header) const {
    return ReadRecord(FSoftStream, 0, header);
}

bool TUFileOp::ReadSoftRecord(int64_t offset, TSoftRec& record) const {
    return ReadRecord(FSoftStream, offset, record);
}

bool TUFileOp::ReadSoftProbe(int64_t offset, TSoftProbeRec& record) const {
    return ReadRecord(FSoftStream, offset, record);
}

void TUFileOp::WriteDataHeader(std::string& stream, int32_t count, int32_t reserved1, int32_t reserved2,
                               int32_t reserved3) {
    const platform::TDateTime now = platform::Now();
    FDataHeader = TDataHeader{StampOf(now), now, count, reserved1, reserved2, reserved3};
    if (stream.size() < sizeof(TDataHeader))
        stream.resize(sizeof(TDataHeader));
    std::memcpy(stream.data(), &FDataHeader, sizeof(TDataHeader));
}

void TUFileOp::WriteSoftDataHeader(std::string& stream, uint16_t count) {
    const platform::TDateTime now = platform::Now();
    FSoftHeader = TSoftDataHeader{StampOf(now), now, count};
    if (stream.size() < sizeof(TSoftDataHeader))
        stream.resize(sizeof(TSoftDataHeader));
    std::memcpy(stream.data(), &FSoftHeader, sizeof(TSoftDataHeader));
}

std::string TUFileOp::GetDataVersion(uint16_t format) {
    ReadDataHeader(FDataHeader);
    return VersionText(FDataHeader.Stamp, format);
}

std::string TUFileOp::GetSoftDataVersion(uint16_t format) {
    ReadSoftDataHeader(FSoftHeader);
    return VersionText(FSoftHeader.Stamp, format);
}

int64_t TUFileOp::PresentDataIndexCount() {
    ReadDataHeader(FDataHeader);
    return PresentRecords(static_cast<int64_t>(FDataStream.size()), DataIndexStart, FDataHeader.Count,
                          sizeof(TDataIndexRec));
}

int64_t TUFileOp::PresentSoftRecordCount() {
    ReadSoftDataHeader(FSoftHeader);
    return PresentRecords(static_cast<int64_t>(FSoftStream.size()), SoftRecordStart, FSoftHeader.Count,
                          sizeof(TSoftRec));
}

// ---- Path templates ----

std::string TUFileOp::GetCurrentUserName() const {
    std::string name = platform::GetUserName();
    // The system query fills a buffer of 255 bytes: a name of at most 254, ending at its first zero.
    name = name.substr(0, std::min(name.find('\0'), size_t{254}));
    return name;
}

std::string TUFileOp::GetWindowsDir() const {
    // The system query fills a buffer of 144 bytes and fails for a longer folder, leaving no text.
    std::string dir = platform::GetWindowsDirectory();
    dir = dir.substr(0, dir.find('\0'));
    return dir.size() < 144 ? dir : std::string();
}

std::string TUFileOp::ResolveProfileFolder(const std::string& path) const {
    const std::string prefix = path.substr(0, path.find("{x}"));
    constexpr uint32_t skipped = platform::FILE_ATTRIBUTE_HIDDEN | platform::FILE_ATTRIBUTE_SYSTEM |
                                 platform::FILE_ATTRIBUTE_VOLUME_LABEL;
    for (const platform::TFindData& entry : platform::FindFiles(prefix + "*.default")) {
        if ((entry.Attributes & skipped) != 0 || entry.Name == "." || entry.Name == "..")
            continue;
        return prefix + entry.Name;
    }
    return prefix;
}

std::string TUFileOp::ExpandPathTemplate(const std::string& templateText, uint16_t kind) const {
    return ExpandTemplate(templateText, kind);
}

std::string TUFileOp::ExpandTemplate(std::string_view templateText, uint16_t kind) const {
    const std::string_view text = TrimView(templateText);
    if (text.empty())
        return {};

    std::string windowsDir;
    std::string drive;
    const bool beginsWithDrive = templateText.size() >= 3 && templateText.substr(1, 2) == ":\\";
    if (kind == 1 && !beginsWithDrive) {
        windowsDir = GetWindowsDir();
        drive = windowsDir.substr(0, 2);
    }
    const std::string user = GetCurrentUserName();
    const std::string* userText = TrimView(user).empty() ? nullptr : &user;

    if (kind == 1) {
        // With the drive put in front, only a "{w}" at the very start of the template follows it.
        std::string path = ReplacePlaceholders(drive, text, userText);
        if (path.find("{w}") != std::string::npos)
            path = platform::StringReplaceAll(path, drive + "{w}", windowsDir);
        if (path.find("{x}") != std::string::npos)
            path = ResolveProfileFolder(path);
        return path;
    }

    const std::string replaced = ReplacePlaceholders({}, text, userText);
    const size_t slash = replaced.find('\\');
    const std::string head =
        slash == std::string::npos ? std::string() : platform::UpperCase(replaced.substr(0, slash));
    std::string path = RootNameOfAbbreviation(head);
    path.append(replaced, slash == std::string::npos ? 0 : slash);
    return path;
}

bool TUFileOp::ItemExists(const std::string& path, uint16_t kind) const {
    if (kind == 1)
        return platform::FileExists(path);
    if (kind != 2 && kind != 3)
        return false;

    const size_t slash = path.find('\\');
    // A head that names no root (or no head at all) falls to HKEY_CURRENT_CONFIG, as the expansion does.
    const platform::HKEY root =
        platform::RootKeyOfName(slash == std::string::npos ? std::string() : path.substr(0, slash))
            .value_or(platform::HKEY_CURRENT_CONFIG);
    const std::string keyPath = slash == std::string::npos ? path : path.substr(slash);
    try {
        if (kind == 2) {
            platform::TRegistry registry(platform::KEY_READ);
            registry.SetRootKey(root);
            return registry.OpenKeyReadOnly(keyPath);
        }
        // A path without any backslash names no value at all, so nothing can exist there.
        const size_t last = keyPath.rfind('\\');
        if (last == std::string::npos)
            return false;
        platform::TRegistry registry(platform::KEY_ALL_ACCESS);
        registry.SetRootKey(root);
        // An empty key before the value name is the root itself.
        const std::string key = last == 0 ? std::string("\\") : keyPath.substr(0, last);
        if (!registry.OpenKey(key, false))
            return false;
        return registry.ValueExists(keyPath.substr(last + 1));
    } catch (const std::exception&) {
        // A registry that cannot be read holds nothing that could be left behind.
        return false;
    }
}

// ---- Lookup tables ----

TUFileOp::TLookupTables& TUFileOp::Tables() {
    if (!FTables)
        FTables = std::make_unique<TLookupTables>();
    return *FTables;
}

bool TUFileOp::ReadDataIndexNumber(int64_t number) {
    return ReadDataIndex(DataIndexStart + number * static_cast<int64_t>(sizeof(TDataIndexRec)), FDataIndex);
}

bool TUFileOp::ReadSoftRecordNumber(int64_t number) {
    return ReadSoftRecord(SoftRecordStart + number * static_cast<int64_t>(sizeof(TSoftRec)), FSoftRec);
}

void TUFileOp::PrefetchSoftRecord(int64_t number) const {
    // The records lie a kilobyte apart, too far for the processor to guess the next one of a walk.
    const int64_t offset = SoftRecordStart + number * static_cast<int64_t>(sizeof(TSoftRec));
    if (offset + static_cast<int64_t>(sizeof(TSoftRecHead)) <= static_cast<int64_t>(FSoftStream.size())) {
        // The head may straddle two cache lines.
        __builtin_prefetch(FSoftStream.data() + offset);
        __builtin_prefetch(FSoftStream.data() + offset + sizeof(TSoftRecHead) - 1);
    }
}

TSoftRecHead TUFileOp::SoftRecordHead(int64_t number) const {
    TSoftRecHead head;
    ReadRecord(FSoftStream, SoftRecordStart + number * static_cast<int64_t>(sizeof(TSoftRec)), head);
    return head;
}

TUFileOp::TLookupTables& TUFileOp::SoftIdTables() {
    TLookupTables& tables = Tables();
    if (!tables.HaveSoftIds) {
        const int64_t count = PresentSoftRecordCount();
        tables.SoftByFoldedId.Reserve(static_cast<size_t>(count));
        tables.SoftCategories.resize(static_cast<size_t>(count));
        TIdTable::TProbe probes[ProbeDistance];
        for (int64_t i = 0; i < count + ProbeDistance; ++i) {
            if (i < count) {
                PrefetchSoftRecord(i + PrefetchDistance);
                // Count counts only records wholly inside the file.
                const char* record =
                    FSoftStream.data() + SoftRecordStart + i * static_cast<int64_t>(sizeof(TSoftRec));
                probes[i % ProbeDistance] =
                    tables.SoftByFoldedId.PrepareSlot(record + offsetof(TSoftRec, ID), true);
                std::memcpy(&tables.SoftCategories[static_cast<size_t>(i)],
                            record + offsetof(TSoftRec, Category), sizeof(int32_t));
            }
            // The records are added in file order, so the first of each ID stays.
            if (const int64_t ready = i - ProbeDistance + 1; ready >= 0 && ready < count)
                tables.SoftByFoldedId.AddFirst(probes[ready % ProbeDistance], ready);
        }
        tables.HaveSoftIds = true;
    }
    return tables;
}

int64_t TUFileOp::FindSoftRecordById(const std::string& id) {
    return SoftIdTables().SoftByFoldedId.Find(platform::LowerCase(id));
}

// ---- Queries ----

std::string TUFileOp::FindIdByDisplayName(const std::string& displayName) {
    TLookupTables& tables = Tables();
    if (!tables.HaveMatcher) {
        const int64_t count = PresentSoftRecordCount();
        std::vector<std::pair<std::string, int64_t>> names;
        names.reserve(static_cast<size_t>(count));
        for (int64_t i = 0; i < count; ++i) {
            PrefetchSoftRecord(i + PrefetchDistance);
            std::string name = platform::LowerCase(platform::Trim(SoftRecordHead(i).Name.Text()));
            // An empty name occurs in nothing.
            if (!name.empty())
                names.emplace_back(std::move(name), i);
        }
        tables.Matcher.Build(std::move(names));
        tables.HaveMatcher = true;
    }
    // The scan asks about the same name several times in a row.
    if (!tables.HaveLastDisplayName || tables.LastDisplayName != displayName) {
        tables.LastDisplayName = displayName;
        tables.LastDisplayRecord = tables.Matcher.FirstIn(platform::LowerCase(displayName));
        tables.HaveLastDisplayName = true;
    }
    if (tables.LastDisplayRecord == NoRecord)
        return {};
    return SoftRecordHead(tables.LastDisplayRecord).ID.Text();
}

std::string TUFileOp::GetNameById(const std::string& id) {
    const int64_t record = FindSoftRecordById(id);
    if (record == NoRecord)
        return {};
    return platform::Trim(SoftRecordHead(record).Name.Text());
}

int32_t TUFileOp::GetCategoryById(const std::string& id) {
    const int64_t record = FindSoftRecordById(id);
    if (record == NoRecord)
        return 0;
    return Tables().SoftCategories[static_cast<size_t>(record)];
}

std::string TUFileOp::GetCategoryTextByName(const std::string& name) {
    TLookupTables& tables = Tables();
    if (!tables.HaveSoftNames) {
        const int64_t count = PresentSoftRecordCount();
        for (int64_t i = 0; i < count; ++i) {
            PrefetchSoftRecord(i + PrefetchDistance);
            tables.SoftByFoldedName.try_emplace(
                platform::LowerCase(platform::Trim(SoftRecordHead(i).Name.Text())), i);
        }
        tables.HaveSoftNames = true;
    }
    auto found = tables.SoftByFoldedName.find(platform::LowerCase(name));
    if (found == tables.SoftByFoldedName.end())
        return {};
    return SoftCategoryText(SoftRecordHead(found->second).Category);
}

int32_t TUFileOp::ListSoftwareByCategory(platform::TStringList& list, uint16_t category) {
    list.Clear();
    const int64_t count = PresentDataIndexCount();
    for (int64_t i = 0; i < count; ++i) {
        ReadDataIndexNumber(i);
        const std::string id = platform::Trim(FDataIndex.ID.Text());
        if (category == 0 || GetCategoryById(id) == static_cast<int32_t>(category))
            list.Add(GetNameById(id));
    }
    return list.Count();
}

uint16_t TUFileOp::CountSoftwareByCategory(uint16_t category) {
    // The header's count works in 16 bits; of the records it names, only those really there are counted,
    // so a header that promises more than the file holds shows no programs that no list would show.
    const int64_t present = PresentDataIndexCount();
    const auto limit = static_cast<uint16_t>(std::min<int64_t>(present, FDataHeader.Count & 0xFFFF));
    if (category == 0)
        return limit;
    // The main window asks for every category in turn: one walk of the index counts them all, reading each
    // entry's ID where it lies and folding it as GetCategoryById would.
    TLookupTables& tables = SoftIdTables();
    if (!tables.HaveCategoryCounts) {
        TIdTable::TProbe probes[ProbeDistance];
        for (int64_t i = 0; i < limit + ProbeDistance; ++i) {
            if (i < limit) {
                // Limit counts only entries wholly inside the file.
                const char* entry =
                    FDataStream.data() + DataIndexStart + i * static_cast<int64_t>(sizeof(TDataIndexRec));
                probes[i % ProbeDistance] =
                    tables.SoftByFoldedId.PrepareSlot(entry + offsetof(TDataIndexRec, ID), true);
            }
            const int64_t ready = i - ProbeDistance + 1;
            if (ready < 0 || ready >= limit)
                continue;
            const int64_t record = tables.SoftByFoldedId.Find(probes[ready % ProbeDistance]);
            const int32_t found = record == NoRecord ? 0 : tables.SoftCategories[static_cast<size_t>(record)];
            const auto low = static_cast<uint16_t>(found & 0xFFFF);
            if (low < tables.SmallCategoryCounts.size())
                ++tables.SmallCategoryCounts[low];
            else
                ++tables.CategoryCounts[low];
        }
        tables.HaveCategoryCounts = true;
    }
    if (category < tables.SmallCategoryCounts.size())
        return tables.SmallCategoryCounts[category];
    auto found = tables.CategoryCounts.find(category);
    return found == tables.CategoryCounts.end() ? uint16_t{0} : found->second;
}

int32_t TUFileOp::GetLeftoverItems(const std::string& displayName, uint16_t kind, platform::TStringList& list,
                                   uint16_t onlyExisting) {
    list.Clear();
    const std::string id = platform::Trim(FindIdByDisplayName(platform::Trim(displayName)));
    if (id.empty())
        return -1;
    if (kind >= 4)
        return -3;

    TLookupTables& tables = Tables();
    if (!tables.HaveIndexIds) {
        const int64_t count = PresentDataIndexCount();
        for (int64_t i = 0; i < count; ++i) {
            ReadDataIndexNumber(i);
            tables.IndexByFoldedId.AddFirst(platform::LowerCase(platform::Trim(FDataIndex.ID.Text())), i);
        }
        tables.HaveIndexIds = true;
    }
    const int64_t index = tables.IndexByFoldedId.Find(platform::LowerCase(id));
    if (index == NoRecord)
        return 0;
    ReadDataIndexNumber(index);

    constexpr auto itemSize = static_cast<int64_t>(sizeof(TDataItemRec));
    int64_t first = FDataIndex.ItemOffset;
    int64_t wanted = 0;
    if (kind == 1) {
        wanted = FDataIndex.FileCount;
    } else if (kind == 2 || kind == 3) {
        first += itemSize * FDataIndex.FileCount;
        wanted = FDataIndex.RegCount;
    } else {
        wanted = static_cast<int64_t>(FDataIndex.FileCount) + FDataIndex.RegCount;
    }
    const int64_t present = PresentRecords(static_cast<int64_t>(FDataStream.size()), first, wanted, itemSize);

    for (int64_t i = 0; i < present; ++i) {
        ReadDataItem(first + i * itemSize, FDataItem);
        const int32_t itemKind = FDataItem.Kind;
        if (kind != 0 && itemKind != static_cast<int32_t>(kind))
            continue;
        // A kind that does not fit the 16 bits of an item kind names nothing that could exist, rather than
        // whatever its low bits would say.
        const auto expandKind = static_cast<uint16_t>(itemKind >= 0 && itemKind <= 0xFFFF ? itemKind : 0);
        const std::string path = ExpandTemplate(TrimView(FDataItem.Template.View()), expandKind);
        if (onlyExisting != 1 || ItemExists(path, expandKind)) {
            std::string line = std::to_string(itemKind);
            line += path;
            list.Add(std::move(line));
        }
    }
    return list.Count();
}

int32_t TUFileOp::GetSoftInfo(const std::string& displayName, platform::TStringList& info,
                              platform::TStringList& probeKeys, platform::TStringList& probeValues) {
    info.Clear();
    probeKeys.Clear();
    probeValues.Clear();
    const std::string id = platform::Trim(FindIdByDisplayName(platform::Trim(displayName)));
    if (id.empty())
        return -1;

    TLookupTables& tables = Tables();
    if (!tables.HaveSoftExactIds) {
        const int64_t count = PresentSoftRecordCount();
        tables.SoftByExactId.Reserve(static_cast<size_t>(count));
        for (int64_t i = 0; i < count; ++i) {
            PrefetchSoftRecord(i + PrefetchDistance);
            tables.SoftByExactId.AddFirst(platform::Trim(SoftRecordHead(i).ID.Text()), i);
        }
        tables.HaveSoftExactIds = true;
    }
    const int64_t record = tables.SoftByExactId.Find(id);
    if (record == NoRecord)
        return 0;
    ReadSoftRecordNumber(record);

    auto trimmed = [](std::string_view text) { return std::string(TrimView(text)); };
    info.Add(trimmed(FSoftRec.ID.View()));
    info.Add(trimmed(FSoftRec.Name.View()));
    info.Add(std::to_string(FSoftRec.Category));
    info.Add(trimmed(FSoftRec.Services.View()));
    info.Add(trimmed(FSoftRec.Processes.View()));
    info.Add(trimmed(FSoftRec.Spare.View()));
    info.Add(trimmed(FSoftRec.InstallFolder.View()));
    info.Add(trimmed(FSoftRec.DesktopEntries.View()));
    info.Add(trimmed(FSoftRec.ProgramsEntries.View()));
    info.Add(trimmed(FSoftRec.StartupEntries.View()));
    info.Add(trimmed(FSoftRec.StartMenuEntries.View()));

    constexpr auto probeSize = static_cast<int64_t>(sizeof(TSoftProbeRec));
    const int64_t first = FSoftRec.ProbeOffset;
    const int64_t present =
        PresentRecords(static_cast<int64_t>(FSoftStream.size()), first, FSoftRec.ProbeCount, probeSize);
    for (int64_t i = 0; i < present; ++i) {
        ReadSoftProbe(first + i * probeSize, FSoftProbe);
        probeKeys.Add(ExpandTemplate(FSoftProbe.KeyTemplate.View(), 2));
        probeValues.Add(FSoftProbe.ValueName.Text());
    }
    return info.Count();
}
