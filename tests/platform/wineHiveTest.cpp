#include "platform/wineHive.h"

#include "support/hiveBuilder.h"
#include "testData.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>

using namespace platform;

namespace {

std::string ReadFixture(const std::string& relative) {
    std::ifstream in(std::string(KORVANE_TEST_DATA_DIR) + "/wine-prefix/" + relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Bytes(std::initializer_list<int> bytes) {
    std::string data;
    for (int b : bytes)
        data += static_cast<char>(b);
    return data;
}

// UTF-16LE with the terminator, as a string value stores it.
std::string Utf16(const std::u16string& units) {
    std::string data;
    for (char16_t unit : units) {
        data += static_cast<char>(unit & 0xff);
        data += static_cast<char>(unit >> 8);
    }
    return data + std::string(2, '\0');
}

THiveKey* FindPath(THive& hive, const std::string& path) {
    THiveKey* key = &hive.Root();
    size_t start = 0;
    while (key != nullptr && start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        key = key->FindChild(path.substr(start, end - start));
        start = end + 1;
    }
    return key;
}

// Every key and value of a hive as lines, to compare whole trees.
void Dump(const THiveKey& key, const std::string& path, std::vector<std::string>& lines) {
    lines.push_back("[" + path + "]" + (key.IsLink() ? " link" : ""));
    for (const THiveValue& value : key.Values())
        lines.push_back(path + "|" + std::string(value.Name()) + "|" + std::to_string(value.Type()) + "|" +
                        value.Data());
    for (const auto& child : key.Children())
        Dump(*child, path.empty() ? std::string(child->Name()) : path + "\\" + std::string(child->Name()),
             lines);
}

std::vector<std::string> Dump(const THive& hive) {
    std::vector<std::string> lines;
    Dump(hive.Root(), "", lines);
    return lines;
}

const std::string AcmeTool = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\AcmeTool";
const std::string EdgeCases = "Software\\AcmeCorp\\EdgeCases";
const std::string TypeTest = "Software\\AcmeCorp\\TypeTest";

class FixtureRoundTrip : public testing::TestWithParam<const char*> {};

TEST_P(FixtureRoundTrip, ParsesCompletelyAndWritesBackByteIdentical) {
    std::string text = ReadFixture(GetParam());
    ASSERT_FALSE(text.empty());
    auto hive = THive::Parse(text);
    EXPECT_TRUE(hive->Complete()) << hive->Problem();
    EXPECT_EQ(hive->Text(), text);
}

INSTANTIATE_TEST_SUITE_P(BothPrefixes, FixtureRoundTrip,
                         testing::Values("win64/system.reg", "win64/user.reg", "win64/userdef.reg",
                                         "win32/system.reg", "win32/user.reg", "win32/userdef.reg"));

TEST(WineHive, RewritingEveryValueInCanonicalFormReproducesWinesFile) {
    // Setting every value again with its own data and its key's own time makes every block with values be
    // written by our writer: the result must be Wine's own text, escapes, hex wrapping and time lines
    // included.
    for (const char* name : {"win64/system.reg", "win64/user.reg", "win32/system.reg"}) {
        std::string text = ReadFixture(name);
        auto hive = THive::Parse(text);
        std::function<void(THiveKey&)> rewrite = [&](THiveKey& key) {
            std::vector<THiveValue> values = key.Values();
            for (const THiveValue& value : values)
                hive->SetValue(key, std::string(value.Name()), value.Type(), value.Data(), key.Time());
            for (const auto& child : key.Children())
                rewrite(*child);
        };
        rewrite(hive->Root());
        EXPECT_EQ(hive->Text(), text) << name;
    }
}

TEST(WineHive, PlainTextIsTheDecodedTextOfEveryPlainStringAndAnswersNothingElse) {
    // Every value of the fixtures: where PlainText answers, it gives the text that the data decodes to. The
    // small hive after them shows which values it answers: quoted strings without escapes, none that was set.
    size_t answered = 0;
    for (const char* name : {"win64/system.reg", "win64/user.reg", "win32/system.reg"}) {
        auto hive = THive::Parse(ReadFixture(name));
        std::function<void(const THiveKey&)> check = [&](const THiveKey& key) {
            for (const THiveValue& value : key.Values()) {
                std::string text;
                if (!value.PlainText(text))
                    continue;
                ++answered;
                std::string data = value.Data();
                ASSERT_GE(data.size(), 2u) << value.Name();
                EXPECT_EQ(text, Utf16LeToUtf8(std::string_view(data).substr(0, data.size() - 2)))
                    << key.Name() << " " << value.Name();
            }
            for (const THiveKey* child : key.Children())
                check(*child);
        };
        check(hive->Root());
    }
    EXPECT_GT(answered, 1000u);

    auto hive =
        THive::Parse("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
                     "[K] 1796892405\n"
                     "\"A\"=\"plain\"\n\"B\"=str(2):\"%x%\"\n\"C\"=str:\"y\"\n@=\"d\"\n"
                     "\"E\"=\"a\\\\b\"\n\"F\"=\"\xc3\xa9\"\n\"G\"=dword:00000001\n\"H\\\"q\"=\"h\"\n");
    ASSERT_TRUE(hive->Complete()) << hive->Problem();
    THiveKey& key = *hive->Root().FindChild("K");
    const std::pair<const char*, const char*> expected[] = {
        {"A", "plain"}, {"B", "%x%"},   {"C", "y"},     {"", "d"},
        {"E", nullptr}, {"F", nullptr}, {"G", nullptr}, {"H\"q", "h"},
    };
    for (const auto& [valueName, text] : expected) {
        std::string got;
        const THiveValue* value = key.FindValue(valueName);
        ASSERT_NE(value, nullptr) << valueName;
        EXPECT_EQ(value->PlainText(got), text != nullptr) << valueName;
        if (text != nullptr) {
            EXPECT_EQ(got, text) << valueName;
        }
    }
    hive->SetValue(key, "A", 1, Utf16(u"set"));
    std::string got;
    EXPECT_FALSE(key.FindValue("A")->PlainText(got));
}

TEST(WineHive, DecodesEveryKindOfValue) {
    auto hive = THive::Parse(ReadFixture("win64/system.reg"));
    struct TCase {
        std::string Key, Name;
        uint32_t Type;
        std::string Data;
    } cases[] = {
        {EdgeCases, "", 4, Bytes({0x2a, 0, 0, 0})},
        {EdgeCases, "DwordBigEndian", 5, Bytes({1, 2, 3, 4})},
        {EdgeCases, "DwordShort", 4, Bytes({1, 2})},
        {EdgeCases, "ExpandNoTerminator", 2, Utf16(u"%A%")},
        {EdgeCases, "MultiNoDoubleNul", 7, Utf16(std::u16string(u"a\0b", 3))},
        {EdgeCases, "MultiEmptyString", 7, Utf16(std::u16string(1, u'\0'))},
        {EdgeCases, "QwordShort", 11, Bytes({1})},
        {EdgeCases, "SzControlChars", 1, Utf16(u"l\n\r\x01\x1f\x7f\a\b\f\v")},
        {EdgeCases, "SzEmbeddedNul", 1, Utf16(std::u16string(u"A\0B", 3))},
        {EdgeCases, "SzHexDigitAfterEscape", 1, Utf16(u"\u00e9a1")},
        {EdgeCases, "SzOddLength", 1, Bytes({0x41, 0, 0, 0, 0})},
        {EdgeCases, "SzOnlyNul", 1, Utf16(u"")},
        {EdgeCases, "SzWithBackslashX", 1, Utf16(u"literal \\x41 not an escape")},
        {EdgeCases, "SzZeroBytes", 1, ""},
        {EdgeCases, "UnknownType", 0x100, Bytes({1, 2, 3})},
        {TypeTest, "Binary", 3, Bytes({0xde, 0xad, 0xbe, 0xef, 0, 0xff})},
        {TypeTest, "BinaryEmpty", 3, ""},
        {TypeTest, "Dword", 4, Bytes({0x78, 0x56, 0x34, 0x12})},
        {TypeTest, "MultiSz", 7,
         Utf16(std::u16string(u"first\0second with space\0M\u00fcller Caf\u00e9\0", 36))},
        {TypeTest, "MultiSzEmpty", 7, Utf16(u"")},
        {TypeTest, "None", 0, Bytes({0x61, 0, 0x62, 0, 0x63, 0, 0, 0})},
        {TypeTest, "Qword", 11, Bytes({8, 7, 6, 5, 4, 3, 2, 1})},
        {TypeTest, "Value \"with\" quotes\\and\\backslashes=eq", 1, Utf16(u"odd value name")},
        {TypeTest, "C:\\Program Files\\AcmeCorp\\AcmeTool\\acme.exe", 1,
         Utf16(u"path as value name (like SharedDLLs / AppCompat Layers)")},
        {AcmeTool, "Publisher", 1, Utf16(u"M\u00fcller Caf\u00e9 GmbH")},
        {AcmeTool, "NonBmp", 1, Utf16(u"emoji[\U0001F600] euro[\u20ac] cjk[\u4e2d]")},
        {AcmeTool, "Comments", 1,
         Utf16(u"tab[\t] quote[\"] backslash[\\] equals[=] semicolon[;] brackets[[]] at[@] hash[#]")},
        {AcmeTool, "TrailingBackslash", 1, Utf16(u"C:\\Temp\\")},
    };
    for (const TCase& c : cases) {
        THiveKey* key = FindPath(*hive, c.Key);
        ASSERT_NE(key, nullptr) << c.Key;
        const THiveValue* value = key->FindValue(c.Name);
        ASSERT_NE(value, nullptr) << c.Name;
        EXPECT_EQ(value->Type(), c.Type) << c.Name;
        EXPECT_EQ(value->Data(), c.Data) << c.Name;
    }
    std::string longData = FindPath(*hive, TypeTest)->FindValue("BinaryLong")->Data();
    ASSERT_EQ(longData.size(), 100u);
    for (size_t i = 0; i < longData.size(); ++i)
        EXPECT_EQ(static_cast<unsigned char>(longData[i]), i);
    EXPECT_EQ(Utf16LeToUtf8(FindPath(*hive, AcmeTool)->FindValue("NonBmp")->Data()),
              std::string("emoji[\U0001F600] euro[\u20ac] cjk[\u4e2d]") + std::string(1, '\0'));
}

TEST(WineHive, KeepsNamesOrderAndLinks) {
    auto hive = THive::Parse(ReadFixture("win64/system.reg"));
    std::vector<std::string> children;
    for (const auto& child : FindPath(*hive, EdgeCases)->Children())
        children.emplace_back(child->Name());
    EXPECT_EQ(children, (std::vector<std::string>{"_underscore", "alpha", "Child", "Child10", "child2Lower",
                                                  "Child9", "Zeta", "\u00c9mile"}));
    EXPECT_NE(FindPath(*hive, "SOFTWARE\\acmecorp\\EDGECASES\\\u00e9MILE"), nullptr);
    THiveKey* odd =
        FindPath(*hive, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Acme Tool [x86] /slash/ "
                        "\"quoted\" M\u00fcller=\u00df");
    ASSERT_NE(odd, nullptr);
    EXPECT_NE(odd->FindValue("displayname"), nullptr);
    THiveKey* link = FindPath(*hive, "Software\\Wow6432Node\\Classes");
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->IsLink());
    EXPECT_EQ(link->LinkTarget(), "\\Registry\\Machine\\Software\\Classes\\Wow6432Node");
    // A key that only has subkeys exists through them.
    EXPECT_NE(FindPath(*hive, "Software\\AcmeCorp"), nullptr);
}

TEST(WineHive, DeletingAKeyAndAValueChangesOnlyTheirLines) {
    const std::string original = ReadFixture("win64/system.reg");
    auto hive = THive::Parse(original);
    const uint64_t time = 0x1dd8882fc78689cULL; // 1796892405 in Unix seconds

    ASSERT_TRUE(hive->DeleteKey(*FindPath(*hive, "Software\\AcmeCorp\\AcmeTool\\Settings"), time));
    ASSERT_TRUE(hive->DeleteValue(*FindPath(*hive, AcmeTool), "comments", time));

    std::string expected = original;
    const std::string settingsBlock = "\n[Software\\\\AcmeCorp\\\\AcmeTool\\\\Settings] 1796892326\n"
                                      "#time=1dd8882cd576de2\n\"Level\"=dword:00000003\n";
    size_t at = expected.find(settingsBlock);
    ASSERT_NE(at, std::string::npos);
    expected.erase(at, settingsBlock.size());
    const std::string oldHead =
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\AcmeTool] "
        "1796892324\n#time=1dd8882cc63eabe\n";
    at = expected.find(oldHead);
    ASSERT_NE(at, std::string::npos);
    expected.replace(at, oldHead.size(),
                     "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\AcmeTool] "
                     "1796892405\n#time=1dd8882fc78689c\n");
    const std::string comments = "\"Comments\"=\"tab[\\t] quote[\\\"] backslash[\\\\] equals[=] semicolon[;] "
                                 "brackets[[]] at[@] hash[#]\"\n";
    at = expected.find(comments, at);
    ASSERT_NE(at, std::string::npos);
    expected.erase(at, comments.size());

    std::string written = hive->Text();
    EXPECT_EQ(written, expected);

    // Everything else is intact when the result is read again.
    auto reread = THive::Parse(written);
    EXPECT_TRUE(reread->Complete()) << reread->Problem();
    std::vector<std::string> before = Dump(*THive::Parse(original));
    std::erase_if(before, [](const std::string& line) {
        return line.find("AcmeTool\\Settings") != std::string::npos ||
               line.rfind("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\AcmeTool|Comments|", 0) ==
                   0;
    });
    EXPECT_EQ(Dump(*reread), before);
}

TEST(WineHive, NewKeysAndValuesGoToTheirSortedPlaceInWinesForm) {
    THiveBuilder builder(THiveBuilder::System);
    builder.Key("Software\\Acme\\alpha").String("A", "1");
    builder.Key("Software\\Acme\\Child").String("", "d").String("b", "2").String("D", "4");
    auto hive = THive::Parse(builder.Text());
    const uint64_t time = 0x1dd8882fc78689cULL;

    THiveKey& acme = *FindPath(*hive, "Software\\Acme");
    THiveKey& beta = hive->CreateKey(acme, "Beta", time);
    EXPECT_EQ(&hive->CreateKey(acme, "BETA", time), &beta); // the first spelling stays
    hive->SetValue(*FindPath(*hive, "Software\\Acme\\Child"), "c", 4, Bytes({1, 0, 0, 0}), time);
    hive->SetValue(*FindPath(*hive, "Software\\Acme\\Child"), "A", 3, Bytes({0xff}), time);
    THiveKey& deep = hive->CreateKey(hive->CreateKey(acme, "_new", time), "Leaf", time);
    hive->SetValue(deep, "Text", 1, Utf16(u"M\u00fcller \"q\""), time);

    std::vector<std::string> order;
    for (const auto& child : acme.Children())
        order.emplace_back(child->Name());
    EXPECT_EQ(order, (std::vector<std::string>{"_new", "alpha", "Beta", "Child"}));

    EXPECT_EQ(hive->Text(), "WINE REGISTRY Version 2\n"
                            ";; All keys relative to REGISTRY\\\\Machine\n"
                            "\n"
                            "#arch=win64\n"
                            "\n"
                            "[Software\\\\Acme\\\\_new\\\\Leaf] 1796892405\n"
                            "#time=1dd8882fc78689c\n"
                            "\"Text\"=\"M\\xfcller \\\"q\\\"\"\n"
                            "\n"
                            "[Software\\\\Acme\\\\alpha] 1796892292\n"
                            "#time=1dd8882b93480fc\n"
                            "\"A\"=\"1\"\n"
                            "\n"
                            "[Software\\\\Acme\\\\Beta] 1796892405\n"
                            "#time=1dd8882fc78689c\n"
                            "\n"
                            "[Software\\\\Acme\\\\Child] 1796892405\n"
                            "#time=1dd8882fc78689c\n"
                            "@=\"d\"\n"
                            "\"A\"=hex:ff\n"
                            "\"b\"=\"2\"\n"
                            "\"c\"=dword:00000001\n"
                            "\"D\"=\"4\"\n");
}

TEST(WineHive, DeletingTheOnlySubkeyOfAKeyWithoutValuesLeavesTheKeyAsABlock) {
    THiveBuilder builder(THiveBuilder::System);
    builder.Key("Software\\Acme\\Only").String("x", "y");
    builder.Key("Software\\Other").String("z", "1");
    const std::string original = builder.Text();
    ASSERT_EQ(original.find("[Software\\\\Acme]"), std::string::npos);
    auto hive = THive::Parse(original);
    ASSERT_TRUE(hive->DeleteKey(*FindPath(*hive, "Software\\Acme\\Only"), 0x1dd8882fc78689cULL));

    std::string written = hive->Text();
    EXPECT_NE(written.find("\n[Software\\\\Acme] 1796892405\n#time=1dd8882fc78689c\n\n[Software\\\\Other]"),
              std::string::npos)
        << written;
    auto reread = THive::Parse(written);
    ASSERT_NE(FindPath(*reread, "Software\\Acme"), nullptr);
    EXPECT_TRUE(FindPath(*reread, "Software\\Acme")->Children().empty());
    EXPECT_EQ(written.find("[Software]"), std::string::npos); // still exists through its subkeys only

    // Deleting the last blocks of the file leaves no empty line at its end.
    ASSERT_TRUE(reread->DeleteKey(*FindPath(*reread, "Software\\Other"), 0x1dd8882fc78689cULL));
    ASSERT_TRUE(reread->DeleteKey(*FindPath(*reread, "Software\\Acme"), 0x1dd8882fc78689cULL));
    EXPECT_EQ(reread->Text(),
              "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n"
              "\n[Software] 1796892405\n#time=1dd8882fc78689c\n");
}

TEST(WineHive, ReadsWhatWinesReaderAccepts) {
    struct TCase {
        const char* Line;
        uint32_t Type;
        std::string Data;
    } cases[] = {
        {"\"v\"=\"\\q\\%\"", 1, Utf16(u"q%")},
        {"\"v\"=\"\\x41\\x4e2d\\x00e9a\"", 1, Utf16(u"A\u4e2d\u00e9a")},
        {"\"v\"=\"\\101\\0012\\7\"", 1,
         Utf16(u"A\x01"
               u"2\a")},
        {"\"v\"=dword:1", 4, Bytes({1, 0, 0, 0})},
        {"\"v\"=str:\"plain\"", 1, Utf16(u"plain")},
        {"\"v\"=hex(2):41,00,\\\n   42,00", 2, Bytes({0x41, 0, 0x42, 0})},
        {"\"v\"=hex:1,a", 3, Bytes({1, 10})},
        {"@=\"\"", 1, Utf16(u"")},
    };
    for (const TCase& c : cases) {
        std::string text = "WINE REGISTRY Version 2\n\n[K]\n" + std::string(c.Line) + "\n";
        auto hive = THive::Parse(text);
        EXPECT_TRUE(hive->Complete()) << c.Line << ": " << hive->Problem();
        const THiveValue* value = hive->Root().FindChild("K")->Values().empty()
                                      ? nullptr
                                      : &hive->Root().FindChild("K")->Values().front();
        ASSERT_NE(value, nullptr) << c.Line;
        EXPECT_EQ(value->Type(), c.Type) << c.Line;
        EXPECT_EQ(value->Data(), c.Data) << c.Line;
        EXPECT_EQ(hive->Text(), text);
    }
    // Hand-written keys without times, CR LF line ends and comments are understood and kept.
    std::string handWritten = "WINE REGISTRY Version 2\r\n; a comment\r\n\r\n[A\\\\B]\r\n\"x\"=\"1\"\r\n";
    auto hive = THive::Parse(handWritten);
    EXPECT_TRUE(hive->Complete()) << hive->Problem();
    EXPECT_NE(FindPath(*hive, "a\\b"), nullptr);
    EXPECT_EQ(hive->Text(), handWritten);
}

TEST(WineHive, AnythingNotUnderstoodMakesTheHiveIncompleteButReadable) {
    const std::string good =
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n"
        "[Software\\\\Good] 1796892292\n#time=1dd8882b93480fc\n\"V\"=\"ok\"\n";
    struct TCase {
        const char* What;
        std::string Text;
        bool GoodReadable;
    } cases[] = {
        {"empty file", "", false},
        {"no signature", "REGEDIT4\n\n[Software\\\\Good]\n\"V\"=\"ok\"\n", false},
        {"unknown line", good + "garbage\n", true},
        {"unknown option", good + "#flags=1\n", true},
        {"key line without bracket", good + "\n[Software\\\\Bad\n\"W\"=\"x\"\n", true},
        {"text after the time", good + "\n[Software\\\\Bad] 12 x\n", true},
        {"unterminated string", good + "\"W\"=\"open\n", true},
        {"bad dword", good + "\"W\"=dword:xyz\n", true},
        {"too long dword", good + "\"W\"=dword:123456789\n", true},
        {"junk after value", good + "\"W\"=\"x\" y\n", true},
        {"unknown data form", good + "\"W\"=qword:1\n", true},
        {"bad hex", good + "\"W\"=hex:0g\n", true},
        {"truncated continuation", good + "\"W\"=hex:01,02,\\", true},
        {"value outside a key", "WINE REGISTRY Version 2\n\"W\"=\"x\"\n" + good.substr(24), true},
        {"duplicate block", good + "\n[Software\\\\Good]\n\"W\"=\"x\"\n", true},
        {"duplicate value", good + "\"v\"=\"again\"\n", true},
        {"blocks out of tree order", good + "\n[Software]\n\"W\"=\"x\"\n", true},
        {"backslash escaped in a name", good + "\n[Software\\\\A\\x005cB]\n", true},
    };
    for (const TCase& c : cases) {
        auto hive = THive::Parse(c.Text);
        EXPECT_FALSE(hive->Complete()) << c.What;
        EXPECT_FALSE(hive->Problem().empty()) << c.What;
        THiveKey* key = FindPath(*hive, "Software\\Good");
        if (c.GoodReadable) {
            ASSERT_NE(key, nullptr) << c.What;
            EXPECT_EQ(key->FindValue("V")->Data(), Utf16(u"ok")) << c.What;
        }
    }
}

// Loading steps over the value lines, which are read when their key's values are first used: whatever is
// read first, the verdict is the file's first problem, with its line, and a hex value continued over lines
// keeps its lines even when one looks like a key line.
TEST(WineHive, ProblemsInValuesReadLaterAreStillTheFilesFirstProblem) {
    const std::string head = "WINE REGISTRY Version 2\n#arch=win64\n\n[A] 1\n\"x\"=hex:01,\\\n  02\n";
    struct TCase {
        const char* What;
        std::string Text;
        std::string Problem;
    } cases[] = {
        {"a value before an option", head + "\"y\"=dword:xyz\n\n[B] 1\n#flags=1\n",
         "line 7: value line not understood"},
        {"an option after a continued value", head + "\"y\"=dword:1\n\n[B] 1\n#flags=1\n",
         "line 10: unknown option"},
        {"values of two blocks", head + "\"y\"=dword:xyz\n\n[B] 1\n\"z\"=hex:zz\n",
         "line 7: value line not understood"},
        {"a continuation that looks like a key line", head + "\"y\"=hex:01,\\\n[B] 1\n\"z\"=\"1\"\n",
         "line 8: value line not understood"},
        {"a value twice", head + "\"y\"=\"1\"\n\"Y\"=\"2\"\n", "line 8: a value appears twice in its key"},
        {"a value before blocks out of tree order", head + "\n[A\\\\b] 1\n\"y\"=dword:xyz\n[A\\\\a] 1\n",
         "line 9: value line not understood"},
    };
    // Each key's values read in reverse tree order, so that a later block's problem is found first.
    std::function<void(const THiveKey&)> readBackwards = [&](const THiveKey& key) {
        for (auto it = key.Children().rbegin(); it != key.Children().rend(); ++it)
            readBackwards(**it);
        static_cast<void>(key.Values());
    };
    for (const TCase& c : cases) {
        auto checkedFirst = THive::Parse(c.Text);
        EXPECT_FALSE(checkedFirst->Complete()) << c.What;
        EXPECT_EQ(checkedFirst->Problem(), c.Problem) << c.What;
        auto readFirst = THive::Parse(c.Text);
        readBackwards(readFirst->Root());
        EXPECT_EQ(readFirst->Problem(), c.Problem) << c.What;
        EXPECT_FALSE(readFirst->Complete()) << c.What;
        EXPECT_EQ(Dump(*readFirst), Dump(*checkedFirst)) << c.What;
    }
    auto continued = THive::Parse(cases[3].Text);
    EXPECT_EQ(FindPath(*continued, "B"), nullptr);
    EXPECT_EQ(FindPath(*continued, "A")->FindValue("z")->Data(), Utf16(u"1"));
}

// Wine writes siblings and values in folded order, and the reader leans on it; a file in another order
// (written by hand) must still read as the same keys and values and must still find its repetitions.
TEST(WineHive, ReadsSiblingsAndValuesOutOfWinesOrder) {
    const std::string head = "WINE REGISTRY Version 2\n#arch=win64\n";
    const std::string text = head + "\n[Software\\\\B] 1\n\"b\"=\"1\"\n\"a\"=\"2\"\n"
                                    "\n[Software\\\\Bc] 1\n"
                                    "\n[Software\\\\A] 1\n"
                                    "\n[Software\\\\A\\\\x] 1\n"
                                    "\n[Software\\\\a\\\\Y] 1\n";
    auto hive = THive::Parse(text);
    ASSERT_TRUE(hive->Complete()) << hive->Problem();
    EXPECT_EQ(hive->Text(), text);
    THiveKey* a = FindPath(*hive, "Software\\a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, FindPath(*hive, "Software\\A"));
    EXPECT_EQ(a->Children().size(), 2u);
    EXPECT_NE(FindPath(*hive, "Software\\a\\X"), nullptr);
    EXPECT_NE(FindPath(*hive, "Software\\bC"), nullptr);
    THiveKey* b = FindPath(*hive, "Software\\B");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->FindValue("A")->Data(), Utf16(u"2"));
    EXPECT_EQ(b->FindValue("B")->Data(), Utf16(u"1"));

    struct TCase {
        const char* What;
        std::string Text;
    } repeated[] = {
        {"a value again after one out of order", head + "[K] 1\n\"b\"=\"1\"\n\"a\"=\"2\"\n\"B\"=\"3\"\n"},
        {"a block again after one out of order", head + "[K\\\\b] 1\n[K\\\\a] 1\n[k\\\\B] 1\n"},
    };
    for (const TCase& c : repeated)
        EXPECT_FALSE(THive::Parse(c.Text)->Complete()) << c.What;
}

TEST(WineHive, EveryTruncationOfAFileParsesWithoutHarm) {
    std::string text = ReadFixture("win64/system.reg");
    text = text.substr(0, text.find("[Software\\\\Borland"));
    for (size_t length = 0; length <= text.size(); ++length) {
        auto hive = THive::Parse(text.substr(0, length));
        if (hive->Complete()) {
            EXPECT_EQ(hive->Text(), text.substr(0, length));
        }
    }
}

TEST(WineHive, ConvertsBetweenUtf8AndUtf16) {
    const std::string text = "M\u00fcller Caf\u00e9 \u4e2d\U0001F600";
    EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le(text)), text);
    EXPECT_EQ(Utf8ToUtf16Le("\U0001F600"), Bytes({0x3d, 0xd8, 0x00, 0xde}));
    EXPECT_EQ(Utf16LeToUtf8(Bytes({0x3d, 0xd8, 0x41, 0x00})), "\uFFFDA"); // a lone surrogate
    // ASCII text, and units that only look ASCII by one of their bytes; a trailing odd byte is no unit.
    EXPECT_EQ(Utf16LeToUtf8(Bytes({0x41, 0x00, 0x00, 0x00, 0x7a, 0x00, 0x42})), std::string("A\0z", 3));
    EXPECT_EQ(Utf16LeToUtf8(Bytes({0x41, 0x01, 0x80, 0x00})), "\u0141\u0080");
    EXPECT_EQ(Utf8ToUtf16Le("\xff"), Bytes({0xfd, 0xff}));
    EXPECT_EQ(FoldName("\u00c9MILE \u0130 \u0100\u0139\u0178 \u0414"),
              "\u00e9mile i \u0101\u013a\u00ff \u0434");
}

} // namespace
