#include "platform/ini/ini_document.h"

#include <algorithm>

namespace tralux::ini {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

IniDocument::Line IniDocument::ParseLine(std::string_view text) {
    Line line;
    line.text = std::string(text);
    std::string_view body = Trim(text);
    if (body.empty() || body.front() == ';' || body.front() == '#') return line;
    if (body.front() == '[') {
        const auto close = body.find(']');
        if (close == std::string_view::npos) return line;  // damaged header: ignore the line
        const auto name = Trim(body.substr(1, close - 1));
        if (name.empty()) return line;
        line.kind = Kind::Section;
        line.name = std::string(name);
        return line;
    }
    const auto eq = body.find('=');
    if (eq == std::string_view::npos) return line;
    const auto key = Trim(body.substr(0, eq));
    if (key.empty()) return line;
    line.kind = Kind::Entry;
    line.name = std::string(key);
    // The value is taken from the original text so that blanks after '=' are kept.
    const auto rawEq = text.find('=');
    line.value = UnescapeValue(text.substr(rawEq + 1));
    return line;
}

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument doc;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::string current;
    bool inSection = false;
    while (!text.empty()) {
        auto nl = text.find('\n');
        std::string_view raw = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        Line line = ParseLine(raw);
        if (line.kind == Kind::Section) {
            current = line.name;
            inSection = true;
        } else if (line.kind == Kind::Entry) {
            line.owner = current;
            line.inSection = inSection;
        }
        doc.lines_.push_back(std::move(line));
    }
    return doc;
}

std::string IniDocument::Serialize() const {
    std::string out;
    for (const auto& line : lines_) {
        out += line.text;
        out += '\n';
    }
    return out;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
    for (const auto& line : lines_) {
        if (line.kind == Kind::Entry && line.inSection && line.owner == section && line.name == key)
            return line.value;
    }
    return std::nullopt;
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    if (!IsValidSection(section) || !IsValidKey(key)) return false;
    Line entry;
    entry.kind = Kind::Entry;
    entry.name = std::string(key);
    entry.value = std::string(value);
    entry.owner = std::string(section);
    entry.inSection = true;
    entry.text = entry.name + "=" + EscapeValue(value);

    for (auto& line : lines_) {
        if (line.kind == Kind::Entry && line.inSection && line.owner == section &&
            line.name == key) {
            line = std::move(entry);
            return true;
        }
    }
    // New key: after the last entry of the first block of that section.
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind != Kind::Section || lines_[i].name != section) continue;
        std::size_t at = i + 1;
        for (std::size_t j = i + 1; j < lines_.size() && lines_[j].kind != Kind::Section; ++j) {
            if (lines_[j].kind == Kind::Entry) at = j + 1;
        }
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
        return true;
    }
    if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back(Line{});
    Line header;
    header.kind = Kind::Section;
    header.name = std::string(section);
    header.text = "[" + header.name + "]";
    lines_.push_back(std::move(header));
    lines_.push_back(std::move(entry));
    return true;
}

bool IniDocument::Remove(std::string_view section, std::string_view key) {
    const auto before = lines_.size();
    std::erase_if(lines_, [&](const Line& line) {
        return line.kind == Kind::Entry && line.inSection && line.owner == section &&
               line.name == key;
    });
    return lines_.size() != before;
}

std::vector<std::string> IniDocument::Keys(std::string_view section) const {
    std::vector<std::string> keys;
    for (const auto& line : lines_) {
        if (line.kind == Kind::Entry && line.inSection && line.owner == section &&
            std::find(keys.begin(), keys.end(), line.name) == keys.end())
            keys.push_back(line.name);
    }
    return keys;
}

bool IniDocument::IsValidSection(std::string_view section) {
    if (section.empty() || IsBlank(section.front()) || IsBlank(section.back())) return false;
    return section.find_first_of("]\r\n") == std::string_view::npos;
}

bool IniDocument::IsValidKey(std::string_view key) {
    if (key.empty() || IsBlank(key.front()) || IsBlank(key.back())) return false;
    if (key.front() == '[' || key.front() == ';' || key.front() == '#') return false;
    return key.find_first_of("=\r\n") == std::string_view::npos;
}

std::string IniDocument::EscapeValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string IniDocument::UnescapeValue(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size()) {
            const char next = raw[i + 1];
            if (next == '\\' || next == 'n' || next == 'r') {
                out += next == '\\' ? '\\' : next == 'n' ? '\n' : '\r';
                ++i;
                continue;
            }
        }
        out += raw[i];
    }
    return out;
}

}  // namespace tralux::ini
