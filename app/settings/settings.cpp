#include "app/settings/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <memory>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/ini/ini_store.h"

namespace tralux::settings {
namespace {

constexpr std::string_view kOptions = "Options";
constexpr std::string_view kWindowsPos = "WindowsPos";
constexpr std::string_view kEqualizer = "Equalizer";
constexpr std::string_view kMain = "Main";

struct Registry {
    std::mutex mutex;
    std::string company = "Quorvatix";
    std::string application;     // empty: the executable's name
    std::filesystem::path root;  // empty: XDG default
    std::shared_ptr<ini::IniStore> store;
};

Registry& Instance() {
    static Registry registry;
    return registry;
}

// One path component: no separators, never "." or "..".
std::string SafeComponent(std::string name) {
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name == "." || name == "..") name = "_";
    return name;
}

std::string ExecutableName() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && !exe.filename().empty()) return exe.filename().string();
    return "tralux";
}

// The store for the current settings path, or null when no path can be formed.
std::shared_ptr<ini::IniStore> Store() {
    auto& r = Instance();
    std::lock_guard lock(r.mutex);
    const auto root = r.root.empty() ? ini::DefaultConfigHome() : r.root;
    if (root.empty()) return nullptr;
    const auto app = r.application.empty() ? ExecutableName() : r.application;
    const auto file = root / SafeComponent(r.company) / (SafeComponent(app) + ".ini");
    if (!r.store || r.store->File() != file) r.store = std::make_shared<ini::IniStore>(file);
    return r.store;
}

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Scans `count` comma-separated numbers the way "%d,%d,..." does (blanks before each number,
// none before a comma, anything after the last ignored). Values outside the int64 guard fail.
bool ScanNumbers(std::string_view text, std::size_t count, std::vector<long long>& out) {
    out.clear();
    std::size_t pos = 0;
    for (std::size_t k = 0; k < count; ++k) {
        if (k > 0) {
            if (pos >= text.size() || text[pos] != ',') return false;
            ++pos;
        }
        while (pos < text.size() && IsCSpace(text[pos])) ++pos;
        bool negative = false;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
            negative = text[pos++] == '-';
        const std::size_t digits = pos;
        long long value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + (text[pos++] - '0');
            if (value > (1LL << 33)) return false;
        }
        if (pos == digits) return false;
        out.push_back(negative ? -value : value);
    }
    return true;
}

bool InInt(long long v) {
    return v >= INT_MIN && v <= INT_MAX;
}

std::string JoinNumbers(std::initializer_list<long long> values) {
    std::string text;
    for (long long v : values) {
        if (!text.empty()) text += ',';
        text += std::to_string(v);
    }
    return text;
}

template <std::size_t N>
std::optional<int> At(const std::array<int, N>& list, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= N) return std::nullopt;
    return list[static_cast<std::size_t>(index)];
}

// --- Default output folder ------------------------------------------------------------------

bool UsableFolder(const std::filesystem::path& path) {
    struct stat st {};
    // Search permission is what changing into the folder needs.
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// XDG_MUSIC_DIR from user-dirs.dirs: "$HOME/..." or an absolute path, shell-quoted.
std::optional<std::filesystem::path> MusicFolderFromUserDirs(const std::filesystem::path& home) {
    const auto config = ini::DefaultConfigHome();
    if (config.empty()) return std::nullopt;
    std::ifstream in(config / "user-dirs.dirs", std::ios::binary);
    std::string line;
    std::optional<std::filesystem::path> found;
    std::size_t total = 0;
    while (in && std::getline(in, line)) {
        total += line.size();
        if (total > (1u << 20)) break;
        std::string_view s = line;
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        constexpr std::string_view kName = "XDG_MUSIC_DIR";
        if (s.substr(0, kName.size()) != kName) continue;
        s.remove_prefix(kName.size());
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        if (s.empty() || s.front() != '=') continue;
        s.remove_prefix(1);
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        std::string value;
        if (!s.empty() && s.front() == '"') {
            bool closed = false;
            for (std::size_t i = 1; i < s.size(); ++i) {
                if (s[i] == '\\' && i + 1 < s.size()) {
                    value += s[++i];
                } else if (s[i] == '"') {
                    closed = true;
                    break;
                } else {
                    value += s[i];
                }
            }
            if (!closed) continue;
        } else {
            while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
                s.remove_suffix(1);
            value = std::string(s);
        }
        std::filesystem::path path;
        constexpr std::string_view kHome = "$HOME";
        if (value.compare(0, kHome.size(), kHome) == 0 &&
            (value.size() == kHome.size() || value[kHome.size()] == '/')) {
            if (home.empty()) continue;
            path = home.string() + value.substr(kHome.size());
        } else if (!value.empty() && value.front() == '/') {
            path = value;
        } else {
            continue;
        }
        found = path;  // the last assignment wins, as when the file is sourced by a shell
    }
    if (!found) return std::nullopt;
    // A music folder set to the home folder means "disabled"; the home folder is tried later.
    std::error_code ec;
    if (!home.empty() && std::filesystem::equivalent(*found, home, ec)) return std::nullopt;
    return found;
}

}  // namespace

