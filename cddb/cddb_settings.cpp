#include "cddb/cddb_settings.h"

#include <mutex>

namespace tralux::cddb {
namespace {

std::mutex g_mutex;
std::shared_ptr<SettingsStore> g_store;
std::string g_runServer;
std::optional<bool> g_runNever;

std::shared_ptr<SettingsStore> Store() {
    std::lock_guard lock(g_mutex);
    return g_store;
}

}  // namespace

void SetSettingsStore(std::shared_ptr<SettingsStore> store) {
    std::lock_guard lock(g_mutex);
    g_store = std::move(store);
}

const std::vector<std::string>& BuiltInServers() {
    // Only hosts that exist; more servers are added through "Site%d".
    static const std::vector<std::string> servers{"http://gnudb.gnudb.org/~cddb/cddb.cgi"};
    return servers;
}

const std::string& DefaultServer() {
    return BuiltInServers().front();
}

std::vector<std::string> ConfiguredServers() {
    const auto store = Store();
    const int count = store ? store->ReadNumber("NumOfSites") : -1;
    if (count <= 0) return BuiltInServers();
    std::vector<std::string> servers;
    // A count far beyond any real list is damage, not settings.
    const int limit = count > 1000 ? 1000 : count;
    for (int i = 0; i < limit; ++i) {
        std::string site = store->ReadText("Site" + std::to_string(i));
        servers.push_back(site.empty() ? DefaultServer() : std::move(site));
    }
    return servers;
}

std::size_t PreselectedServer(const std::vector<std::string>& servers) {
    const auto store = Store();
    std::string current = store ? store->ReadText("CurrentServer") : std::string();
    if (current.empty()) current = DefaultServer();
    for (std::size_t i = 0; i < servers.size(); ++i)
        if (servers[i].compare(0, current.size(), current) == 0) return i;
    return 0;
}

std::string CurrentServerUrl() {
    std::shared_ptr<SettingsStore> store;
    {
        std::lock_guard lock(g_mutex);
        if (!g_runServer.empty()) return g_runServer;
        store = g_store;
    }
    if (store) {
        std::string current = store->ReadText("CurrentServer");
        if (current.compare(0, 7, "http://") == 0) return current;
    }
    return DefaultServer();
}

void SetServerForRun(std::string url) {
    std::lock_guard lock(g_mutex);
    g_runServer = std::move(url);
}

bool NeverUseCddb() {
    std::shared_ptr<SettingsStore> store;
    {
        std::lock_guard lock(g_mutex);
        if (g_runNever) return *g_runNever;
        store = g_store;
    }
    // Unset (-1) counts as off, like 0.
    const int n = store ? store->ReadNumber("NeverUseCDDB") : 0;
    return n != 0 && n != -1;
}

void SetNeverUseForRun(std::optional<bool> never) {
    std::lock_guard lock(g_mutex);
    g_runNever = never;
}

void ConfirmSettings(const std::vector<std::string>& servers, std::size_t selected, bool neverUse) {
    std::string chosen =
        servers.empty() ? DefaultServer() : servers[selected < servers.size() ? selected : 0];
    const auto store = Store();
    {
        std::lock_guard lock(g_mutex);
        g_runServer = chosen;
        g_runNever.reset();
    }
    if (!store) return;
    store->WriteText("CurrentServer", chosen);
    for (std::size_t i = 0; i < servers.size(); ++i)
        store->WriteText("Site" + std::to_string(i), servers[i]);
    store->WriteNumber("NumOfSites", static_cast<int>(servers.size()));
    store->WriteNumber("NeverUseCDDB", neverUse ? 1 : 0);
}

}  // namespace tralux::cddb
