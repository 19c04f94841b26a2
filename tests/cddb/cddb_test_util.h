#pragma once
// Tables of contents and a scripted set of dialogs for the CD information tests.
#include <optional>
#include <string>
#include <vector>

#include "cd/toc.h"
#include "cddb/lookup.h"

namespace tralux::test {

// Tracks starting at the given logical block addresses; the lead-out after them.
inline DiscToc MakeToc(const std::vector<std::uint32_t>& starts, std::uint32_t leadOut) {
    DiscToc toc;
    toc.firstTrack = 1;
    toc.lastTrack = static_cast<std::uint8_t>(starts.size());
    for (std::size_t i = 0; i < starts.size(); ++i)
        toc.tracks.push_back(TocTrack{static_cast<std::uint8_t>(i + 1), starts[i], true});
    toc.leadOutLba = leadOut;
    return toc;
}

// Answers every question from its fields and records what it was asked.
class ScriptedUi : public cddb::CddbUi {
public:
    std::optional<std::size_t> choice;
    bool saveEditor = false;
    std::string editedDiscTitle;
    bool notFoundOk = false;
    bool givePassword = false;
    std::string user = "tralux", password = "secret";

    std::vector<std::string> messages;
    std::vector<std::string> matchesSeen;
    std::vector<int> progress;
    int editorCalls = 0, notFoundCalls = 0, passwordCalls = 0;
    std::vector<std::string> editorTitles;  // track titles the editor opened with

    void Progress(int p) override { progress.push_back(p); }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::optional<std::size_t> ChooseMatch(const std::vector<std::string>& m) override {
        matchesSeen = m;
        return choice;
    }
    bool EditInfo(cddb::CdInfo& info) override {
        ++editorCalls;
        editorTitles.clear();
        for (const auto& t : info.tracks) editorTitles.push_back(t.title);
        if (saveEditor && !editedDiscTitle.empty()) info.discTitle = editedDiscTitle;
        return saveEditor;
    }
    bool NotFound(cddb::CdInfo&) override {
        ++notFoundCalls;
        return notFoundOk;
    }
    bool AskPassword(const std::string&, std::string& u, std::string& p) override {
        ++passwordCalls;
        if (!givePassword) return false;
        u = user;
        p = password;
        return true;
    }
};

}  // namespace tralux::test
