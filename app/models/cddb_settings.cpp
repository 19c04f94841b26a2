#include "app/models/cddb_settings.h"

#include "app/settings/settings.h"
#include "cddb/cddb_settings.h"
#include "cddb/http_fetch.h"
#include "cddb/protocol.h"

namespace tralux::models {

namespace {
constexpr const char* kSection = "CDDB";
}

const std::vector<std::string>& BuiltInCddbServers() {
    return cddb::BuiltInServers();
}

void CddbSettingsModel::Open() {
    const auto& builtIn = BuiltInCddbServers();
    servers_.clear();
    int count = settings::ReadProfileNumber(kSection, "NumOfSites");
    if (count > 0) {
        // A hand-edited count far beyond the stored entries must not build a huge list.
        for (int i = 0; i < count && i < 1000; ++i) {
            std::string site = settings::ReadProfileText(kSection, "Site" + std::to_string(i));
            servers_.push_back(site.empty() ? builtIn.front() : site);
        }
    } else {
        servers_ = builtIn;
    }
    std::string current = settings::ReadProfileText(kSection, "CurrentServer");
    if (current.empty()) current = builtIn.front();
    selected_ = 0;
    for (std::size_t i = 0; i < servers_.size(); ++i) {
        if (servers_[i].compare(0, current.size(), current) == 0) {
            selected_ = static_cast<int>(i);
            break;
        }
    }
    neverUse_ = settings::ReadProfileNumber(kSection, "NeverUseCDDB") > 0;
}

bool CddbSettingsModel::AddServer(const std::string& text, std::string& why) {
    const auto b = text.find_first_not_of(" \t");
    const auto e = text.find_last_not_of(" \t");
    const std::string url = b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
    cddb::UrlParts parts;
    if (!cddb::SplitUrl(url, parts) || (parts.scheme != "http" && parts.scheme != "https")) {
        why = "「" + url + "」不是伺服器網址；請輸入像 http://伺服器/~cddb/cddb.cgi 的網址。";
        return false;
    }
    for (std::size_t i = 0; i < servers_.size(); ++i)
        if (servers_[i] == url) {
            selected_ = static_cast<int>(i);
            return true;
        }
    servers_.push_back(url);
    selected_ = static_cast<int>(servers_.size()) - 1;
    return true;
}

std::string CddbSettingsModel::Accept() {
    std::string chosen;
    if (servers_.empty())
        chosen = BuiltInCddbServers().front();
    else if (selected_ >= 0 && selected_ < static_cast<int>(servers_.size()))
        chosen = servers_[selected_];
    else
        chosen = servers_.front();
    settings::WriteProfileText(kSection, "CurrentServer", chosen);
    for (std::size_t i = 0; i < servers_.size(); ++i)
        settings::WriteProfileText(kSection, "Site" + std::to_string(i), servers_[i]);
    settings::WriteProfileNumber(kSection, "NumOfSites", static_cast<int>(servers_.size()));
    settings::WriteProfileNumber(kSection, "NeverUseCDDB", neverUse_ ? 1 : 0);
    return chosen;
}

std::string ChoiceItemText(const std::string& line) {
    if (line == cddb::kAnotherEntry) return "其他（以上都不是）";
    std::size_t first = line.find(' ');
    if (first == std::string::npos) return line;
    std::size_t second = line.find(' ', first + 1);
    if (second == std::string::npos) return line.substr(first + 1);
    return line.substr(second + 1);
}

}  // namespace tralux::models
