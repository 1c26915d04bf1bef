#include "tools/databaseWriter.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

class TByteWriter {
public:
    TByteWriter(std::string& bytes, char filler) : FBytes(bytes), FFiller(filler) {}

    void Int32(int32_t value) {
        auto bits = static_cast<uint32_t>(value);
        for (int i = 0; i < 4; ++i)
            FBytes.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
    }

    void Double(double value) {
        uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        for (int i = 0; i < 8; ++i)
            FBytes.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
    }

    // text(Capacity): a length byte, the characters, the rest of the slot filled.
    void Text(const std::string& text, size_t capacity) {
        if (text.size() > capacity)
            throw std::invalid_argument("text too long for a slot of " + std::to_string(capacity) + ": " +
                                        text);
        FBytes.push_back(static_cast<char>(text.size()));
        FBytes += text;
        FBytes.append(capacity - text.size(), FFiller);
    }

private:
    std::string& FBytes;
    char FFiller;
};

double DateTimeOfStamp(int32_t stamp) {
    return stamp / 86400.0 + 25569.0;
}

void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

std::string TrimBlanks(const std::string& s) {
    size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    size_t last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// A trimmed value, or the text between double quotes exactly.
std::string ValueText(const std::string& raw) {
    std::string value = TrimBlanks(raw);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

} // namespace

TDatabaseProgram& TDatabaseProgram::File(int32_t kind, const std::string& templateText) {
    FileItems.push_back({kind, templateText});
    return *this;
}

TDatabaseProgram& TDatabaseProgram::Registry(int32_t kind, const std::string& templateText) {
    RegistryItems.push_back({kind, templateText});
    return *this;
}

TDatabaseProgram& TDatabaseProgram::Probe(const std::string& keyTemplate, const std::string& valueName) {
    Probes.push_back({keyTemplate, valueName});
    return *this;
}

TDatabaseProgram& TDatabaseWriter::Add(const std::string& id, const std::string& name, int32_t category) {
    TDatabaseProgram& program = Programs.emplace_back();
    program.Id = id;
    program.Name = name;
    program.Category = category;
    return program;
}

std::string TDatabaseWriter::DataFileContent() const {
    std::vector<const TDatabaseProgram*> indexed;
    for (const TDatabaseProgram& program : Programs)
        if (program.InIndex)
            indexed.push_back(&program);

    std::string bytes;
    TByteWriter out(bytes, SlotFiller);
    out.Int32(DataStamp);
    out.Double(DataCreated.value_or(DateTimeOfStamp(DataStamp)));
    out.Int32(DataCount.value_or(static_cast<int32_t>(indexed.size())));
    out.Int32(DataReserved1);
    out.Int32(DataReserved2);
    out.Int32(DataReserved3);

    // Items follow the index, program by program, each program's file block before its registry block.
    int64_t itemOffset = DataIndexOffset(static_cast<int64_t>(indexed.size()));
    for (const TDatabaseProgram* program : indexed) {
        out.Int32(0);
        out.Text(program->IndexId.value_or(program->Id), 10);
        out.Int32(program->ItemOffset.value_or(static_cast<int32_t>(itemOffset)));
        out.Int32(program->FileCount.value_or(static_cast<int32_t>(program->FileItems.size())));
        out.Int32(program->RegCount.value_or(static_cast<int32_t>(program->RegistryItems.size())));
        itemOffset +=
            DataItemSize * static_cast<int64_t>(program->FileItems.size() + program->RegistryItems.size());
    }
    for (const TDatabaseProgram* program : indexed) {
        for (const auto* block : {&program->FileItems, &program->RegistryItems}) {
            for (const TDatabaseItem& item : *block) {
                out.Int32(item.Kind);
                out.Text(item.Template, 100);
            }
        }
    }
    return bytes;
}

std::string TDatabaseWriter::SoftFileContent() const {
    std::vector<const TDatabaseProgram*> records;
    for (const TDatabaseProgram& program : Programs)
        if (program.InSoft)
            records.push_back(&program);

    std::string bytes;
    TByteWriter out(bytes, SlotFiller);
    out.Int32(SoftStamp);
    out.Double(SoftCreated.value_or(DateTimeOfStamp(SoftStamp)));
    out.Int32(SoftCount.value_or(static_cast<int32_t>(records.size())));

    int64_t probeOffset = SoftRecordOffset(static_cast<int64_t>(records.size()));
    for (const TDatabaseProgram* program : records) {
        out.Text(program->Id, 10);
        out.Text(program->Name, 40);
        out.Int32(program->Category);
        out.Text(program->Services, 255);
        out.Text(program->Processes, 255);
        out.Text(program->Spare, 32);
        out.Text(program->InstallFolder, 100);
        out.Text(program->DesktopEntries, 100);
        out.Text(program->ProgramsEntries, 100);
        out.Text(program->StartupEntries, 100);
        out.Text(program->StartMenuEntries, 100);
        out.Int32(program->ProbeOffset.value_or(static_cast<int32_t>(probeOffset)));
        out.Int32(program->ProbeCount.value_or(static_cast<int32_t>(program->Probes.size())));
        probeOffset += SoftProbeSize * static_cast<int64_t>(program->Probes.size());
    }
    for (const TDatabaseProgram* program : records) {
        for (const TDatabaseProbe& probe : program->Probes) {
            out.Text(probe.KeyTemplate, 100);
            out.Text(probe.ValueName, 30);
        }
    }
    return bytes;
}

void TDatabaseWriter::WriteFiles(const std::filesystem::path& folder) const {
    WriteDataFile(folder / "KV.dat");
    WriteSoftFile(folder / "soft.dat");
}

void TDatabaseWriter::WriteDataFile(const std::filesystem::path& file) const {
    WriteBytes(file, DataFileContent());
}

void TDatabaseWriter::WriteSoftFile(const std::filesystem::path& file) const {
    WriteBytes(file, SoftFileContent());
}

TDatabaseWriter TDatabaseWriter::Parse(const std::string& description) {
    TDatabaseWriter writer;
    std::istringstream in(description);
    std::string line;
    int number = 0;
    enum { None, Database, Program } section = None;
    auto fail = [&](const std::string& what) {
        throw std::invalid_argument("line " + std::to_string(number) + ": " + what);
    };
    auto toInt = [&](const std::string& text) {
        try {
            size_t used = 0;
            long long value = std::stoll(text, &used, 0);
            if (used != text.size() || value < INT32_MIN || value > INT32_MAX)
                fail("not a 32-bit number: " + text);
            return static_cast<int32_t>(value);
        } catch (const std::logic_error&) {
            fail("not a number: " + text);
        }
        return 0;
    };
    auto toDouble = [&](const std::string& text) {
        try {
            return std::stod(text);
        } catch (const std::logic_error&) {
            fail("not a number: " + text);
        }
        return 0.0;
    };
    auto toBool = [&](const std::string& text) {
        if (text == "yes")
            return true;
        if (text != "no")
            fail("expected yes or no: " + text);
        return false;
    };
    // "a | b": two values; the first is trimmed, the second taken like any value.
    auto pair = [&](const std::string& text) {
        size_t bar = text.find('|');
        if (bar == std::string::npos)
            fail("expected two values separated by |: " + text);
        return std::make_pair(ValueText(text.substr(0, bar)), ValueText(text.substr(bar + 1)));
    };

    while (std::getline(in, line)) {
        ++number;
        std::string text = TrimBlanks(line);
        if (text.empty() || text[0] == '#')
            continue;
        if (text == "[database]") {
            section = Database;
            continue;
        }
        if (text == "[program]") {
            section = Program;
            writer.Programs.emplace_back();
            continue;
        }
        size_t equals = text.find('=');
        if (equals == std::string::npos)
            fail("expected key = value: " + text);
        const std::string key = TrimBlanks(text.substr(0, equals));
        const std::string raw = line.substr(line.find('=') + 1);
        const std::string value = ValueText(raw);

        if (section == Database) {
            if (key == "data stamp")
                writer.DataStamp = toInt(value);
            else if (key == "soft stamp")
                writer.SoftStamp = toInt(value);
            else if (key == "data created")
                writer.DataCreated = toDouble(value);
            else if (key == "soft created")
                writer.SoftCreated = toDouble(value);
            else
                fail("unknown database key: " + key);
            continue;
        }
        if (section != Program)
            fail("a value outside of a [database] or [program] block");

        TDatabaseProgram& program = writer.Programs.back();
        std::string* field = key == "id"          ? &program.Id
                             : key == "name"      ? &program.Name
                             : key == "services"  ? &program.Services
                             : key == "processes" ? &program.Processes
                             : key == "spare"     ? &program.Spare
                             : key == "folder"    ? &program.InstallFolder
                             : key == "desktop"   ? &program.DesktopEntries
                             : key == "programs"  ? &program.ProgramsEntries
                             : key == "startup"   ? &program.StartupEntries
                             : key == "startmenu" ? &program.StartMenuEntries
                                                  : nullptr;
        if (field != nullptr) {
            *field = value;
        } else if (key == "category") {
            program.Category = toInt(value);
        } else if (key == "probe") {
            auto [keyTemplate, valueName] = pair(raw);
            program.Probe(keyTemplate, valueName);
        } else if (key == "file" || key == "registry") {
            auto [kind, templateText] = pair(raw);
            (key == "file" ? program.FileItems : program.RegistryItems)
                .push_back({toInt(kind), templateText});
        } else if (key == "index") {
            program.InIndex = toBool(value);
        } else if (key == "soft") {
            program.InSoft = toBool(value);
        } else {
            fail("unknown program key: " + key);
        }
    }
    return writer;
}
