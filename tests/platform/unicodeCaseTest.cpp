#include "platform/unicodeCase.h"

#include "platform/fileSystem.h"
#include "platform/registry.h"
#include "platform/wineHive.h"
#include "support/tempMachine.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

// Names that Wine holds for one name: pairs of capital and small letters of many scripts.
struct TSameName {
    const char* Script;
    const char* Capital;
    const char* Small;
};
constexpr TSameName SameNames[] = {
    {"Latin Extended-B", "\u0243", "\u0180"},
    {"Latin Extended-B digraph", "\u01C4", "\u01C6"},
    {"Latin Extended-B title case", "\u01C5", "\u01C6"},
    {"Armenian", "\u0531", "\u0561"},
    {"Georgian Mtavruli", "\u1C90", "\u10D0"},
    {"Georgian Asomtavruli", "\u10A0", "\u2D00"},
    {"Vietnamese", "\u1EC6", "\u1EC7"},
    {"Fullwidth", "\uFF21", "\uFF41"},
    {"Cyrillic Extended-B", "\uA640", "\uA641"},
    {"Greek", "\u03A3", "\u03C3"},
    {"Kelvin sign", "\u212A", "k"},
    {"Latin Extended-A", "\u0130", "i"},
};

TEST(UnicodeCase, NamesOfEveryScriptMatchWithoutRegardToCase) {
    for (const TSameName& pair : SameNames)
        EXPECT_EQ(WineCaseKey(pair.Capital), WineCaseKey(pair.Small)) << pair.Script;
    // Letters that only look alike stay apart, and so do the halves of a pair outside the basic plane,
    // which Wine does not map.
    EXPECT_NE(WineCaseKey("\u017F"), WineCaseKey("s"));              // long s
    EXPECT_NE(WineCaseKey("\u03C2"), WineCaseKey("\u03C3"));         // final sigma
    EXPECT_NE(WineCaseKey("\U00010400"), WineCaseKey("\U00010428")); // Deseret
    // Bytes that are not UTF-8 are themselves: two different ones never meet.
    EXPECT_NE(WineCaseKey("a\xff"), WineCaseKey("a\xfe"));
    EXPECT_NE(WineCaseKey("\xed\xa0\x80"), WineCaseKey("\xed\xa0\x81"));
    EXPECT_EQ(WineCaseKey("MiXeD_09"), "mixed_09");
}

TEST(UnicodeCase, OrdersAsWineOrdersSiblings) {
    // Folded to small letters ("_" before letters), by UTF-16 units: a name outside the basic plane (a
    // surrogate pair, D800 and above) before the fullwidth forms (FF00 and above), a shorter name first.
    const char* ordered[] = {"_underscore", "alpha",      "Child",  "Child10", "child2Lower",
                             "Child9",      "GB_2312-80", "GBK",    "Zeta",    "\u00C9mile",
                             "\u0531",      "\U0001F600", "\uFF21", "\uFF21a"};
    for (size_t i = 1; i < std::size(ordered); ++i)
        EXPECT_LT(WineCaseKey(ordered[i - 1]), WineCaseKey(ordered[i]))
            << ordered[i - 1] << " < " << ordered[i];
}