void SetRegistryKey(std::string company) {
    auto& r = Instance();
    std::lock_guard lock(r.mutex);
    r.company = company.empty() ? "Quorvatix" : std::move(company);
}

void SetApplicationName(std::string name) {
    auto& r = Instance();
    std::lock_guard lock(r.mutex);
    r.application = std::move(name);
}

void SetConfigRoot(std::filesystem::path root) {
    auto& r = Instance();
    std::lock_guard lock(r.mutex);
    r.root = std::move(root);
}

std::filesystem::path SettingsFile() {
    const auto store = Store();
    return store ? store->File() : std::filesystem::path{};
}

int ParseNumber(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsCSpace(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    const std::size_t digits = pos;
    long long value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos++] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return -1;  // out of range: unset
    }
    if (pos == digits) return -1;
    if (negative) value = -value;
    return InInt(value) ? static_cast<int>(value) : -1;
}

std::string ReadProfileText(std::string_view section, std::string_view key) {
    const auto store = Store();
    if (!store) return {};
    return store->Read(section, key).value_or(std::string{});
}

void WriteProfileText(std::string_view section, std::string_view key, std::string_view value) {
    if (const auto store = Store()) store->Write(section, key, value);
}

int ReadProfileNumber(std::string_view section, std::string_view key) {
    return ParseNumber(ReadProfileText(section, key));
}

void WriteProfileNumber(std::string_view section, std::string_view key, int value) {
    WriteProfileText(section, key, std::to_string(value));
}

namespace {
struct Overrides {
    std::mutex mutex;
    std::map<std::string, int, std::less<>> values;
};
Overrides& RunOverrides() {
    static Overrides o;
    return o;
}
}  // namespace

int ReadOption(std::string_view name) {
    {
        auto& o = RunOverrides();
        std::lock_guard lock(o.mutex);
        if (auto it = o.values.find(name); it != o.values.end()) return it->second;
    }
    return ReadProfileNumber(kOptions, name);
}
void OverrideOption(std::string_view name, int value) {
    auto& o = RunOverrides();
    std::lock_guard lock(o.mutex);
    o.values[std::string(name)] = value;
}
void ClearOptionOverrides() {
    auto& o = RunOverrides();
    std::lock_guard lock(o.mutex);
    o.values.clear();
}
void WriteOption(std::string_view name, int value) {
    WriteProfileNumber(kOptions, name, value);
}
std::string ReadOptionText(std::string_view name) {
    return ReadProfileText(kOptions, name);
}
void WriteOptionText(std::string_view name, std::string_view text) {
    WriteProfileText(kOptions, name, text);
}

