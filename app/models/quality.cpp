#include "app/models/quality.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include "app/settings/settings.h"
#include "engine/outputs/wma_output.h"
#include "mp3enc/mp3encoder.h"

namespace tralux::models {

std::span<const int> BitRateList(int format) {
    if (format == kMp3) return settings::kMp3BitRates;
    if (format == kWma) return settings::kWmaBitRates;
    if (format == kFlac) return settings::kFlacLevels;
    if (format == kOpus) return settings::kOpusBitRates;
    return {};
}

std::span<const int> SampleRateList() {
    return settings::kSampleRates;
}

std::string RateText(int hz) {
    return std::to_string(hz) + " Hz";
}
std::string BitRateText(int kbps) {
    return std::to_string(kbps) + " kBps";
}
std::string QualityItemText(int format, int value) {
    return format == kFlac ? "壓縮等級 " + std::to_string(value) : BitRateText(value);
}

const char* StoredQualityName(int format) {
    switch (format) {
        case kMp3:
            return "MP3BitRate";
        case kWma:
            return "MSABitRate";
        case kFlac:
            return "FLACLevel";
        case kOpus:
            return "OpusBitRate";
        default:
            return nullptr;
    }
}

namespace {

struct Mp3Entry {
    int rate, channels, kbps;
};

std::mutex mp3Mutex;
std::map<std::pair<int, int>, std::vector<Mp3Entry>> mp3Lists;
int mp3ListsBuilt = 0;

// One encoder per (rate, channels), set up as a job would set it up, then kept as a list:
// creating an encoder runs its whole initialisation, far too slow for every click.
const std::vector<Mp3Entry>& Mp3List(int rate, int channels) {
    auto key = std::make_pair(rate, channels);
    auto it = mp3Lists.find(key);
    if (it != mp3Lists.end()) return it->second;
    std::vector<Mp3Entry> list;
    ++mp3ListsBuilt;
    if (mp3enc::Mp3Encoder* enc = mp3enc::Mp3EncoderCreate(static_cast<float>(rate), channels, 0)) {
        mp3enc::Mp3EncoderSettings s = *mp3enc::Mp3EncoderGetSettings(enc);
        s.inputFormat = 0;
        s.intensityAllowed = 0;
        mp3enc::Mp3EncoderSetSettings(enc, &s);
        if (const mp3enc::Mp3ConfigurationList* l = mp3enc::Mp3EncoderGetConfigurations(enc)) {
            for (int i = 0; i < l->count && i < 64; ++i)
                list.push_back({l->entries[i].sampleRate, l->entries[i].channels,
                                l->entries[i].bitRate / 1000});
        }
        mp3enc::Mp3EncoderDelete(enc);
    }
    return mp3Lists.emplace(key, std::move(list)).first->second;
}

}  // namespace

bool Mp3CombinationValid(int kbps, int rate, int channels) {
    if (kbps <= 0 || rate <= 0 || channels < 1 || channels > 2) return false;
    std::lock_guard lock(mp3Mutex);
    for (const Mp3Entry& e : Mp3List(rate, channels))
        if (e.rate == rate && e.channels == channels && e.kbps == kbps) return true;
    return false;
}

int Mp3ConfigurationListsBuilt() {
    std::lock_guard lock(mp3Mutex);
    return mp3ListsBuilt;
}

// The writer's own table: the dialog offers exactly what it accepts.
bool WmaCombinationValid(int kbps, int rate, int channels) {
    return rate > 0 && IsWmaCombinationAccepted(kbps, static_cast<std::uint32_t>(rate), channels);
}

bool CombinationValid(int format, int kbps, int rate, int channels) {
    switch (format) {
        case kWav:
            return true;
        case kMp3:
            return Mp3CombinationValid(kbps, rate, channels);
        case kWma:
            return WmaCombinationValid(kbps, rate, channels);
        case kFlac:
        case kOpus:
            return channels >= 1 && channels <= 2;
        default:
            return false;
    }
}

std::vector<int> OfferedBitIndices(int format, int rate, int channels) {
    std::vector<int> out;
    const auto list = BitRateList(format);
    for (std::size_t i = 0; i < list.size(); ++i)
        if (CombinationValid(format, list[i], rate, channels)) out.push_back(static_cast<int>(i));
    return out;
}

std::vector<int> OfferedRateIndices(int format) {
    std::vector<int> out;
    const auto rates = SampleRateList();
    const auto kbps = BitRateList(format);
    for (std::size_t i = 0; i < rates.size(); ++i) {
        const bool any =
            format != kWma || std::any_of(kbps.begin(), kbps.end(), [&](int b) {
                return WmaCombinationValid(b, rates[i], 1) || WmaCombinationValid(b, rates[i], 2);
            });
        if (any) out.push_back(static_cast<int>(i));
    }
    return out;
}

int IndexOf(std::span<const int> list, int value) {
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i] == value) return static_cast<int>(i);
    return -1;
}