// A user.reg as Wine writes it, its keys in Wine's order (\x escapes for UTF-16 units from 0x80).
constexpr const char* ScriptsHive = "WINE REGISTRY Version 2\n"
                                    ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
                                    "\n"
                                    "#arch=win64\n"
                                    "\n"
                                    "[Software\\\\Scripts\\\\\\x243] 1796892493\n"
                                    "#time=1dd8882fc78689c\n"
                                    "\"\\x1c4\"=\"digraph\"\n"
                                    "\"\\x531\"=\"armenian\"\n"
                                    "\n"
                                    "[Software\\\\Scripts\\\\\\x1c4] 1796892493\n"
                                    "#time=1dd8882fc78689c\n"
                                    "\n"
                                    "[Software\\\\Scripts\\\\\\x531] 1796892493\n"
                                    "#time=1dd8882fc78689c\n"
                                    "\n"
                                    "[Software\\\\Scripts\\\\\\x10d0] 1796892493\n"
                                    "#time=1dd8882fc78689c\n"
                                    "\n"
                                    "[Software\\\\Scripts\\\\\\x1ec6] 1796892493\n"
                                    "#time=1dd8882fc78689c\n"
                                    "\n"
                                    "[Software\\\\Scripts\\\\\\xd801\\xdc00] 1796892493\n"
                                    "#time=1dd8882fc78689c\n"
                                    "\n"
                                    "[Software\\\\Scripts\\\\\\xd801\\xdc28] 1796892493\n"
                                    "#time=1dd8882fc78689c\n"
                                    "\n"
                                    "[Software\\\\Scripts\\\\\\xff21] 1796892493\n"
                                    "#time=1dd8882fc78689c\n";

TEST(UnicodeCase, AHiveFromWineIsFoundInAnyCaseAndChangedInWinesOrder) {
    TTempMachine machine;
    machine.WriteRegistryFile("user.reg", ScriptsHive);
    auto hive = THive::Parse(ScriptsHive);
    ASSERT_TRUE(hive->Complete()) << hive->Problem();
    EXPECT_EQ(hive->Text(), ScriptsHive);

    // Found under the other case of each name, through the registry accessor.
    TRegistry registry;
    registry.SetRootKey(HKEY_CURRENT_USER);
    for (const char* key : {"\u0180", "\u01C6", "\u01C5", "\u0561", "\u1C90", "\u1EC7", "\uFF41"})
        EXPECT_TRUE(registry.KeyExists(std::string("\\Software\\Scripts\\") + key)) << key;
    ASSERT_TRUE(registry.OpenKey("\\Software\\Scripts\\\u0180", false));
    EXPECT_EQ(registry.ReadString("\u01C6"), "digraph");
    EXPECT_EQ(registry.ReadString("\u0561"), "armenian");
    registry.CloseKey();

    // Opening with creation under another case creates no second key; new names go to Wine's places.
    ASSERT_TRUE(registry.OpenKey("\\Software\\Scripts\\\u1EC7", true));
    ASSERT_TRUE(registry.OpenKey("\\Software\\Scripts\\\u0586", true));     // Armenian small feh
    ASSERT_TRUE(registry.OpenKey("\\Software\\Scripts\\\U0001F600", true)); // outside the basic plane
    TStringList names;
    registry.OpenKey("\\Software\\Scripts", false);
    registry.GetKeyNames(names);
    EXPECT_EQ(names, (TStringList{"\u0243", "\u01C4", "\u0531", "\u0586", "\u10D0", "\u1EC6", "\U00010400",
                                  "\U00010428", "\U0001F600", "\uFF21"}));
    std::string saved;
    ASSERT_TRUE(ReadWholeFile("Z:" + (machine.Prefix() / "user.reg").string(), saved));
    const size_t feh = saved.find("Scripts\\\\\\x586]");
    const size_t smile = saved.find("Scripts\\\\\\xd83d\\xde00]");
    ASSERT_NE(feh, std::string::npos);
    ASSERT_NE(smile, std::string::npos);
    EXPECT_LT(saved.find("Scripts\\\\\\x531]"), feh);
    EXPECT_LT(feh, saved.find("Scripts\\\\\\x10d0]"));
    EXPECT_LT(saved.find("Scripts\\\\\\xd801\\xdc28]"), smile);
    EXPECT_LT(smile, saved.find("Scripts\\\\\\xff21]"));
}

TEST(UnicodeCase, APathInAnotherCaseOfAnyScriptIsFound) {
    TTempMachine machine;
    machine.WriteFile("C:\\Program Files\\\u0531\u0580\u0561\u0574\\\uFF21\u1EC6.txt", "x");
    EXPECT_TRUE(FileExists("C:\\program files\\\u0561\u0580\u0561\u0574\\\uFF41\u1EC7.TXT"));
}

} // namespace
