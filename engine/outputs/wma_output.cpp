#include "engine/outputs/wma_output.h"

#include <algorithm>
#include <cstdio>

namespace tralux {

namespace {

constexpr WmaCombination kListed[] = {
    {5, 8000, 1},    {6, 8000, 1},    {8, 8000, 1},   {8, 11025, 1},  {10, 11025, 1},
    {10, 16000, 1},  {12, 8000, 2},   {12, 16000, 1}, {16, 16000, 1}, {16, 16000, 2},
    {16, 22050, 1},  {20, 16000, 2},  {20, 22050, 1}, {20, 22050, 2}, {20, 32000, 1},
    {22, 22050, 2},  {22, 32000, 2},  {32, 22050, 2}, {32, 32000, 1}, {32, 32000, 2},
    {32, 44100, 1},  {36, 32000, 2},  {40, 32000, 2}, {44, 32000, 2}, {48, 32000, 2},
    {48, 44100, 2},  {64, 32000, 2},  {64, 44100, 2}, {80, 44100, 2}, {96, 44100, 2},
    {128, 44100, 2}, {160, 44100, 2},
};
// The encoder's floor is 24 kbit/s; the listed rates below it are 5..22.
constexpr int kMinimumKbps = 24;
constexpr WmaCombination kAccepted[] = {
    {32, 22050, 2}, {32, 32000, 1}, {32, 32000, 2}, {32, 44100, 1},  {36, 32000, 2},
    {40, 32000, 2}, {44, 32000, 2}, {48, 32000, 2}, {48, 44100, 2},  {64, 32000, 2},
    {64, 44100, 2}, {80, 44100, 2}, {96, 44100, 2}, {128, 44100, 2}, {160, 44100, 2},
};

const char* ChannelWord(int channels) {
    return channels == 1 ? "mono" : "stereo";
}

}  // namespace

std::span<const WmaCombination> WmaListedCombinations() {
    return kListed;
}
std::span<const WmaCombination> WmaAcceptedCombinations() {
    return kAccepted;
}

bool IsWmaCombinationAccepted(int kbps, std::uint32_t rate, int channels) {
    return std::any_of(std::begin(kAccepted), std::end(kAccepted), [&](const WmaCombination& c) {
        return c.kbps == kbps && c.rate == rate && c.channels == channels;
    });
}

std::string WmaCombinationProblem(int kbps, std::uint32_t rate, int channels) {
    if (IsWmaCombinationAccepted(kbps, rate, channels)) return {};
    char text[256];
    if (kbps < kMinimumKbps) {
        std::snprintf(text, sizeof text,
                      "%d kBps is too low: the WMA encoder needs at least %d kBps, and the offered "
                      "choices start at 32 kBps.",
                      kbps, kMinimumKbps);
    } else {
        std::snprintf(text, sizeof text,
                      "WMA does not offer %d kBps at %u Hz %s; the choices are 32 to 64 kBps at "
                      "32000 Hz, 48 to 160 kBps at 44100 Hz stereo, 32 kBps at 22050 Hz stereo or "
                      "44100 Hz mono.",
                      kbps, rate, ChannelWord(channels));
    }
    return text;
}

}  // namespace tralux
