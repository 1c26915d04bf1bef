#pragma once

#include <string>
#include <vector>

namespace platform {

// The class library's string list: an ordered list of text lines. IndexOf and Sort compare without regard to
// ASCII letter case, as the class library's default list does; Text joins the lines with CR LF after each.
class TStringList {
public:
    TStringList() = default;
    TStringList(std::initializer_list<std::string> lines) : FLines(lines) {}

    int Add(const std::string& line);
    int Add(std::string&& line);
    void Insert(int index, const std::string& line);
    void Delete(int index);
    void Clear() { FLines.clear(); }
    int Count() const { return static_cast<int>(FLines.size()); }
    bool Empty() const { return FLines.empty(); }

    const std::string& operator[](int index) const { return FLines.at(static_cast<size_t>(index)); }
    std::string& operator[](int index) { return FLines.at(static_cast<size_t>(index)); }

    // The first line equal to Line ignoring ASCII case, or -1.
    int IndexOf(const std::string& line) const;
    // Stable sort ignoring ASCII case.
    void Sort();

    // Every line followed by CR LF.
    std::string Text() const;
    // Replaces the lines by those of Text, split at CR LF, LF or CR.
    void SetText(const std::string& text);

    // For "name=value" lines: the value of the first line whose name equals Name ignoring ASCII case.
    std::string Values(const std::string& name) const;

    const std::vector<std::string>& Lines() const { return FLines; }
    auto begin() const { return FLines.begin(); }
    auto end() const { return FLines.end(); }

    bool operator==(const TStringList&) const = default;

private:
    std::vector<std::string> FLines;
};

} // namespace platform
