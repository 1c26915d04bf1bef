#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Builds the text of one registry file in Wine's format ("WINE REGISTRY Version 2") from a readable
// description, for tests that need a prefix with registry keys:
//
//     THiveBuilder hive(THiveBuilder::System);
//     hive.Key("Software\\Acme").String("Path", "C:\\Acme").Dword("N", 1);
//     hive.Key("Software\\Wow6432Node\\Classes").Link("\\Registry\\Machine\\Software\\Classes\\Wow6432Node");
//     machine.WriteRegistryFile("system.reg", hive.Text());
//
// Key paths are relative to the file's root (System: HKLM, User: HKCU, UserDefault: HKU\.Default) and use
// single backslashes; text is UTF-8. The text comes out as Wine writes it: keys depth-first and siblings
// sorted without regard to case, values sorted the same way with the default value ("") first, a key with
// subkeys but no values left without a block of its own, and fixed time stamps. Calling Key again with a
// path already described continues that key.
class THiveBuilder {
public:
    enum TRoot { System, User, UserDefault };

    explicit THiveBuilder(TRoot root = System, bool win64 = true);

    // Selects (creating it in the description) the key that the following values go to.
    THiveBuilder& Key(const std::string& path);
    // Values of the selected key; "" names the default value. A later value of the same name replaces it.
    THiveBuilder& String(const std::string& name, const std::string& value);
    THiveBuilder& ExpandString(const std::string& name, const std::string& value);
    THiveBuilder& Dword(const std::string& name, uint32_t value);
    THiveBuilder& Qword(const std::string& name, uint64_t value);
    THiveBuilder& Binary(const std::string& name, const std::vector<uint8_t>& data);
    THiveBuilder& MultiString(const std::string& name, const std::vector<std::string>& strings);
    // Makes the selected key a registry link to an NT path such as \Registry\Machine\Software\Classes.
    THiveBuilder& Link(const std::string& targetNtPath);
    // Appends a line to the selected key's block exactly as given (for broken or unusual files).
    THiveBuilder& RawLine(const std::string& line);

    std::string Text() const;

private:
    struct TValue {
        std::string Name;
        std::string Line; // the whole line(s) after the name, starting with '='
    };
    struct TKey {
        std::vector<std::string> Path;
        bool IsLink = false;
        std::vector<TValue> Values;
        std::vector<std::string> RawLines;
    };
    THiveBuilder& SetValue(const std::string& name, std::string data);
    TKey& Current();

    TRoot FRoot;
    bool FWin64;
    std::vector<TKey> FKeys;
    size_t FCurrent = static_cast<size_t>(-1);
};

// A registry file's key blocks: the key path as written between the brackets and the block's lines, blank
// lines and time stamps left out, so that two files compare key by key.
std::map<std::string, std::vector<std::string>> HiveKeyBlocks(const std::string& text);
