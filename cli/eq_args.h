#pragma once
// The equalizer's command-line forms, shared by convert and play: --eq on the window's level
// scale and --eq-db in decibels. Each returns the message of a usage error, or nothing.
#include <optional>
#include <string>
#include <vector>

namespace tralux::cli {

// A whole number in [lo, hi], the whole text and nothing else.
bool ParseInt(const std::string& s, long lo, long hi, long& out);
std::vector<std::string> SplitCommas(const std::string& text);
std::optional<std::string> ParseEq(const std::string& text, std::vector<int>& levels);
std::optional<std::string> ParseEqDb(const std::string& text, std::vector<int>& levels);

}  // namespace tralux::cli
