#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Writes the two database files, KV.dat and soft.dat, from a readable description: for tests, and to build
// the database of a demonstration machine. The byte layout is spelled out here on its own, field by field,
// so that the reader is checked against an independent account of the format.
//
//     TDatabaseWriter writer;
//     writer.Add("FOO", "Foo Tool", 5).File(1, "{pf}\\Foo\\foo.exe").Registry(2, "HKLM{sw}\\Foo");
//     writer.WriteFiles(machine.ProgramFolder());
//
// The same description as text (TDatabaseWriter::Parse), one block per program:
//
//     # comment
//     [database]
//     data stamp = 1234567890
//     soft stamp = 1234567890
//     [program]
//     id = FOO
//     name = Foo Tool
//     category = 5
//     services = FooSvc
//     processes = foo.exe,footray.exe
//     folder = 1\Foo
//     desktop = Foo Tool
//     probe = HKLM{sw}\Foo | InstallDir
//     file = 1 | {pf}\Foo\foo.exe
//     registry = 3 | HKCU{sw}\Foo\Path
//
// Values are trimmed unless written in double quotes ("  kept  "). Other keys of a program: spare, programs,
// startup, startmenu, index = no (not in KV.dat), soft = no (not in soft.dat). Other keys of [database]:
// data created, soft created (date-times as numbers).

struct TDatabaseItem {
    int32_t Kind = 1;
    std::string Template;
};

struct TDatabaseProbe {
    std::string KeyTemplate;
    std::string ValueName;
};

// One program: its soft.dat record and its KV.dat index record with its two blocks of items.
struct TDatabaseProgram {
    std::string Id;
    std::string Name;
    int32_t Category = 0;
    std::string Services;
    std::string Processes;
    std::string Spare;
    std::string InstallFolder;
    std::string DesktopEntries;
    std::string ProgramsEntries;
    std::string StartupEntries;
    std::string StartMenuEntries;
    std::vector<TDatabaseProbe> Probes;
    std::vector<TDatabaseItem> FileItems;     // the file block
    std::vector<TDatabaseItem> RegistryItems; // the registry block
    bool InIndex = true;
    bool InSoft = true;
    // The ID the index record carries, when it is to differ from Id (for instance in case).
    std::optional<std::string> IndexId;
    // Values written in place of the true ones, for deliberately odd files.
    std::optional<int32_t> ItemOffset, FileCount, RegCount, ProbeOffset, ProbeCount;

    TDatabaseProgram& File(int32_t kind, const std::string& templateText);
    TDatabaseProgram& Registry(int32_t kind, const std::string& templateText);
    TDatabaseProgram& Probe(const std::string& keyTemplate, const std::string& valueName);
};

class TDatabaseWriter {
public:
    // Record sizes and where the records begin.
    static constexpr int64_t DataHeaderSize = 28, DataIndexSize = 27, DataItemSize = 105;
    static constexpr int64_t SoftHeaderSize = 16, SoftRecordSize = 1114, SoftProbeSize = 132;
    static constexpr int64_t DataIndexOffset(int64_t i) { return DataHeaderSize + DataIndexSize * i; }
    static constexpr int64_t SoftRecordOffset(int64_t i) { return SoftHeaderSize + SoftRecordSize * i; }

    int32_t DataStamp = 0;
    std::optional<double> DataCreated; // default: the date-time of the stamp
    int32_t SoftStamp = 0;
    std::optional<double> SoftCreated;
    // Header counts written in place of the true ones.
    std::optional<int32_t> DataCount, SoftCount;
    int32_t DataReserved1 = 0, DataReserved2 = 0, DataReserved3 = 28;
    // The byte that fills every slot behind its text (the reader must ignore it).
    char SlotFiller = '\0';
    std::vector<TDatabaseProgram> Programs;

    TDatabaseProgram& Add(const std::string& id, const std::string& name, int32_t category);

    // The bytes of the two files. Throws std::invalid_argument for a text too long for its slot.
    std::string DataFileContent() const;
    std::string SoftFileContent() const;
    // KV.dat and soft.dat in a folder (a Linux path), or each file at a path of its own.
    void WriteFiles(const std::filesystem::path& folder) const;
    void WriteDataFile(const std::filesystem::path& file) const;
    void WriteSoftFile(const std::filesystem::path& file) const;

    // Reads the text description above; throws std::invalid_argument naming the line of an error.
    static TDatabaseWriter Parse(const std::string& description);
};
