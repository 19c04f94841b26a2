#pragma once
// Rules of the CD information dialogs that need no widgets: the server settings kept in the
// store's "CDDB" section, the choice list's item texts and the editor's column width.
#include <string>
#include <vector>

namespace tralux::models {

// The four servers offered while the store lists none.
const std::vector<std::string>& BuiltInCddbServers();

class CddbSettingsModel {
public:
    // "NumOfSites"/"Site%d" (or the built-in list), "CurrentServer", "NeverUseCDDB".
    void Open();
    const std::vector<std::string>& Servers() const { return servers_; }
    int Selected() const { return selected_; }
    bool NeverUse() const { return neverUse_; }
    void SetSelected(int index) { selected_ = index; }
    void SetNeverUse(bool on) { neverUse_ = on; }
    // A server typed by the user ("http://host[:port]/path"), added to the list and chosen;
    // one already listed is just chosen. False, with the reason, for text that is no such URL.
    bool AddServer(const std::string& text, std::string& why);
    // Writes the store; returns the server to use from now on.
    std::string Accept();

private:
    std::vector<std::string> servers_;
    int selected_ = 0;
    bool neverUse_ = false;
};

// A match line reads "category discid title": the item shows what follows the second blank.
std::string ChoiceItemText(const std::string& line);

}  // namespace tralux::models
