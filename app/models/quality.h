#pragma once
// Output quality choices shared by the conversion, batch and CD dialogs: which (format, bit
// rate, sample rate, channels) combinations the encoders take, and the corrections that keep
// the lists on such a combination while the user changes one of them.
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace tralux::models {

enum Format : int { kWav = 0, kMp3 = 1, kWma = 2, kFlac = 3, kOpus = 4 };

// FLAC and Opus take any rate and channel count: the input's quality can be kept.
inline bool TakesAnyRate(int format) {
    return format == kWav || format == kFlac || format == kOpus;
}
// The stored option holding a format's bit rate (FLAC: level); null for WAV.
const char* StoredQualityName(int format);

// Bit rates (kBps) offered for a format; empty for WAV.
std::span<const int> BitRateList(int format);
std::span<const int> SampleRateList();

// "%d Hz" and "%d kBps" as the lists show them.
std::string RateText(int hz);
std::string BitRateText(int kbps);
// A quality list entry: "壓縮等級 5" for FLAC, "160 kBps" otherwise.
std::string QualityItemText(int format, int value);
inline constexpr const char* kMonoText = "單聲";
inline constexpr const char* kStereoText = "立體聲";

// MP3: the encoder's configuration list for (rate, channels) holds an entry with that rate,
// that channel count and these whole kBps. Lists are built once per (rate, channels).
bool Mp3CombinationValid(int kbps, int rate, int channels);
// How many encoders the MP3 check has created so far (each one builds a cached list).
int Mp3ConfigurationListsBuilt();

// WMA: the combinations the writer accepts.
bool WmaCombinationValid(int kbps, int rate, int channels);

bool CombinationValid(int format, int kbps, int rate, int channels);

// What the bit-rate list offers: the indices into BitRateList(format) that the encoder takes at
// this rate and channel count (every one for WAV, which has none).
std::vector<int> OfferedBitIndices(int format, int rate, int channels);

// What the sample-rate list offers: the indices into SampleRateList() at which the format has
// at least one valid bit rate and channel count (every rate for WAV and MP3).
std::vector<int> OfferedRateIndices(int format);

// The lists' selections. Indices refer to SampleRateList(), BitRateList(format) and the
// channel list (0 mono, 1 stereo).
struct QualityChoice {
    int format = kWav;
    int bitIndex = 0;
    int rateIndex = 0;
    int chanIndex = 1;

    int Kbps() const;  // 0 when the index is outside the list (WAV)
    int Rate() const;
    int Channels() const { return chanIndex + 1; }
    bool Valid() const { return CombinationValid(format, Kbps(), Rate(), Channels()); }
};

// Each returns false when no valid combination was found; the choice is then unchanged.
// Bit rate nearest to the current one that is valid with the current rate (mono first when
// mono is chosen, then stereo); ties go to the later list entry.
bool CorrectByBitRate(QualityChoice& q);
// The same over the sample-rate list, keeping the bit rate.
bool CorrectBySampleRate(QualityChoice& q);

// Reactions to the user changing one list (nothing happens for WAV).
void ReactToBitRate(QualityChoice& q);
void ReactToSampleRate(QualityChoice& q);
void ReactToChannels(QualityChoice& q);

// Index of `value` in `list`, or -1.
int IndexOf(std::span<const int> list, int value);
// A stored index when it lies in 0..size-1, else 0: an unset (-1) or stale value must never
// reach a table lookup.
int ClampIndex(int stored, int size);

}  // namespace tralux::models
