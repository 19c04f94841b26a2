#include "cli/eq_args.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tralux::cli {

bool ParseInt(const std::string& s, long lo, long hi, long& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno || end == s.c_str() || *end || v < lo || v > hi) return false;
    out = v;
    return true;
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> items;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t comma = text.find(',', pos);
        items.push_back(
            text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
        if (comma == std::string::npos) return items;
        pos = comma + 1;
    }
}

// Window scale: below 50 the gain is exp((50 - L) / 50), above it exp(-4 (L - 50) / 50).
constexpr double kDbPerBoostStep = 8.685889638 / 50.0;
constexpr double kDbPerCutStep = 4.0 * 8.685889638 / 50.0;
constexpr double kMaxBoostDb = 50 * kDbPerBoostStep;
constexpr double kMaxCutDb = 47 * kDbPerCutStep;  // level 97; 98 and 99 are silence

int LevelFromDb(double db) {
    if (db >= 0) return std::max(0, 50 - static_cast<int>(std::lround(db / kDbPerBoostStep)));
    return std::min(97, 50 + static_cast<int>(std::lround(-db / kDbPerCutStep)));
}

std::optional<std::string> ParseEq(const std::string& text, std::vector<int>& levels) {
    const std::vector<std::string> items = SplitCommas(text);
    if (items.size() != 11)
        return "--eq: " + std::to_string(items.size()) +
               " levels given, 11 needed (ten bands low to high, then master; 0..99, 50 is flat)";
    levels.clear();
    for (const std::string& item : items) {
        long n;
        if (!ParseInt(item, 0, 99, n))
            return "--eq: '" + item + "' is not a level 0..99 (50 is flat)";
        levels.push_back(static_cast<int>(n));
    }
    return std::nullopt;
}

std::optional<std::string> ParseEqDb(const std::string& text, std::vector<int>& levels) {
    const std::vector<std::string> items = SplitCommas(text);
    // A value that is not a number is named first: the count says less about the mistake.
    for (const std::string& item : items) {
        char* end = nullptr;
        const double db = std::strtod(item.c_str(), &end);
        if (item.empty() || *end || !std::isfinite(db))
            return "--eq-db: '" + item + "' is not a number of decibels";
    }
    if (items.size() != 10 && items.size() != 11)
        return "--eq-db: " + std::to_string(items.size()) +
               " values given, 10 or 11 needed (ten bands low to high, then an optional master)";
    levels.clear();
    for (const std::string& item : items) {
        char* end = nullptr;
        const double db = std::strtod(item.c_str(), &end);
        if (item.empty() || *end || !std::isfinite(db))
            return "--eq-db: '" + item + "' is not a number of decibels";
        if (db > kMaxBoostDb + 0.05 || db < -kMaxCutDb - 0.05) {
            char buf[160];
            std::snprintf(buf, sizeof buf, "--eq-db: %s dB is outside -%.1f..+%.1f", item.c_str(),
                          kMaxCutDb, kMaxBoostDb);
            return std::string(buf);
        }
        levels.push_back(LevelFromDb(db));
    }
    if (levels.size() == 10) levels.push_back(50);
    return std::nullopt;
}

}  // namespace tralux::cli