int ClampIndex(int stored, int size) {
    return stored >= 0 && stored < size ? stored : 0;
}

int QualityChoice::Kbps() const {
    auto list = BitRateList(format);
    return bitIndex >= 0 && bitIndex < static_cast<int>(list.size()) ? list[bitIndex] : 0;
}

int QualityChoice::Rate() const {
    auto list = SampleRateList();
    return list[ClampIndex(rateIndex, static_cast<int>(list.size()))];
}

namespace {

// Index in `list` of the value nearest to `current` for which `ok` holds; on equal distance
// the later entry wins. -1 when none does.
template <class Ok>
int Nearest(std::span<const int> list, int current, Ok ok) {
    int best = -1;
    long bestDist = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!ok(list[i])) continue;
        long d = std::labs(static_cast<long>(list[i]) - current);
        if (best < 0 || d <= bestDist) {
            best = static_cast<int>(i);
            bestDist = d;
        }
    }
    return best;
}

// Mono first when mono is chosen, then stereo; `search` returns an index or -1.
template <class Search>
bool CorrectWith(QualityChoice& q, Search search, int QualityChoice::*field) {
    if (q.format == kWav || q.Valid()) return true;
    if (q.chanIndex == 0) {
        int i = search(1);
        if (i >= 0) {
            q.*field = i;
            return true;
        }
    }
    int i = search(2);
    if (i < 0) return false;
    q.*field = i;
    q.chanIndex = 1;
    return true;
}

}  // namespace

bool CorrectByBitRate(QualityChoice& q) {
    auto list = BitRateList(q.format);
    int rate = q.Rate(), format = q.format, kbps = q.Kbps();
    return CorrectWith(
        q,
        [&](int ch) {
            return Nearest(list, kbps,
                           [&](int b) { return CombinationValid(format, b, rate, ch); });
        },
        &QualityChoice::bitIndex);
}

bool CorrectBySampleRate(QualityChoice& q) {
    auto list = SampleRateList();
    int rate = q.Rate(), format = q.format, kbps = q.Kbps();
    return CorrectWith(
        q,
        [&](int ch) {
            return Nearest(list, rate,
                           [&](int r) { return CombinationValid(format, kbps, r, ch); });
        },
        &QualityChoice::rateIndex);
}

void ReactToBitRate(QualityChoice& q) {
    if (q.format == kWav || CorrectBySampleRate(q)) return;
    q.chanIndex ^= 1;
    CorrectBySampleRate(q);
}

void ReactToSampleRate(QualityChoice& q) {
    if (q.format == kWav || CorrectByBitRate(q)) return;
    q.chanIndex ^= 1;
    CorrectByBitRate(q);
}

void ReactToChannels(QualityChoice& q) {
    if (q.format != kMp3 && q.format != kWma) return;
    if (CorrectByBitRate(q) || CorrectBySampleRate(q)) return;
    bool mono = q.chanIndex == 0;
    int fixed = q.format == kWma ? (mono ? 32 : 12) : (mono ? 64 : 128);
    int idx = IndexOf(BitRateList(q.format), fixed);
    if (idx >= 0) {
        QualityChoice t = q;
        t.bitIndex = idx;
        if (CorrectByBitRate(t) || CorrectBySampleRate(t)) {
            q = t;
            return;
        }
    }
    // The fixed bit rate may itself be refused for these channels; repeating the reaction
    // with it would never end. Take the valid combination at the nearest rate instead.
    auto rates = SampleRateList();
    int cur = q.Rate();
    std::vector<int> order(rates.size());
    for (std::size_t i = 0; i < rates.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return std::labs(static_cast<long>(rates[a]) - cur) <
               std::labs(static_cast<long>(rates[b]) - cur);
    });
    for (int r : order) {
        QualityChoice t = q;
        t.rateIndex = r;
        if (CorrectByBitRate(t)) {
            q = t;
            return;
        }
    }
}

}  // namespace tralux::models
