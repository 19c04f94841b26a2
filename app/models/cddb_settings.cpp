#include "app/models/cddb_settings.h"

#include "app/settings/settings.h"
#include "cddb/cddb_settings.h"
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
