#pragma once

#include "platform/fileSystem.h"
#include "platform/stringList.h"

#include <bit>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

// The class library's file errors: a file that cannot be created, and one that exists but cannot be opened.
class EFCreateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EFOpenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

static_assert(std::endian::native == std::endian::little,
              "the database records are read as they lie in memory");

// A length-prefixed text in a slot of N+1 bytes, as the database files hold it: byte 0 is the length, the
// characters follow, and whatever lies behind them in the slot means nothing.
template <std::size_t N> struct TShortString {
    uint8_t Length = 0;
    char Data[N] = {};

    // A length byte above the slot's capacity is clamped to the slot, so a corrupt record never reads
    // into its neighbour.
    std::string Text() const { return std::string(View()); }
    std::string_view View() const { return std::string_view(Data, Length <= N ? Length : N); }
};

#pragma pack(push, 1)

// The 28-byte header of KV.dat.
struct TDataHeader {
    int32_t Stamp = 0;
    double Created = 0;
    int32_t Count = 0;
    int32_t Reserved1 = 0;
    int32_t Reserved2 = 0;
    int32_t Reserved3 = 0;
};

// One program of KV.dat's index: where its items lie.
struct TDataIndexRec {
    int32_t Reserved = 0;
    TShortString<10> ID;
    int32_t ItemOffset = 0;
    int32_t FileCount = 0;
    int32_t RegCount = 0;
};

// One file, registry key or registry value of a program.
struct TDataItemRec {
    int32_t Kind = 0;
    TShortString<100> Template;
};

// The 16-byte header of soft.dat.
struct TSoftDataHeader {
    int32_t Stamp = 0;
    double Created = 0;
    int32_t Count = 0;
};

// What soft.dat knows of one program.
struct TSoftRec {
    TShortString<10> ID;
    TShortString<40> Name;
    int32_t Category = 0;
    TShortString<255> Services;
    TShortString<255> Processes;
    TShortString<32> Spare;
    TShortString<100> InstallFolder;
    TShortString<100> DesktopEntries;
    TShortString<100> ProgramsEntries;
    TShortString<100> StartupEntries;
    TShortString<100> StartMenuEntries;
    int32_t ProbeOffset = 0;
    int32_t ProbeCount = 0;
};

// The leading fields of a TSoftRec, which the lookups by ID and name read without the rest.
struct TSoftRecHead {
    TShortString<10> ID;
    TShortString<40> Name;
    int32_t Category = 0;
};

// A registry value whose data names a program's install location.
struct TSoftProbeRec {
    TShortString<100> KeyTemplate;
    TShortString<30> ValueName;
};

#pragma pack(pop)

static_assert(sizeof(TDataHeader) == 28 && sizeof(TDataIndexRec) == 27 && sizeof(TDataItemRec) == 105);
static_assert(sizeof(TSoftDataHeader) == 16 && sizeof(TSoftRec) == 1114 && sizeof(TSoftProbeRec) == 132);

// The text of a software category number (1 to 10); any other number has the empty text.
std::string SoftCategoryText(int32_t category);

// The software database: loads KV.dat and soft.dat whole at construction (creating a missing one with an
// empty header) and answers the questions of the rest of the system from those copies. An object never
// reads the files again and never writes a record; it lives for one handler or job on one thread.
//
// Every record that a header's count or a record's offset names is read from the loaded bytes; one that
// would run past the end of them is absent, so a corrupt file answers like a shorter one. The lookups by
// name and by ID give the first record in file order; the tables that make them fast are built on first
// use and live as long as the object.
class TUFileOp {
public:
    // Blank paths mean KV.dat and soft.dat beside the program. Throws EFCreateError ("Cannot create file
    // %s") when a missing file cannot be created, EFOpenError ("Cannot open file %s") when one cannot be
    // read.
    TUFileOp(const std::string& DataFile, const std::string& SoftFile);
    ~TUFileOp();
    TUFileOp(const TUFileOp&) = delete;
    TUFileOp& operator=(const TUFileOp&) = delete;
    TUFileOp(TUFileOp&&) noexcept;
    TUFileOp& operator=(TUFileOp&&) noexcept;

    // A database held in memory only, from the bytes the two files would hold (for tools and fuzzing).
    static TUFileOp FromContents(std::string dataContent, std::string softContent);

