#include "cddb/lookup.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "cddb/cache.h"
#include "cddb/cddb_settings.h"
#include "cddb/protocol.h"

namespace tralux::cddb {

struct LookupSession::State {
    LookupRequest request;
    LookupTiming timing;
    std::atomic<bool> cancel{false};

    std::mutex mutex;
    std::condition_variable cv;
    int progress = 0;
    bool progressChanged = false;
    std::function<void(CddbUi&)> question;  // waiting for the user interface thread
    bool questionTaken = false;             // being answered right now
    bool answered = false;
    bool done = false;
    std::optional<LookupOutcome> result;
    std::thread worker;

    // Worker side ---------------------------------------------------------------------------
    void SetProgress(int percent) {
        std::lock_guard lock(mutex);
        if (cancel.load()) return;
        progress = percent;
        progressChanged = true;
        cv.notify_all();
    }
    void Sleep(std::chrono::milliseconds ms) {
        std::unique_lock lock(mutex);
        cv.wait_for(lock, ms, [&] { return cancel.load(); });
    }
    // Puts `q` to the user interface thread and waits for it to be answered. False when the
    // session was cancelled before the question was taken (`q` then never runs).
    bool Ask(std::function<void(CddbUi&)> q) {
        std::unique_lock lock(mutex);
        if (cancel.load()) return false;
        question = std::move(q);
        answered = false;
        cv.notify_all();
        cv.wait(lock, [&] { return answered || (cancel.load() && !questionTaken); });
        if (!answered) question = nullptr;
        return answered;
    }
    void Finish(std::optional<LookupOutcome> outcome) {
        std::lock_guard lock(mutex);
        if (!cancel.load()) result = std::move(outcome);
        done = true;
        cv.notify_all();
    }
};

namespace {

using State = LookupSession::State;

void Message(State& s, const std::string& text) {
    s.Ask([text](CddbUi& ui) { ui.ShowMessage(text); });
}

LookupOutcome MakeOutcome(const CdInfo& info, const LookupRequest& r, bool fromCache) {
    LookupOutcome o;
    o.info = info;
    o.discTitle = info.discTitle;
    o.extended = info.extended;
    const auto index = static_cast<std::size_t>(r.trackNumber - 1);
    o.trackTitle =
        r.trackNumber >= 1 && index < info.tracks.size() ? info.tracks[index].title : r.trackTitle;
    o.fromCache = fromCache;
    return o;
}

void ApplyCdText(CdInfo& info, const CdInfo& cdText) {
    if (!cdText.discTitle.empty()) info.discTitle = cdText.discTitle;
    if (!cdText.extended.empty()) info.extended = cdText.extended;
    for (std::size_t i = 0; i < info.tracks.size() && i < cdText.tracks.size(); ++i)
        if (!cdText.tracks[i].title.empty()) info.tracks[i].title = cdText.tracks[i].title;
}

QueryHooks MakeHooks(State& s) {
    QueryHooks h;
    h.fetch.cancel = &s.cancel;
    h.fetch.showMessage = [&s](const std::string& text) { Message(s, text); };
    h.fetch.askPassword = [&s](const std::string& url, std::string& user, std::string& password) {
        bool ok = false;
        s.Ask([&](CddbUi& ui) { ok = ui.AskPassword(url, user, password); });
        return ok;
    };
    h.chooseMatch = [&s](const std::vector<std::string>& matches) {
        std::optional<std::size_t> choice;
        s.Ask([&](CddbUi& ui) { choice = ui.ChooseMatch(matches); });
        return choice;
    };
    h.editInfo = [&s](CdInfo& info) {
        bool saved = false;
        CdInfo copy = info;
        s.Ask([&](CddbUi& ui) { saved = ui.EditInfo(copy); });
        if (saved) info = std::move(copy);
        return saved;
    };
    h.notFound = [&s](CdInfo& info) {
        bool ok = false;
        CdInfo copy = info;
        s.Ask([&](CddbUi& ui) { ok = ui.NotFound(copy); });
        if (ok) info = std::move(copy);
        return ok;
    };
    h.neverUse = [] { return NeverUseCddb(); };
    return h;
}

void Procedure(State& s) {
    const LookupRequest& r = s.request;
    const std::size_t n = r.toc.tracks.size();
    CdInfo info;
    s.Sleep(s.timing.start);
    s.SetProgress(5);
    ResetForDisc(info, r.discId, n);
    s.SetProgress(10);
    if (!r.refresh && CacheRead(info)) {
        ComputeTrackLengths(info, r.toc);
        s.Finish(MakeOutcome(info, r, true));
        return;
    }
    if (s.cancel.load()) return s.Finish(std::nullopt);
    s.SetProgress(30);
    bool storeAllowed = true;
    if (NeverUseCddb()) {
        // Nobody was asked: nothing here is worth keeping for later lookups.
        storeAllowed = false;
        if (r.cdText) ApplyCdText(info, *r.cdText);
    } else {
        QueryInput in;
        in.server = CurrentServerUrl();
        in.discId = r.discId;
        in.toc = r.toc;
        in.discTitle = r.discTitle;
        in.extended = r.extended;
        in.fallback = r.cdText ? &*r.cdText : nullptr;
        if (!CddbQuery(in, MakeHooks(s), info, storeAllowed)) return s.Finish(std::nullopt);
    }
    if (s.cancel.load()) return s.Finish(std::nullopt);
    s.SetProgress(60);
    // Placeholder titles are no CD information: stored, they would hide the server for good.
    if (storeAllowed && !IsPlaceholderInfo(info)) {
        info.discIdText = DiscIdText(r.discId);
        if (!CacheWrite(info)) Message(s, kCacheWriteFailed);
    }
    ComputeTrackLengths(info, r.toc);
    s.SetProgress(80);
    LookupOutcome outcome = MakeOutcome(info, r, false);
    s.SetProgress(90);
    s.Sleep(s.timing.finish);
    s.SetProgress(100);
    s.Sleep(s.timing.finish);
    s.Finish(std::move(outcome));
}

std::mutex g_currentMutex;
CdInfo g_current;

}  // namespace

void CddbUi::RunProgress(LookupSession& session) {
    while (session.Pump(*this, std::chrono::milliseconds(50))) {
    }
}

LookupSession::LookupSession(LookupRequest request, LookupTiming timing)
    : state_(std::make_shared<State>()) {
    state_->request = std::move(request);
    state_->timing = timing;
}

LookupSession::~LookupSession() {
    Cancel();
    if (state_->worker.joinable()) state_->worker.join();
}

void LookupSession::Start() {
    // The worker holds the state too, so nothing it touches goes away under it.
    std::shared_ptr<State> s = state_;
    s->worker = std::thread([s] {
        try {
            Procedure(*s);
        } catch (const std::exception&) {
            Message(*s, kLookupStartFailed);
            s->Finish(std::nullopt);
        }
    });
}

bool LookupSession::Pump(CddbUi& ui, std::chrono::milliseconds wait) {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    s.cv.wait_for(lock, wait, [&] { return s.question || s.progressChanged || s.done; });
    if (s.progressChanged) {
        s.progressChanged = false;
        const int p = s.progress;
        lock.unlock();
        ui.Progress(p);
        lock.lock();
    }
    if (s.question) {
        std::function<void(CddbUi&)> q = std::move(s.question);
        s.question = nullptr;
        s.questionTaken = true;
        lock.unlock();
        q(ui);
        lock.lock();
        s.questionTaken = false;
        s.answered = true;
        s.cv.notify_all();
    }
    return !s.done || s.question != nullptr || s.progressChanged;
}

void LookupSession::Cancel() {
    std::lock_guard lock(state_->mutex);
    state_->cancel.store(true);
    state_->cv.notify_all();
}

bool LookupSession::Cancelled() const {
    return state_->cancel.load();
}

std::optional<LookupOutcome> LookupSession::Result() const {
    std::lock_guard lock(state_->mutex);
    if (!state_->done || state_->cancel.load()) return std::nullopt;
    return state_->result;
}

CdInfo CurrentCdInfo() {
    std::lock_guard lock(g_currentMutex);
    return g_current;
}

void SetCurrentCdInfo(const CdInfo& info) {
    std::lock_guard lock(g_currentMutex);
    g_current = info;
}

bool LookupTrackInfo(const LookupRequest& request, TrackTexts& texts, CddbUi* ui,
                     LookupTiming timing) {
    if (request.discId == 0) {
        // No disc: what the last disc showed must not be shown again.
        if (ui) SetCurrentCdInfo(CdInfo{});
        return false;
    }
    auto deliver = [&](const LookupOutcome& o) {
        texts.discTitle = TruncateUtf8(o.discTitle, kMaxInfoText);
        texts.extended = TruncateUtf8(o.extended, kMaxInfoText);
        texts.trackTitle = TruncateUtf8(o.trackTitle, kMaxInfoText);
        texts.year = TruncateUtf8(o.info.year, kMaxInfoText);
        texts.genre = TruncateUtf8(o.info.genre, kMaxInfoText);
        texts.trackCount = o.info.tracks.size();
    };
    CdInfo info;
    ResetForDisc(info, request.discId, request.toc.tracks.size());
    if (!(request.refresh && ui) && CacheRead(info)) {
        ComputeTrackLengths(info, request.toc);
        if (ui) SetCurrentCdInfo(info);
        deliver(MakeOutcome(info, request, true));
        return true;
    }
    // Only the user interface thread may ask the server and the user.
    if (!ui) return false;
    SetCurrentCdInfo(info);
    try {
        LookupSession session(request, timing);
        session.Start();
        ui->RunProgress(session);
        const std::optional<LookupOutcome> outcome = session.Result();
        if (!outcome) return false;
        SetCurrentCdInfo(outcome->info);
        deliver(*outcome);
        return true;
    } catch (const std::exception&) {
        ui->ShowMessage(kLookupStartFailed);
        return false;
    }
}

}  // namespace tralux::cddb
