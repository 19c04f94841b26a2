#pragma once
// What the MP3 encoder can make, asked of the encoder itself (its configuration list), so a
// front end can refuse a combination before a job starts instead of getting another one.
#include <cstdint>
#include <vector>

namespace tralux {

// Sample rates the encoder writes (MPEG-1, 2 and 2.5 rates).
const std::vector<std::uint32_t>& Mp3OutputRates();
// Bit rates in kbit/s that the configuration list offers for an output rate and channel count,
// ascending; empty when the encoder cannot be made for that rate.
std::vector<int> Mp3BitRatesKbps(std::uint32_t rate, int channels);
// The bit rate the encoder falls back to when the asked one is not listed (kbit/s).
int Mp3DefaultKbps(std::uint32_t rate, int channels);
// What a job writes when `wanted` is not listed: the highest listed bit rate up to it, else
// the lowest listed; 0 when nothing is listed for the rate and channels.
int Mp3KbpsFor(std::uint32_t rate, int channels, int wanted);

}  // namespace tralux