    const std::string& DataFile() const { return FDataFile; }
    const std::string& SoftFile() const { return FSoftFile; }

    // Record readers: false (and a zeroed record) when the record is not wholly inside the loaded file.
    bool ReadDataHeader(TDataHeader& header) const;
    bool ReadDataIndex(int64_t offset, TDataIndexRec& record) const;
    bool ReadDataItem(int64_t offset, TDataItemRec& record) const;
    bool ReadSoftDataHeader(TSoftDataHeader& header) const;
    bool ReadSoftRecord(int64_t offset, TSoftRec& record) const;
    bool ReadSoftProbe(int64_t offset, TSoftProbeRec& record) const;

    // Fresh headers stamped with now, written at position 0 of Stream (which grows to hold them).
    void WriteDataHeader(std::string& stream, int32_t count, int32_t reserved1, int32_t reserved2,
                         int32_t reserved3);
    void WriteSoftDataHeader(std::string& stream, uint16_t count);

    // The version stamp as signed decimal (Format 1) or as "yyyy.MMdd.hhnnss" (any other Format).
    std::string GetDataVersion(uint16_t format);
    std::string GetSoftDataVersion(uint16_t format);

    // Path templates: a file path (kind 1) or a full registry path (any other kind) for this machine and
    // user.
    std::string ExpandPathTemplate(const std::string& templateText, uint16_t kind) const;
    // Whether an expanded item exists: kind 1 a file (not a folder), 2 a registry key, 3 a registry value.
    bool ItemExists(const std::string& path, uint16_t kind) const;
    std::string GetCurrentUserName() const;
    std::string GetWindowsDir() const;
    // The path up to its first "{x}" followed by the first visible "*.default" entry there, or the path up to
    // "{x}" alone when there is none.
    std::string ResolveProfileFolder(const std::string& path) const;

    // Queries.
    std::string FindIdByDisplayName(const std::string& displayName);
    std::string GetNameById(const std::string& id);
    int32_t GetCategoryById(const std::string& id);
    std::string GetCategoryTextByName(const std::string& name);
    int32_t ListSoftwareByCategory(platform::TStringList& list, uint16_t category);
    uint16_t CountSoftwareByCategory(uint16_t category);
    // Item lines (kind digit + expanded path) of the program whose name occurs in DisplayName; -1 when no
    // known program's name occurs in it, -3 for Kind 4 and above.
    int32_t GetLeftoverItems(const std::string& displayName, uint16_t kind, platform::TStringList& list,
                             uint16_t onlyExisting);
    // The eleven software information lines and the install-location probes; 11, 0 when the record is
    // missing, -1 when no known program's name occurs in DisplayName.
    int32_t GetSoftInfo(const std::string& displayName, platform::TStringList& info,
                        platform::TStringList& probeKeys, platform::TStringList& probeValues);

private:
    struct TLookupTables;
    TUFileOp() = default;
    // Number of records the header promises that lie wholly inside the loaded file.
    int64_t PresentDataIndexCount();
    int64_t PresentSoftRecordCount();
    TLookupTables& Tables();
    // ExpandPathTemplate on text held elsewhere.
    std::string ExpandTemplate(std::string_view templateText, uint16_t kind) const;
    // The index entry or software record of that number (from 0) into FDataIndex or FSoftRec.
    bool ReadDataIndexNumber(int64_t number);
    bool ReadSoftRecordNumber(int64_t number);
    // The ID, name and category of a software record that lies wholly inside the loaded file.
    TSoftRecHead SoftRecordHead(int64_t number) const;
    void PrefetchSoftRecord(int64_t number) const;
    // The tables with the software records by folded ID and their categories, built on first use.
    TLookupTables& SoftIdTables();
    // First software record with the given trimmed ID ignoring case, or -1.
    int64_t FindSoftRecordById(const std::string& id);

    TDataHeader FDataHeader;
    TDataIndexRec FDataIndex;
    TDataItemRec FDataItem;
    TSoftDataHeader FSoftHeader;
    TSoftRec FSoftRec;
    TSoftProbeRec FSoftProbe;
    platform::TFileBytes FDataStream;
    platform::TFileBytes FSoftStream;
    std::string FDataFile;
    std::string FSoftFile;
    std::unique_ptr<TLookupTables> FTables;
};
