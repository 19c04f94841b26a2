#include "engine/outputs/wma_output.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "platform/notify/notifier.h"
#include "platform/wma/wma_file_writer.h"

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

constexpr const char* kCaption = "Quorvatix Tralux Error";

std::unique_ptr<platform::WmaFileWriter> g_writer;
bool g_failureShown = false;  // a failed write was reported; closing need not say it again
int g_channels = 0;           // of the open writer's input

const char* ChannelWord(int channels) {
    return channels == 1 ? "mono" : "stereo";
}

[[noreturn]] void FailWith(const std::string& text) {
    ShowMessage("WMA: " + text, kCaption, MessageIcon::Error);
    throw JobError(kErrCodecInit);
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

void WmaWriterStart(const std::string& path, int channels, std::uint32_t rate,
                    int kilobitsPerSecond) {
    WmaWriterClose();
    EngineState& e = Engine();
    std::string error;
    auto writer = platform::WmaFileWriter::Create(path, error);
    if (!writer) FailWith(error);
    if (ReadEngineOption("PlaceClipInfo") != 0) {
        // The job's tag texts (copied from the input by the front end).
        if (writer->SetAttribute("Title", e.TagTitle) < 0 ||
            writer->SetAttribute("Author", e.TagArtist) < 0 ||
            writer->SetAttribute("Copyright", e.TagCopyright) < 0)
            FailWith(writer->ErrorText());
        const std::pair<const char*, const std::string*> more[] = {{"WM/AlbumTitle", &e.TagAlbum},
                                                                   {"WM/TrackNumber", &e.TagTrack},
                                                                   {"WM/Year", &e.TagYear},
                                                                   {"WM/Genre", &e.TagGenre}};
        for (const auto& [name, text] : more)
            if (!text->empty() && writer->SetAttribute(name, *text) < 0)
                FailWith(writer->ErrorText());
    }
    if (writer->SetInputFormat(channels, rate, 16) < 0) FailWith(writer->ErrorText());
    const int kbps = std::max(kilobitsPerSecond, 0);
    if (writer->SetOutputFormat(static_cast<std::int64_t>(kbps) * 1000, rate, channels) < 0) {
        std::string text = WmaCombinationProblem(kbps, rate, channels);
        if (text.empty() || kbps >= kMinimumKbps)
            text += (text.empty() ? "" : " ") + writer->ErrorText();
        FailWith(text);  // the writer's destructor removes the empty file
    }
    g_writer = std::move(writer);
    g_failureShown = false;
    g_channels = channels;
}

std::size_t WmaWriterFeed(const std::uint8_t* samples, std::size_t byteCount) {
    if (!g_writer) throw JobError(kErrCodecInit);
    // Half a sample frame is the caller's fault, not the file's.
    if (byteCount % (static_cast<std::size_t>(g_channels) * 2) != 0) {
        g_failureShown = true;
        FailWith("sample data is not whole frames");
    }
    if (g_writer->WriteSample(samples, byteCount) < 0) {
        // A write that failed (a full disk) is a file failure, not a codec one: the job
        // reports it with the path and removes the output.
        g_failureShown = true;
        throw FileError(kCauseGeneric, Engine().OutputPath, g_writer->ErrorText());
    }
    return byteCount;
}

void WmaWriterFinish() {
    if (!g_writer) return;
    auto writer = std::move(g_writer);  // released once, whatever happens
    const int result = writer->Flush();
    const std::string text = writer->ErrorText();
    writer.reset();
    if (result < 0) {
        g_failureShown = true;
        throw FileError(kCauseGeneric, Engine().OutputPath, text);
    }
}

void WmaWriterClose() {
    if (!g_writer) return;
    auto writer = std::move(g_writer);
    if (writer->Flush() < 0 && !g_failureShown)
        ShowMessage("WMA: " + writer->ErrorText(), kCaption, MessageIcon::Error);
    writer.reset();
}

}  // namespace tralux
