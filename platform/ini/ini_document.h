#pragma once
// In-memory form of one INI file: "[section]" headers and "key=value" lines.
//
// Section names and keys are compared exactly (case-sensitive): the file is ours, and a
// case-folding rule for UTF-8 names would buy nothing but surprises.
//
// The text is kept line by line so that comments, blank lines and lines we do not understand
// survive a rewrite; a damaged file never stops the rest of it from being read.
//
// Values are stored after the first '=' verbatim (blanks included) except for three escapes
// that keep a value on one line: "\\" for a backslash, "\n" and "\r" for line breaks. Any other
// backslash is read literally, so hand-written values such as "C:\Music\" read back unchanged.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tralux::ini {

class IniDocument {
public:
    IniDocument() = default;

    // Never fails: lines that are neither a section header nor "key=value" are kept but ignored.
    static IniDocument Parse(std::string_view text);
    std::string Serialize() const;

    // The value of the first matching key in the first section (of that name) that has it.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Replaces that same line, or adds the key at the end of the section (creating the section at
    // the end of the file). False only when the section or key cannot be written as a line.
    bool Set(std::string_view section, std::string_view key, std::string_view value);
    // Removes every line of the key in every section of that name; true when something went.
    bool Remove(std::string_view section, std::string_view key);
    // Keys of a section in file order (first occurrence of each).
    std::vector<std::string> Keys(std::string_view section) const;

    static bool IsValidSection(std::string_view section);
    static bool IsValidKey(std::string_view key);
    static std::string EscapeValue(std::string_view value);
    static std::string UnescapeValue(std::string_view raw);

private:
    enum class Kind { Other, Section, Entry };
    struct Line {
        Kind kind = Kind::Other;
        std::string text;        // the line as read or written, without line break
        std::string name;        // section name (Section) or key (Entry)
        std::string value;       // unescaped value (Entry)
        std::string owner;       // section an entry belongs to
        bool inSection = false;  // false for entries before the first header
    };
    static Line ParseLine(std::string_view text);

    std::vector<Line> lines_;
};

}  // namespace tralux::ini
