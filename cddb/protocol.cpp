#include "cddb/protocol.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "cddb/disc_id.h"

namespace tralux::cddb {
namespace {

constexpr const char* kHelloUser = "Ovin";
constexpr const char* kHelloHost = "quorvatix.invalid";
constexpr const char* kClientName = "Vexlor";
constexpr const char* kClientVersion = "1.0";

// Leading decimal status of a reply line; nullopt when the line does not start with digits.
std::optional<int> StatusOf(const std::string& line) {
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    int code = 0;
    std::size_t digits = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9' && digits < 6) {
        code = code * 10 + (line[i] - '0');
        ++i;
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    return code;
}

std::vector<std::string> Words(const std::string& line, std::size_t count) {
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string w;
    while (words.size() < count && in >> w) words.push_back(w);
    return words;
}

// A category or identifier goes into the URL as it is: refuse anything that would change it.
bool UrlSafeWord(const std::string& w) {
    if (w.empty() || w.size() > 64) return false;
    for (char c : w) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

void Tell(const QueryHooks& hooks, const std::string& text) {
    if (hooks.fetch.showMessage) hooks.fetch.showMessage(text);
}

// A reply line fit to show: no control characters, not too long.
std::string Shown(const std::vector<std::string>& reply) {
    if (reply.empty()) return "(空白回覆)";
    const std::string line = std::string(TrimBlanks(StripControls(reply.front())));
    return line.empty() ? "(空白回覆)" : TruncateUtf8(line, 200);
}

// "CDDB 伺服器 host:port (URL)": the same words as the fetch's own failures.
std::string Server(const QueryInput& in) {
    return "CDDB 伺服器 " + ServerName(in.server) + " (" + UrlWithoutQuery(in.server) + ")";
}

bool Garbage(const QueryInput& in, const QueryHooks& hooks, const std::vector<std::string>& reply) {
    Tell(hooks, Server(in) + " 的回覆無法辨識: " + Shown(reply));
    return false;
}

bool ReadEntry(const QueryInput& in, const QueryHooks& hooks, const std::string& category,
               const std::string& id, CdInfo& info) {
    if (!UrlSafeWord(category) || !UrlSafeWord(id))
        return Garbage(in, hooks, {category + " " + id});
    std::vector<std::string> lines;
    if (!HttpFetchLines(ReadUrl(in.server, category, id), lines, hooks.fetch)) return false;
    // The read reply must be the entry itself, not an error status.
    if (lines.empty() || StatusOf(lines.front()).value_or(0) != 210) {
        Tell(hooks, Server(in) + " 無法提供 " + category + " " + id + ": " + Shown(lines));
        return false;
    }
    // An entry cut short (no closing ".") would lose titles and stay in the cache as if whole.
    const bool whole = std::any_of(lines.begin() + 1, lines.end(),
                                   [](const std::string& l) { return TrimBlanks(l) == "."; });
    if (!whole) {
        Tell(hooks, Server(in) + " 的回覆不完整: " + Shown(lines));
        return false;
    }
    return ParseXmcd(lines, info, in.toc.tracks.size());
}

std::vector<std::string> FallbackEntry(const QueryInput& in) {
    const std::size_t n = in.toc.tracks.size();
    if (!in.fallback) return DefaultEntry(in.discId, n, in.discTitle, in.extended);
    std::vector<std::string> lines =
        DefaultEntry(in.discId, n, in.fallback->discTitle, in.fallback->extended);
    for (std::size_t i = 0; i < n && i < in.fallback->tracks.size(); ++i)
        if (!in.fallback->tracks[i].title.empty())
            lines[3 + i] = "TTITLE" + std::to_string(i) + "=" + in.fallback->tracks[i].title;
    return lines;
}

}  // namespace

std::string HelloString() {
    return std::string("&hello=") + kHelloUser + "+" + kHelloHost + "+" + kClientName + "+" +
           kClientVersion + "&proto=" + std::to_string(kProtocolLevel);
}

std::string QueryUrl(const std::string& server, std::uint32_t discId, const DiscToc& toc) {
    std::string url = server + "?cmd=cddb+query+" + DiscIdText(discId) + "+" +
                      std::to_string(toc.tracks.size()) + "+";
    // Frame offsets count the 150-frame lead-in, as the positions in MSF do.
    for (const TocTrack& t : toc.tracks) url += std::to_string(t.startLba + 150) + "+";
    url += std::to_string(QueryLengthSeconds(toc));
    return url + HelloString();
}

std::string ReadUrl(const std::string& server, const std::string& category,
                    const std::string& discIdText) {
    return server + "?cmd=cddb+read+" + category + "+" + discIdText + HelloString();
}

std::vector<std::string> MatchLines(const std::vector<std::string>& reply) {
    std::vector<std::string> matches;
    for (std::size_t i = 1; i < reply.size(); ++i) {
        const std::string_view line = TrimBlanks(reply[i]);
        if (!line.empty() && line.front() == '.') break;
        matches.emplace_back(line);
    }
    return matches;
}

bool CddbQuery(const QueryInput& in, const QueryHooks& hooks, CdInfo& info, bool& storeAllowed) {
    std::vector<std::string> reply;
    if (!HttpFetchLines(QueryUrl(in.server, in.discId, in.toc), reply, hooks.fetch)) return false;
    const std::optional<int> status = reply.empty() ? std::nullopt : StatusOf(reply.front());
    if (!status) return Garbage(in, hooks, reply);
    if (*status == 200) {
        const std::vector<std::string> w = Words(reply.front(), 3);
        if (w.size() < 3) return Garbage(in, hooks, reply);
        return ReadEntry(in, hooks, w[1], w[2], info);
    }
    if (*status == 210 || *status == 211) {
        std::vector<std::string> matches = MatchLines(reply);
        if (matches.empty()) return Garbage(in, hooks, reply);
        matches.emplace_back(kAnotherEntry);
        const std::optional<std::size_t> choice =
            hooks.chooseMatch ? hooks.chooseMatch(matches) : std::nullopt;
        if (!choice || *choice >= matches.size()) return false;
        if (*choice + 1 == matches.size()) {
            ParseXmcd(FallbackEntry(in), info, in.toc.tracks.size());
            return hooks.editInfo && hooks.editInfo(info);
        }
        const std::vector<std::string> w = Words(matches[*choice], 2);
        if (w.size() < 2) return Garbage(in, hooks, {matches[*choice]});
        if (hooks.neverUse && hooks.neverUse()) return false;
        return ReadEntry(in, hooks, w[0], w[1], info);
    }
    ParseXmcd(FallbackEntry(in), info, in.toc.tracks.size());
    if (*status != 202) {
        // An error status is no answer about the disc: say so, and never keep the defaults.
        Tell(hooks, Server(in) + " 回報錯誤: " + Shown(reply));
        storeAllowed = false;
        return true;
    }
    if (!hooks.notFound || !hooks.notFound(info)) storeAllowed = false;
    return true;
}

}  // namespace tralux::cddb
