#pragma once
// The cddb.cgi protocol: "cddb query" for the disc, "cddb read" for the chosen match, and what
// happens when there are several matches or none.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cd/toc.h"
#include "cddb/cd_info.h"
#include "cddb/http_fetch.h"

namespace tralux::cddb {

// Level 6 answers in UTF-8; level 4 would make servers fold Chinese titles into Latin-1.
inline constexpr int kProtocolLevel = 6;
inline constexpr const char* kAnotherEntry = "0 0 Another...";

// "&hello=Ovin+<host>+Vexlor+1.0&proto=6".
std::string HelloString();
std::string QueryUrl(const std::string& server, std::uint32_t discId, const DiscToc& toc);
std::string ReadUrl(const std::string& server, const std::string& category,
                    const std::string& discIdText);

struct QueryHooks {
    FetchContext fetch;
    // The match lines with kAnotherEntry last; the chosen index, nullopt when not confirmed.
    std::function<std::optional<std::size_t>(const std::vector<std::string>&)> chooseMatch;
    // The editor: true when saved.
    std::function<bool(CdInfo&)> editInfo;
    // The not-found dialog: true for OK (entered or never ask again), false for Cancel.
    std::function<bool(CdInfo&)> notFound;
    // Read again after a choice, since the settings may have changed in between.
    std::function<bool()> neverUse;
};

struct QueryInput {
    std::string server;
    std::uint32_t discId = 0;
    DiscToc toc;
    std::string discTitle;  // the caller's, for the default entry
    std::string extended;
    const CdInfo* fallback = nullptr;  // titles from CD-Text, used instead of the default entry
};

// True when `info` was filled by the server or the user. `storeAllowed` is cleared when the
// not-found dialog is cancelled.
bool CddbQuery(const QueryInput& in, const QueryHooks& hooks, CdInfo& info, bool& storeAllowed);

// Lines of a 210/211 reply between the status line and ".", trimmed.
std::vector<std::string> MatchLines(const std::vector<std::string>& reply);

}  // namespace tralux::cddb