void EnsureOptionDefaults() {
    static constexpr std::pair<std::string_view, int> kDefaults[] = {
        {"BOutFormat", 0},   {"BAQ", 0},         {"BIF_WAV", 1},    {"BIF_REAL", 1},
        {"BIF_MP3", 1},      {"BIF_CDDA", 1},    {"BQ_CHANMP3", 0}, {"BQ_CHANWMA", 0},
        {"BQ_BRATEMP3", 11}, {"BQ_BRATEWMA", 5}, {"BQ_RATEMP3", 0}, {"BQ_RATEWMA", 0},
        {"Jitter", 0}};
    const auto store = Store();
    if (!store) return;
    // One locked read-modify-write: one file replacement instead of thirteen.
    store->Update([](ini::IniDocument& doc, bool&) {
        bool changed = false;
        for (const auto& [name, value] : kDefaults) {
            if (ParseNumber(doc.Get(kOptions, name).value_or(std::string{})) != -1) continue;
            changed = doc.Set(kOptions, name, std::to_string(value)) || changed;
        }
        return changed;
    });
}

void ChooseDefaultOutputFolder() {
    if (!ReadOptionText("BOut").empty()) return;
    const auto home = ini::HomeFolder();
    std::vector<std::filesystem::path> candidates;
    if (auto music = MusicFolderFromUserDirs(home)) candidates.push_back(*music);
    if (!home.empty()) {
        candidates.push_back(home / "Music");
        candidates.push_back(home / "music");
        candidates.push_back(home);
    }
    candidates.emplace_back("/tmp");
    candidates.emplace_back("/");
    for (const auto& folder : candidates) {
        if (!UsableFolder(folder)) continue;
        std::string text = folder.string();
        if (text.back() != '/') text += '/';
        WriteOptionText("BOut", text);
        return;
    }
}

bool LoadWindowPlacement(WindowPlacement& out) {
    const auto text = ReadProfileText(kWindowsPos, kMain);
    std::vector<long long> v;
    if (!ScanNumbers(text, 10, v)) return false;
    for (std::size_t i = 0; i < 2; ++i)
        if (v[i] < 0 || v[i] > static_cast<long long>(UINT_MAX)) return false;
    for (std::size_t i = 2; i < 10; ++i)
        if (!InInt(v[i])) return false;
    out.flags = static_cast<unsigned>(v[0]);
    out.showCmd = static_cast<unsigned>(v[1]);
    out.minX = static_cast<int>(v[2]);
    out.minY = static_cast<int>(v[3]);
    out.maxX = static_cast<int>(v[4]);
    out.maxY = static_cast<int>(v[5]);
    out.left = static_cast<int>(v[6]);
    out.top = static_cast<int>(v[7]);
    out.right = static_cast<int>(v[8]);
    out.bottom = static_cast<int>(v[9]);
    return true;
}

void SaveWindowPlacement(const WindowPlacement& placement, bool maximized, bool minimized) {
    if (minimized || placement.showCmd == kShowMinimized) return;
    const unsigned flags = maximized ? kRestoreToMaximized : placement.flags;
    WriteProfileText(kWindowsPos, kMain,
                     JoinNumbers({flags, placement.showCmd, placement.minX, placement.minY,
                                  placement.maxX, placement.maxY, placement.left, placement.top,
                                  placement.right, placement.bottom}));
}

bool LoadEqualizer(EqualizerSettings& out) {
    const auto text = ReadProfileText(kEqualizer, kMain);
    std::vector<long long> v;
    if (!ScanNumbers(text, 12, v)) return false;
    // Levels outside 0..99 would index past the equalizer's tables: keep the defaults instead.
    for (std::size_t i = 0; i < 11; ++i)
        if (v[i] < 0 || v[i] > kEqualizerMax) return false;
    if (!InInt(v[11])) return false;
    for (std::size_t i = 0; i < 11; ++i) out.levels[i] = static_cast<int>(v[i]);
    out.on = v[11] != 0;
    return true;
}

void SaveEqualizer(const EqualizerSettings& eq) {
    std::string text;
    for (int level : eq.levels) text += std::to_string(level) + ',';
    text += eq.on ? '1' : '0';
    WriteProfileText(kEqualizer, kMain, text);
}

void SaveWindowState(const EqualizerSettings& eq, const WindowPlacement* placement, bool maximized,
                     bool minimized) {
    SaveEqualizer(eq);
    if (placement) SaveWindowPlacement(*placement, maximized, minimized);
}

std::optional<int> SampleRateAt(int index) {
    return At(kSampleRates, index);
}
std::optional<int> Mp3BitRateAt(int index) {
    return At(kMp3BitRates, index);
}
std::optional<int> WmaBitRateAt(int index) {
    return At(kWmaBitRates, index);
}

