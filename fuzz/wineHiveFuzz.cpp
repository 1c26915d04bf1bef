// Registry files come from other programs and from people's hands: whatever the text, the reader must not
// fail, its verdict must not hang on which values are read first, a file it understood must come back byte
// for byte, and a changed tree must be read back as complete.
#include "fuzzSupport.h"
#include "platform/wineHive.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Reads each key's values, the last key first: the opposite of the order of the file.
void ReadBackwards(const platform::THiveKey& key) {
    for (auto it = key.Children().rbegin(); it != key.Children().rend(); ++it)
        ReadBackwards(**it);
    static_cast<void>(key.Values());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    auto hive = platform::THive::Parse(text);
    // Values are read when first used: whatever is read first, the verdict is the file's.
    auto readFirst = platform::THive::Parse(text);
    ReadBackwards(readFirst->Root());
    Check(readFirst->Problem() == hive->Problem() && readFirst->Complete() == hive->Complete(),
          "the verdict after values read out of order");
    if (!hive->Complete())
        return 0;
    if (hive->Text() != text)
        std::abort();

    // Change the first key found and its first value, then read the result again.
    platform::THiveKey* key = &hive->Root();
    while (!key->Children().empty() && key->Values().empty())
        key = key->Children().front();
    if (key == &hive->Root())
        return 0;
    if (!key->Values().empty())
        hive->DeleteValue(*key, std::string(key->Values().front().Name()), 0x1dd8882fc78689cULL);
    hive->SetValue(*key, "Fuzz\xc3\xa9\"\\", 1, std::string("a\0\0\0", 4), 0x1dd8882fc78689cULL);
    hive->CreateKey(*key, "New [key]", 0x1dd8882fc78689cULL);
    auto again = platform::THive::Parse(hive->Text());
    if (!again->Complete())
        std::abort();
    return 0;
}
