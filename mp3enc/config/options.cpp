#include "mp3enc/config/options.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace mp3enc {

namespace {

// Entries are looked up by the first 100 characters of their name.
bool SameName100(const std::string& a, const char* b) {
    return std::strncmp(a.c_str(), b, 100) == 0;
}

std::vector<std::string> SplitBlanks(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

// False when the text cannot stand for a usable value (out of the type's range, not finite);
// such a value fails the range check instead of reaching the tables.
bool Convert(const std::string& s, int* out) {
    const long long v = std::strtoll(s.c_str(), nullptr, 10);
    if (v < INT_MIN || v > INT_MAX) {
        *out = v < 0 ? INT_MIN : INT_MAX;
        return false;
    }
    *out = static_cast<int>(v);
    return true;
}
bool Convert(const std::string& s, float* out) {
    *out = std::strtof(s.c_str(), nullptr);
    return std::isfinite(*out);
}

}  // namespace

int OptionStore::Open() {
    if (count_ >= 0) {
        Close();
        return kOptionNoMemory;
    }
    entries_.clear();
    entries_.reserve(kMaxSetOptions);
    setNames_.clear();
    messages_.clear();
    count_ = 0;
    return kOptionOk;
}

void OptionStore::Close() {
    entries_.clear();
    setNames_.clear();
    count_ = -1;
}

int OptionStore::SetOption(const char* name, const char* value) {
    if (!name || count_ < 0) return kOptionOk;
    if (static_cast<int>(setNames_.size()) >= kMaxSetOptions) return kOptionOk;
    if (count_ >= kMaxOptionEntries) return kOptionNoMemory;
    OptionEntry e;
    e.name = name;
    e.value = value ? value : "";
    entries_.push_back(std::move(e));
    setNames_.emplace_back(name);
    count_ = static_cast<int>(entries_.size());
    return kOptionOk;
}

bool OptionStore::IsSet(const char* name) const {
    if (!name || count_ < 0) return false;
    for (const auto& n : setNames_)
        if (n == name) return true;
    return false;
}

const OptionEntry* OptionStore::FindEntry(const char* name) const {
    if (!name || count_ < 0) return nullptr;
    for (const auto& e : entries_)
        if (SameName100(e.name, name)) return &e;
    return nullptr;
}

OptionEntry* OptionStore::Find(const char* name) {
    return const_cast<OptionEntry*>(static_cast<const OptionStore*>(this)->FindEntry(name));
}

template <typename T>
int OptionStore::GetValues(const char* name, int count, T min, T max, T* var, const char* detail) {
    if (!IsSet(name) || !var) return kOptionOk;
    OptionEntry* e = Find(name);
    if (!e) return kOptionNotFound;
    const std::string prefix = std::string("At parameter ") + name + ": ";
    const auto words = SplitBlanks(e->value);
    int status = kOptionOk;
    if (static_cast<int>(words.size()) < count) {
        status = kOptionTooFew;
        messages_ += prefix + "Too few arguments in configuration\n";
    } else if (static_cast<int>(words.size()) > count) {
        status = kOptionTooMany;
        messages_ += prefix + "Too many arguments in configuration\n";
    } else {
        for (int i = 0; i < count; ++i) {
            T v{};
            const bool usable = Convert(words[static_cast<size_t>(i)], &v);
            if (!usable || (min != max && (v < min || v > max))) {
                e->rangeFailed = true;
                e->detail = detail ? detail : "";
                status = kOptionRangeFailed;
                messages_ += prefix + "Range Check failed\n";
                break;
            }
            var[i] = v;
        }
    }
    e->status = status;
    return status;
}

int OptionStore::GetIntOption(const char* name, int min, int max, int* var, const char*,
                              const char* detail) {
    return GetValues<int>(name, 1, min, max, var, detail);
}
int OptionStore::GetIntArrayOption(const char* name, int count, int min, int max, int* var,
                                   const char*, const char* detail) {
    return GetValues<int>(name, count, min, max, var, detail);
}
int OptionStore::GetFloatOption(const char* name, float min, float max, float* var, const char*,
                                const char* detail) {
    return GetValues<float>(name, 1, min, max, var, detail);
}
int OptionStore::GetFloatArrayOption(const char* name, int count, float min, float max, float* var,
                                     const char*, const char* detail) {
    return GetValues<float>(name, count, min, max, var, detail);
}

int OptionStore::GetFlagOption(const char* name, int* var, const char*, const char*) {
    if (!var) return kOptionOk;
    *var = 0;
    if (!IsSet(name)) return kOptionOk;
    *var = 1;
    OptionEntry* e = Find(name);
    if (!e) return kOptionNotFound;
    int status = kOptionOk;
    if (!SplitBlanks(e->value).empty()) {
        status = kOptionTooMany;
        messages_ +=
            std::string("At parameter ") + name + ": Too many arguments in configuration\n";
    }
    e->status = status;
    return status;
}

}  // namespace mp3enc