std::optional<BatchOutput> ResolveBatchOutput(int inputRate, int inputChannels) {
    const int format = ReadOption("BOutFormat");
    if (format < kFormatWav || format > kFormatOpus) return std::nullopt;

    if (ReadOption("BAQ") != 0) {
        // Custom: every stored index is checked before anything is used or written.
        static constexpr std::string_view kRateKey[] = {"BQ_RATEWAV", "BQ_RATEMP3", "BQ_RATEWMA",
                                                        "BQ_RATEFLAC", "BQ_RATEOPUS"};
        static constexpr std::string_view kChanKey[] = {"BQ_CHANWAV", "BQ_CHANMP3", "BQ_CHANWMA",
                                                        "BQ_CHANFLAC", "BQ_CHANOPUS"};
        const auto rate = SampleRateAt(ReadOption(kRateKey[format]));
        const int channelChoice = ReadOption(kChanKey[format]);
        if (!rate || channelChoice < 0 || channelChoice > 1) return std::nullopt;
        if (format == kFormatMp3) {
            const auto kbps = Mp3BitRateAt(ReadOption("BQ_BRATEMP3"));
            if (!kbps) return std::nullopt;
            OverrideOption("MP3BitRate", *kbps);
            OverrideOption("MP3Vbr", -1);  // batch lists offer constant rates only
        } else if (format == kFormatWma) {
            const auto kbps = WmaBitRateAt(ReadOption("BQ_BRATEWMA"));
            if (!kbps) return std::nullopt;
            OverrideOption("MSABitRate", *kbps);
        } else if (format == kFormatFlac) {
            const int i = ReadOption("BQ_LEVELFLAC");
            if (i < 0 || i >= static_cast<int>(kFlacLevels.size())) return std::nullopt;
            OverrideOption("FLACLevel", kFlacLevels[static_cast<std::size_t>(i)]);
        } else if (format == kFormatOpus) {
            const int i = ReadOption("BQ_BRATEOPUS");
            if (i < 0 || i >= static_cast<int>(kOpusBitRates.size())) return std::nullopt;
            OverrideOption("OpusBitRate", kOpusBitRates[static_cast<std::size_t>(i)]);
        }
        return BatchOutput{format, *rate, channelChoice + 1};
    }

    const bool mono = inputChannels == 1;
    // Lossless and Opus take any rate: the input's own, at the stored level or bit rate.
    if (format == kFormatWav || format == kFormatFlac || format == kFormatOpus)
        return BatchOutput{format, inputRate, inputChannels};
    if (format == kFormatMp3) {
        struct Row {
            int upTo, rate, monoKbps, stereoKbps;
        };
        static constexpr Row kRows[] = {{8000, 11025, 16, 20},
                                        {16000, 16000, 24, 40},
                                        {22050, 22050, 32, 64},
                                        {32000, 32000, 48, 96},
                                        {INT_MAX, 44100, 64, 128}};
        for (const auto& row : kRows) {
            if (inputRate > row.upTo) continue;
            OverrideOption("MP3BitRate", mono ? row.monoKbps : row.stereoKbps);
            OverrideOption("MP3Vbr", -1);
            return BatchOutput{kFormatMp3, row.rate, inputChannels};
        }
        return std::nullopt;
    }
    struct Row {
        int upTo, monoRate, monoKbps, stereoRate, stereoKbps;
    };
    // The writer refuses every bit rate below 32 kBps, and with it every rate up to 16000 Hz:
    // low-rate inputs go to the smallest combination it takes.
    static constexpr Row kRows[] = {{22050, 32000, 32, 22050, 32},
                                    {32000, 32000, 32, 32000, 64},
                                    {INT_MAX, 44100, 32, 44100, 80}};
    for (const auto& row : kRows) {
        if (inputRate > row.upTo) continue;
        OverrideOption("MSABitRate", mono ? row.monoKbps : row.stereoKbps);
        return BatchOutput{kFormatWma, mono ? row.monoRate : row.stereoRate, inputChannels};
    }
    return std::nullopt;
}

}  // namespace tralux::settings
