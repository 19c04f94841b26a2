#include "app/core/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace tralux::app {

namespace {

// Two-digit hours, as the position display shows them.
std::string ClockWithHours(std::uint64_t s) {
    char buf[48];
    std::snprintf(
        buf, sizeof buf, "%02llu:%02llu:%02llu", static_cast<unsigned long long>(s / 3600),
        static_cast<unsigned long long>(s / 60 % 60), static_cast<unsigned long long>(s % 60));
    return buf;
}

}  // namespace

std::string FormatClock(std::uint64_t s) {
    if (s >= 3600) return ClockWithHours(s);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02llu:%02llu", static_cast<unsigned long long>(s / 60),
                  static_cast<unsigned long long>(s % 60));
    return buf;
}

std::string PositionDisplayText(std::uint64_t positionMs, std::uint64_t lengthMs) {
    const bool hours = lengthMs >= 3600000;
    // Past the length (a position drifting beyond an estimate) the display keeps the length.
    const std::uint64_t pos = std::min(positionMs, lengthMs > 0 ? lengthMs : positionMs);
    std::string text;
    if (hours) {
        text = ClockWithHours(pos / 1000) + "/" + ClockWithHours(lengthMs / 1000);
    } else {
        char buf[48];
        const std::uint64_t p = pos / 1000, l = lengthMs / 1000;
        std::snprintf(
            buf, sizeof buf, "%02llu:%02llu/%02llu:%02llu", static_cast<unsigned long long>(p / 60),
            static_cast<unsigned long long>(p % 60), static_cast<unsigned long long>(l / 60),
            static_cast<unsigned long long>(l % 60));
        text = buf;
        const std::uint64_t part = lengthMs % 1000;
        if (part != 0) {
            // Tenths rounded up, but never a "10th" tenth.
            const std::uint64_t tenths = std::min<std::uint64_t>((part + 99) / 100, 9);
            text += "." + std::to_string(tenths);
        }
    }
    return text;
}

ProgressFigures ComputeProgress(std::uint32_t startMs, std::uint32_t endMs, double positionMs,
                                std::int64_t elapsedMs) {
    ProgressFigures f;
    f.elapsedMs = std::max<std::int64_t>(0, elapsedMs);
    const std::int64_t total = endMs > startMs ? static_cast<std::int64_t>(endMs) - startMs : 0;
    if (total == 0) {
        f.percent = 100;
        f.totalMs = f.elapsedMs;
        return f;
    }
    double done = positionMs - static_cast<double>(startMs);
    done = std::clamp(done, 0.0, static_cast<double>(total));
    f.percent = static_cast<int>(done * 100.0 / static_cast<double>(total));
    const double est = done > 0
                           ? static_cast<double>(f.elapsedMs) * static_cast<double>(total) / done
                           : static_cast<double>(total);
    f.totalMs = static_cast<std::int64_t>(est);
    f.remainingMs = std::max<std::int64_t>(0, f.totalMs - f.elapsedMs);
    f.speedHundredths =
        est > 0 ? static_cast<int>(std::min(static_cast<double>(total) * 100.0 / est, 99999.0))
                : 100;
    return f;
}

std::string SpeedLine(int h) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "速度: x %d.%d%d ", h / 100, h / 10 % 10, h % 10);
    return buf;
}

std::string CompressionLine(int format, int mp3Kbps, int wmaKbps) {
    char buf[128];
    switch (format) {
        case 1:
            std::snprintf(buf, sizeof buf, "壓縮: MPEG Layer-3, 位元率: %d kBps", mp3Kbps);
            return buf;
        case 2:
            std::snprintf(buf, sizeof buf, "壓縮: MS Audio 4.0, 位元率: %d kBps", wmaKbps);
            return buf;
        default:
            return "壓縮: 不被壓縮的 WAV 檔";
    }
}

std::string QualityLine(int rate, int channels, bool equalizerOn, bool jitterOn, int bits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "品質 : 比率:    %d Hz, ", rate);
    std::string s = buf;
    s += channels == 1 ? "單聲, " : "立體聲, ";
    s += std::to_string(bits) + " 位元, 均衡器:   ";
    s += equalizerOn ? "開," : "關 ,";
    s += jitterOn ? " 定位: 開.  " : " 定位: 關.   ";
    return s;
}

std::string SingleTitleLine(int format, const std::string& name) {
    switch (format) {
        case 1:
            return "MP3 編碼至  " + name + " ....     ";
        case 2:
            return "MSAudio 4.0 編碼至  " + name + "....     ";
        default:
            return "正在解碼至 " + name + " .... ";
    }
}

std::string BatchOutputLine(int format, const std::string& path) {
    switch (format) {
        case 1:
            return "MP3 編碼成  " + path + " ....     ";
        case 2:
            return "MSAudio 4.0 編碼成  " + path + "....     ";
        default:
            return "正在解碼成 " + path + " .... ";
    }
}

std::string BatchCountLine(std::size_t number, std::size_t count) {
    return "正在解碼檔案 " + std::to_string(number) + " 至 " + std::to_string(count) + " ";
}

