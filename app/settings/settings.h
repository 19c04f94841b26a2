#pragma once
// The program's persistent settings: one INI file per user and program,
// <config home>/<company>/<application>.ini, with the sections "Options", "WindowsPos",
// "Equalizer" and "CDDB". Every value is a string; numbers are decimal. Nothing is cached:
// each call reads or writes the file, so every read sees the last write from any thread or
// process. Storage errors are not reported; an unreadable value behaves as unset.
//
// All functions are thread-safe and act on one process-wide store.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tralux::settings {

// --- Where the store lives -------------------------------------------------------------------
// Company folder; "Quorvatix" unless set.
void SetRegistryKey(std::string company);
// File name without ".ini"; defaults to the executable's base name.
void SetApplicationName(std::string name);
// Replaces $XDG_CONFIG_HOME (or ~/.config) as the folder holding the company folder; an empty
// path goes back to that default.
void SetConfigRoot(std::filesystem::path root);
// The file the store currently uses (empty when no home folder is known).
std::filesystem::path SettingsFile();

// --- Generic access -------------------------------------------------------------------------
// "%d"-style: leading blanks, optional sign, digits; anything after the digits is ignored.
// Empty text, no digits, or a number outside int reads as -1 (unset).
int ParseNumber(std::string_view text);

std::string ReadProfileText(std::string_view section, std::string_view key);  // missing: ""
void WriteProfileText(std::string_view section, std::string_view key, std::string_view value);
int ReadProfileNumber(std::string_view section, std::string_view key);  // missing/bad: -1
void WriteProfileNumber(std::string_view section, std::string_view key, int value);

// --- Section "Options" ----------------------------------------------------------------------
int ReadOption(std::string_view name);
void WriteOption(std::string_view name, int value);
std::string ReadOptionText(std::string_view name);
void WriteOptionText(std::string_view name, std::string_view text);
// A value that holds for one run (a batch file's bit rate) and is never stored: ReadOption sees
// it first until the overrides are cleared.
void OverrideOption(std::string_view name, int value);
void ClearOptionOverrides();

// Writes the thirteen first-run values, each only where the value reads as unset.
void EnsureOptionDefaults();
// When "BOut" is empty, stores the first usable folder among the user's music folder, ~/Music,
// ~/music, the home folder, /tmp and /, with a trailing '/'. Leaves the current directory alone.
void ChooseDefaultOutputFolder();

// --- Main window state ----------------------------------------------------------------------
struct WindowPlacement {
    unsigned flags = 0, showCmd = 0;
    int minX = 0, minY = 0, maxX = 0, maxY = 0;
    int left = 0, top = 0, right = 0, bottom = 0;
};
inline constexpr unsigned kShowMinimized = 2;
inline constexpr unsigned kRestoreToMaximized = 2;

// True only when "WindowsPos"/"Main" holds all ten numbers; otherwise `out` is untouched.
bool LoadWindowPlacement(WindowPlacement& out);
// A minimized window (or show command 2) is not written; a maximized one restores maximized.
void SaveWindowPlacement(const WindowPlacement& placement, bool maximized, bool minimized);

struct EqualizerSettings {
    std::array<int, 11> levels{50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50};  // 10 bands, master
    bool on = true;
};
inline constexpr int kEqualizerMax = 99;

// True when "Equalizer"/"Main" holds twelve numbers with levels 0..99; otherwise `out` keeps
// what the caller set (the defaults).
bool LoadEqualizer(EqualizerSettings& out);
void SaveEqualizer(const EqualizerSettings& eq);
// The equalizer first, then the placement; a null placement (the window could not report it)
// leaves the stored one.
void SaveWindowState(const EqualizerSettings& eq, const WindowPlacement* placement, bool maximized,
                     bool minimized);

// --- Quality lists and batch output ---------------------------------------------------------
inline constexpr std::array<int, 6> kSampleRates{8000, 11025, 16000, 22050, 32000, 44100};
// Stored indices point into these lists: new entries only ever go at the end.
inline constexpr std::array<int, 19> kMp3BitRates{8,   16,  24,  32,  40,  48,  56,  64,  80, 96,
                                                  112, 128, 144, 160, 176, 192, 224, 256, 320};
inline constexpr std::array<int, 18> kWmaBitRates{5,  6,  8,  10, 12, 16, 20, 22,  32,
                                                  36, 40, 44, 48, 64, 80, 96, 128, 160};
// FLAC compression levels and Opus bit rates (kBps); stored as "FLACLevel" and "OpusBitRate"
// (values), "BQ_LEVELFLAC" and "BQ_BRATEOPUS" (indices).
inline constexpr std::array<int, 9> kFlacLevels{0, 1, 2, 3, 4, 5, 6, 7, 8};
inline constexpr std::array<int, 9> kOpusBitRates{32, 48, 64, 96, 128, 160, 192, 256, 320};

// Entries of the lists by stored index; nullopt for an unset or out-of-range index.
std::optional<int> SampleRateAt(int index);
std::optional<int> Mp3BitRateAt(int index);
std::optional<int> WmaBitRateAt(int index);

enum OutputFormatCode : int {
    kFormatWav = 0,
    kFormatMp3 = 1,
    kFormatWma = 2,
    kFormatFlac = 3,
    kFormatOpus = 4
};

struct BatchOutput {
    int format;    // kFormatWav .. kFormatOpus
    int rate;      // Hz
    int channels;  // 1 or 2 (automatic mode: the input's count)
};

// The output of one batch or CD job from "BAQ", "BOutFormat" and the "BQ_..." choices; sets
// "MP3BitRate" or "MSABitRate" for MP3 and WMA as overrides, so the single conversion's stored
// choice stays. Nullopt, with nothing written, when the format
// is unknown or a stored index is unset or outside its list.
std::optional<BatchOutput> ResolveBatchOutput(int inputRate, int inputChannels);

}  // namespace tralux::settings
