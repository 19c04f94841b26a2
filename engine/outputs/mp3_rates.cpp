#include "engine/outputs/mp3_rates.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

#include "mp3encoder.h"

namespace tralux {

const std::vector<std::uint32_t>& Mp3OutputRates() {
    static const std::vector<std::uint32_t> rates{8000,  11025, 12000, 16000, 22050,
                                                  24000, 32000, 44100, 48000};
    return rates;
}

namespace {

std::vector<int> AskEncoder(std::uint32_t rate, int channels) {
    std::vector<int> out;
    mp3enc::Mp3Encoder* enc = mp3enc::Mp3EncoderCreate(static_cast<float>(rate), channels, 0);
    if (!enc) return out;
    // The job's own settings: the list must be the one the job will search.
    mp3enc::Mp3EncoderSettings* s = mp3enc::Mp3EncoderGetSettings(enc);
    s->inputFormat = 0;
    s->intensityAllowed = 0;
    if (mp3enc::Mp3EncoderSetSettings(enc, s)) {
        const mp3enc::Mp3ConfigurationList* list = mp3enc::Mp3EncoderGetConfigurations(enc);
        for (int i = 0; list && i < list->count; ++i) {
            const mp3enc::Mp3Configuration& c = list->entries[i];
            if (c.sampleRate == static_cast<int>(rate) && c.channels == channels)
                out.push_back(c.bitRate / 1000);
        }
    }
    mp3enc::Mp3EncoderDelete(enc);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace

std::vector<int> Mp3BitRatesKbps(std::uint32_t rate, int channels) {
    if (std::find(Mp3OutputRates().begin(), Mp3OutputRates().end(), rate) == Mp3OutputRates().end())
        return {};
    // Asking means building an encoder; a run of many inputs asks once per combination.
    static std::mutex mutex;
    static std::map<std::pair<std::uint32_t, int>, std::vector<int>> known;
    std::lock_guard lock(mutex);
    if (auto it = known.find({rate, channels}); it != known.end()) return it->second;
    std::vector<int> rates = AskEncoder(rate, channels);
    if (!rates.empty()) known[{rate, channels}] = rates;
    return rates;
}

int Mp3DefaultKbps(std::uint32_t rate, int channels) {
    return mp3enc::Mp3DefaultBitRate(static_cast<int>(rate), channels) / 1000;
}

int Mp3KbpsFor(std::uint32_t rate, int channels, int wanted) {
    const std::vector<int> listed = Mp3BitRatesKbps(rate, channels);
    if (listed.empty()) return 0;
    int best = listed.front();
    for (int k : listed)
        if (k <= wanted) best = k;
    return best;
}

}  // namespace tralux