std::string BatchFileLine(const std::string& path) {
    return "檔案名稱: " + path + " ";
}

const char* FormatExtension(int format) {
    static constexpr const char* kExtensions[] = {".wav", ".mp3", ".wma", ".flac", ".opus"};
    return format >= 0 && format < 5 ? kExtensions[format] : ".wav";
}

const char* FormatName(int format) {
    static constexpr const char* kNames[] = {"WAV", "MP3", "WMA", "FLAC", "Opus"};
    return format >= 0 && format < 5 ? kNames[format] : "WAV";
}

std::string OutputPathFor(const std::string& input, const std::string& folder, int format) {
    // The name first: a dot in a folder name is not an extension.
    std::string name = input;
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos) name = name.substr(0, dot);
    name += FormatExtension(format);
    if (folder.empty()) return name;
    return WithTrailingSlash(folder) + name;
}

std::string WithTrailingSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool HasExtension(const std::string& name, const char* ext) {
    const std::string n = Lower(name), e = ext;
    return n.size() > e.size() && n.compare(n.size() - e.size(), e.size(), e) == 0;
}

bool Append(BatchList& list, std::string path) {
    if (list.inputs.size() >= kBatchLimit) {
        list.truncated = true;
        return false;
    }
    list.inputs.push_back(std::move(path));
    return true;
}

}  // namespace

BatchList CollectFolderInputs(const std::string& folder, const std::vector<std::string>& names,
                              const BatchFilters& filters) {
    BatchList list;
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    std::vector<const char*> patterns;
    if (filters.cda) patterns.push_back(".cda");
    if (filters.wav) patterns.push_back(".wav");
    if (filters.mp3) {
        patterns.push_back(".mp3");
        patterns.push_back(".mpeg");
        patterns.push_back(".mpg");
    }
    for (const std::string& ext : filters.more) patterns.push_back(ext.c_str());
    const std::string base = WithTrailingSlash(folder);
    for (const char* ext : patterns)
        for (const std::string& n : sorted)
            if (HasExtension(n, ext) && !Append(list, base + n)) return list;
    return list;
}

BatchList CollectCdInputs(const std::string& root, const std::vector<std::string>& names,
                          const std::function<int(const std::string&)>& trackOf,
                          const std::function<bool(int)>& selected) {
    BatchList list;
    const std::string base = WithTrailingSlash(root);
    for (const std::string& n : names) {
        if (!HasExtension(n, ".cda")) continue;
        const std::string path = base + n;
        const int track = trackOf(path);
        if (track > 0 && selected(track) && !Append(list, path)) return list;
    }
    return list;
}

namespace {

std::string SamePathKey(const std::string& p) {
    std::error_code ec;
    const std::filesystem::path abs = std::filesystem::absolute(p, ec);
    const std::filesystem::path c =
        std::filesystem::weakly_canonical(ec ? std::filesystem::path(p) : abs, ec);
    return (ec ? std::filesystem::path(p).lexically_normal() : c).string();
}

}  // namespace

OutputClash CheckBatchOutput(const std::vector<std::string>& inputs, std::size_t index,
                             const std::string& output, const std::vector<std::string>& written) {
    const std::string key = SamePathKey(output);
    for (std::size_t j = index + 1; j < inputs.size(); ++j)
        if (SamePathKey(inputs[j]) == key) return OutputClash::LaterInput;
    for (const std::string& w : written)
        if (SamePathKey(w) == key) return OutputClash::EarlierOutput;
    return OutputClash::None;
}

void BatchOutputGuard::Reset(const std::vector<std::string>& inputs) {
    lastInput_.clear();
    written_.clear();
    for (std::size_t i = 0; i < inputs.size(); ++i) lastInput_[SamePathKey(inputs[i])] = i;
}

OutputClash BatchOutputGuard::Check(std::size_t index, const std::string& output) const {
    const std::string key = SamePathKey(output);
    if (auto it = lastInput_.find(key); it != lastInput_.end() && it->second > index)
        return OutputClash::LaterInput;
    return written_.count(key) ? OutputClash::EarlierOutput : OutputClash::None;
}

void BatchOutputGuard::Written(const std::string& output) {
    written_.insert(SamePathKey(output));
}

std::string OutputClashMessage(OutputClash clash, const std::string& output) {
    switch (clash) {
        case OutputClash::LaterInput:
            return "輸出檔案 " + output +
                   " 是這個批次中稍後要轉換的檔案，為了不覆蓋它，這一項已略過。";
        case OutputClash::EarlierOutput:
            return "輸出檔案 " + output +
                   " 已由這個批次的另一個檔案寫出，為了不覆蓋它，這一項已略過。";
        default:
            return {};
    }
}

int CdaTrackNumber(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char b[24] = {};
    if (!in.read(reinterpret_cast<char*>(b), sizeof b)) return 0;
    if (std::string(reinterpret_cast<char*>(b), 4) != "RIFF" ||
        std::string(reinterpret_cast<char*>(b + 8), 4) != "CDDA")
        return 0;
    return b[22] | b[23] << 8;
}

}  // namespace tralux::app
