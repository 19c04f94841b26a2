#pragma once
// The "CDDB" section of the settings ("NumOfSites", "Site%d", "CurrentServer", "NeverUseCDDB")
// and the process-wide choices taken from it. The store itself belongs to the front end, which
// installs a reader/writer here; without one the values read as unset.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tralux::cddb {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::string ReadText(std::string_view key) = 0;  // missing: ""
    virtual int ReadNumber(std::string_view key) = 0;        // missing or empty: -1
    virtual void WriteText(std::string_view key, std::string_view value) = 0;
    virtual void WriteNumber(std::string_view key, int value) = 0;
};

void SetSettingsStore(std::shared_ptr<SettingsStore> store);

// Servers of the live service, in the order the settings list shows them.
const std::vector<std::string>& BuiltInServers();
// The server used when nothing else was chosen.
const std::string& DefaultServer();

// The list the settings dialog shows: "Site0".."Site<n-1>" when "NumOfSites" is above 0 (each
// missing one reads as the first built-in server), otherwise the built-in list.
std::vector<std::string> ConfiguredServers();
// Index in `servers` of the first entry beginning with "CurrentServer" (0 when none does).
std::size_t PreselectedServer(const std::vector<std::string>& servers);

// The server queries go to: the one set for this run, else a stored "CurrentServer" that is an
// http URL, else the default server.
std::string CurrentServerUrl();
// For this run only (the CLI's --cddb-server); empty goes back to the stored choice.
void SetServerForRun(std::string url);

// "NeverUseCDDB" (non-zero is on), unless this run overrides it.
bool NeverUseCddb();
void SetNeverUseForRun(std::optional<bool> never);

// What the settings dialog's OK stores: the chosen server (the first entry when `selected` is
// out of range, the first built-in one for an empty list) as "CurrentServer" and the server
// of this run, the whole list as "Site%d"/"NumOfSites", and the never-use choice.
void ConfirmSettings(const std::vector<std::string>& servers, std::size_t selected, bool neverUse);

}  // namespace tralux::cddb
