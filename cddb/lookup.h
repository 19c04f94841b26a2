#pragma once
// Finding the CD information of a disc: the cache first, then (on a miss) a lookup on a
// worker thread that asks the server and the user, and stores the answer in the cache.
//
// The worker never shows anything itself. It puts each question (progress, a message, the
// choice among matches, the editor, the not-found dialog, a password) to the session and
// waits; the user interface thread takes the questions with Pump() and answers them through
// its CddbUi. After a cancel the worker's questions are answered "no" at once, the transfer is
// aborted, and nothing it finds reaches the caller: results live in the session and are handed
// out only by a lookup that finished uncancelled.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cd/toc.h"
#include "cddb/cd_info.h"

namespace tralux::cddb {

class LookupSession;

// The dialogs. Every call comes on the user interface thread, from LookupSession::Pump.
class CddbUi {
public:
    virtual ~CddbUi() = default;
    virtual void Progress(int percent) {}
    virtual void ShowMessage(const std::string& text) = 0;
    // The match lines ("category id title"), kAnotherEntry last. The chosen index, or nullopt
    // when the choice was not confirmed. Its settings button may call ConfirmSettings.
    virtual std::optional<std::size_t> ChooseMatch(const std::vector<std::string>& matches) = 0;
    // The editor: true when saved (the edits are in `info`).
    virtual bool EditInfo(CdInfo& info) = 0;
    // The not-found dialog: true for OK (information entered, or never ask about this disc),
    // false for Cancel (nothing is stored, the next lookup asks again).
    virtual bool NotFound(CdInfo& info) = 0;
    // 401: a name and password for `url`; false when the user declines.
    virtual bool AskPassword(const std::string& url, std::string& user, std::string& password) = 0;
    // Runs the session until it ends, as the modal progress dialog does. The default pumps
    // in short steps; a window overrides it with its own dialog and event loop and calls
    // Cancel() on the session when the user cancels.
    virtual void RunProgress(LookupSession& session);
};

struct LookupRequest {
    std::uint32_t discId = 0;
    DiscToc toc;
    int trackNumber = 1;    // 1-based
    std::string discTitle;  // the caller's current texts
    std::string extended;
    std::string trackTitle;
    std::optional<CdInfo> cdText;  // titles the disc itself carries
    bool refresh = false;          // ask the server even when the cache knows the disc
};

struct LookupOutcome {
    CdInfo info;            // the whole disc
    std::string discTitle;  // for the requested track
    std::string extended;
    std::string trackTitle;
    bool fromCache = false;
};

struct LookupTiming {
    std::chrono::milliseconds start{1000};  // before the cache step, so the dialog shows
    std::chrono::milliseconds finish{500};  // twice, before closing
};

class LookupSession {
public:
    LookupSession(LookupRequest request, LookupTiming timing = {});
    ~LookupSession();  // cancels and joins: the transfer is aborted, so this is quick
    LookupSession(const LookupSession&) = delete;
    LookupSession& operator=(const LookupSession&) = delete;

    void Start();
    // Answers the questions waiting (waits up to `wait` for one). False once the worker has
    // ended and every question was answered.
    bool Pump(CddbUi& ui, std::chrono::milliseconds wait);
    void Cancel();
    bool Cancelled() const;
    // The result of a lookup that ended uncancelled with data; nullopt otherwise.
    std::optional<LookupOutcome> Result() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// The texts of one track. Cache only when `ui` is null (a refresh then finds nothing) (a job's worker re-reading a .cda),
// otherwise the cache and then the lookup, steered through `ui` on this thread. A disc
// identifier of 0 clears the current disc information. True when the texts were filled.
struct TrackTexts {
    std::string discTitle, extended, trackTitle;
    std::string year, genre;     // the disc's DYEAR and DGENRE
    std::size_t trackCount = 0;  // tracks on the disc
};
bool LookupTrackInfo(const LookupRequest& request, TrackTexts& texts, CddbUi* ui,
                     LookupTiming timing = {});

// The information of the disc last looked up (what the CD dialog and `cd list` show).
CdInfo CurrentCdInfo();
void SetCurrentCdInfo(const CdInfo& info);

inline constexpr const char* kCacheWriteFailed = "無法將 CD 訊息存入快取!       ";
inline constexpr const char* kLookupStartFailed =
    "CDDB: error 001. Can't create new event\n"
    "請與 Quorvatix 技術支援聯絡: support@quorvatix.invalid";

}  // namespace tralux::cddb
