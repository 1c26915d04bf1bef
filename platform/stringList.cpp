#include "platform/stringList.h"

#include "platform/sysUtils.h"

#include <algorithm>

namespace platform {

int TStringList::Add(const std::string& line) {
    FLines.push_back(line);
    return Count() - 1;
}

int TStringList::Add(std::string&& line) {
    FLines.push_back(std::move(line));
    return Count() - 1;
}

void TStringList::Insert(int index, const std::string& line) {
    FLines.insert(FLines.begin() + std::clamp(index, 0, Count()), line);
}

void TStringList::Delete(int index) {
    if (index >= 0 && index < Count())
        FLines.erase(FLines.begin() + index);
}

int TStringList::IndexOf(const std::string& line) const {
    for (int i = 0; i < Count(); ++i)
        if (SameText(FLines[static_cast<size_t>(i)], line))
            return i;
    return -1;
}

void TStringList::Sort() {
    std::stable_sort(FLines.begin(), FLines.end(),
                     [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
}

std::string TStringList::Text() const {
    std::string text;
    for (const auto& line : FLines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void TStringList::SetText(const std::string& text) {
    FLines.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            FLines.push_back(text.substr(start));
            break;
        }
        FLines.push_back(text.substr(start, end - start));
        start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
}

std::string TStringList::Values(const std::string& name) const {
    for (const auto& line : FLines) {
        size_t equals = line.find('=');
        if (equals != std::string::npos && SameText(line.substr(0, equals), name))
            return line.substr(equals + 1);
    }
    return {};
}

} // namespace platform
