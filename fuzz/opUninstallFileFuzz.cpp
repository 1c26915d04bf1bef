// Loads arbitrary bytes as KV.dat and soft.dat and asks every question of the database reader. Besides the
// sanitizers' findings it checks the fast lookups against plain walks of the records, which must agree.
//
// The input's first two bytes say where KV.dat ends and soft.dat begins. The machine is a prefix in a
// temporary folder of the fuzzer's own (its Z: drive is that folder too), so no path that the bytes name can
// reach the real home or prefix.

#include "common/opUninstallFile.h"
#include "fuzzSupport.h"
#include "platform/stringList.h"
#include "platform/sysUtils.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdlib.h>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void MakeMachine() {
    const fs::path root = MakeFuzzFolder("korvane-fuzz");
    const fs::path prefix = root / "prefix";
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(prefix / "drive_c" / "windows" / "system32");
    fs::create_directories(prefix / "drive_c" / "Program Files" / "Fuzz" / "p.default");
    fs::create_directories(root / "home");
    fs::create_symlink("../drive_c", prefix / "dosdevices" / "c:");
    fs::create_symlink(root, prefix / "dosdevices" / "z:");
    std::ofstream(prefix / "drive_c" / "Program Files" / "Fuzz" / "f.exe") << "x";
    std::ofstream(prefix / "system.reg") << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
                                            "#arch=win64\n\n[Software\\\\Fuzz] 1796892324\n\"V\"=\"x\"\n";
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("HOME", (root / "home").c_str(), 1);
    setenv("USER", "fuzz", 1);
}

// The first software record whose trimmed name occurs in the display name, walked record by record.
std::string WalkFindId(TUFileOp& database, const std::string& displayName) {
    TSoftDataHeader header;
    database.ReadSoftDataHeader(header);
    const std::string lowered = platform::LowerCase(displayName);
    TSoftRec record;
    for (int64_t i = 0; i < header.Count && database.ReadSoftRecord(16 + 1114 * i, record); ++i) {
        const std::string name = platform::LowerCase(platform::Trim(record.Name.Text()));
        if (!name.empty() && lowered.find(name) != std::string::npos)
            return record.ID.Text();
    }
    return {};
}

std::string WalkNameById(TUFileOp& database, const std::string& id) {
    TSoftDataHeader header;
    database.ReadSoftDataHeader(header);
    TSoftRec record;
    for (int64_t i = 0; i < header.Count && database.ReadSoftRecord(16 + 1114 * i, record); ++i)
        if (platform::SameText(platform::Trim(record.ID.Text()), id))
            return platform::Trim(record.Name.Text());
    return {};
}

void Ask(TUFileOp& database, const std::string& displayName) {
    const std::string id = database.FindIdByDisplayName(displayName);
    Check(id == WalkFindId(database, displayName), "FindIdByDisplayName");
    const std::string trimmedId = platform::Trim(id);
    Check(database.GetNameById(trimmedId) == WalkNameById(database, trimmedId), "GetNameById");
    database.GetCategoryById(trimmedId);
    database.GetCategoryTextByName(displayName);

    platform::TStringList list{"stale"};
    for (uint16_t kind = 0; kind <= 4; ++kind) {
        for (uint16_t onlyExisting = 0; onlyExisting <= 1; ++onlyExisting) {
            const int32_t result = database.GetLeftoverItems(displayName, kind, list, onlyExisting);
            Check(result == (result < 0 ? result : list.Count()), "GetLeftoverItems count");
            Check(result >= 0 || list.Empty(), "GetLeftoverItems list");
            Check(result != -3 || kind >= 4, "GetLeftoverItems -3");
        }
    }
    platform::TStringList info, keys, values;
    const int32_t result = database.GetSoftInfo(displayName, info, keys, values);
    Check(result == -1 || result == 0 || result == 11, "GetSoftInfo result");
    Check(keys.Count() == values.Count(), "GetSoftInfo probes");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MakeMachine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const size_t rest = size - 2;
    const size_t split = (static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8) % (rest + 1);
    const auto* bytes = reinterpret_cast<const char*>(data + 2);
    TUFileOp database =
        TUFileOp::FromContents(std::string(bytes, split), std::string(bytes + split, rest - split));

    database.GetDataVersion(0);
    database.GetDataVersion(1);
    database.GetSoftDataVersion(0);
    database.GetSoftDataVersion(1);
    for (uint16_t category = 0; category <= 11; ++category)
        database.CountSoftwareByCategory(category);
    platform::TStringList names;
    const int32_t count = database.ListSoftwareByCategory(names, 0);
    Check(count == names.Count(), "ListSoftwareByCategory count");
    platform::TStringList inCategory;
    database.ListSoftwareByCategory(inCategory, 1);
    Check(inCategory.Count() <= count, "ListSoftwareByCategory category");

    for (int i = 0; i < names.Count() && i < 8; ++i)
        Ask(database, names[i]);
    // Display names and templates made of the input itself.
    const std::string tail(bytes + rest - std::min<size_t>(rest, 48), std::min<size_t>(rest, 48));
    Ask(database, tail);
    for (uint16_t kind = 0; kind <= 4; ++kind)
        database.ItemExists(database.ExpandPathTemplate(tail, kind), kind);
    return 0;
}
