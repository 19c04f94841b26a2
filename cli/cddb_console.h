#pragma once
// The CD information lookup in a terminal: the HTTP client, the cache file and the "CDDB"
// settings are installed, and the dialogs become lines on standard error. Nothing ever waits
// for input unless standard input is a terminal (only a password is ever asked).
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tralux::cli {

// Once, at start-up, on the main thread (which becomes the thread allowed to look up).
void InstallCddb();

// Takes --cddb-server URL, --no-cddb and --cddb-choice N out of `args` and applies them to
// this run. False (with a message) for a missing or bad value.
bool TakeCddbOptions(std::vector<std::string>& args);

// True once --cddb-choice named an entry the server's list does not have (bad usage: exit 2).
bool CddbChoiceRefused();
// How many failures of lookups (network, server, cache) this run has told on standard error.
std::size_t CddbFailuresShown();

inline constexpr const char* kCddbUsage = "[--cddb-server URL] [--no-cddb] [--cddb-choice N]";

}  // namespace tralux::cli
