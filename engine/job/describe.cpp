#include "engine/job/describe.h"

namespace tralux {

std::string Thousands(std::uint32_t value) {
    if (value % 100 > 50) value += 100;
    std::string s = std::to_string(value / 1000);
    const std::uint32_t hundreds = (value / 100) % 10;
    if (hundreds != 0) s += "." + std::to_string(hundreds);
    return s;
}

std::string DescribeInput(const StreamInfo& info) {
    std::string first;
    for (const std::string* t : {&info.Title, &info.Artist, &info.Copyright}) {
        if (t->empty()) continue;
        if (!first.empty()) first += ",";
        first += *t;
    }
    const std::uint32_t bitRate = info.BitRate2 ? info.BitRate2 : info.BitRate;
    std::string second =
        bitRate > 1048576 ? Thousands(bitRate / 1024) + "mBps," : Thousands(bitRate) + "kBps,";
    second += Thousands(info.SampleRate) + "kHz,";
    second += info.Channels == 1 ? "單聲," : "立體聲,";
    second += " " + info.CodecName + "," + std::to_string(info.MediaBits ? info.MediaBits : info.BitsPerSample) + " bits,";
    return first + "\n" + second;
}

}  // namespace tralux
