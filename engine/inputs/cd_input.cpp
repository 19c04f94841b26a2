#include "engine/inputs/cd_input.h"

#include <mutex>
#include <stdexcept>

#include "cd/reader.h"
#include "engine/formats/riff_reader.h"
#include "engine/job/errors.h"

namespace tralux {
namespace {

// One rip at a time: the transport is one process-wide instance and a drive reads serially.
std::mutex g_ripMutex;

class CdTrackInput final : public Input {
public:
    CdTrackInput(const StreamInfo& info, const InputOptions& options)
        : info_(info), options_(options) {}

    const StreamInfo& Describe() const override { return info_; }

    void Seek(std::uint64_t frame) override {
        // The reader counts in milliseconds; rounding up gives back the millisecond the frame
        // was taken from.
        const std::uint64_t rate = info_.SampleRate ? info_.SampleRate : 44100;
        startMs_ = static_cast<std::uint32_t>((frame * 1000 + rate - 1) / rate);
    }

    std::size_t Read(std::uint8_t*, std::size_t) override {
        throw std::logic_error("a CD track is pumped, not read");
    }

    void Pump(BlockSink& target) override {
        struct Sink final : cd::CdSink {
            explicit Sink(BlockSink& t) : target(t) {}
            void Block(std::uint8_t* data, std::size_t bytes) override {
                target.Block(data, bytes);
            }
            void Finish() override {}
            BlockSink& target;
        } sink(target);
        std::lock_guard lock(g_ripMutex);
        try {
            cd::CdRipRequest request;
            request.startMs = startMs_;
            request.jitter = options_.option("Jitter") > 0;
            request.skipBad = options_.option("SkipBadSectors") > 0;
            request.readOffset = options_.cdReadOffset;
            request.tap = options_.cdTap;
            cd::CdRipTrack(sink, info_, request);
        } catch (const cd::CdUnverified&) {
            throw JobError(kErrAudioUnverified);
        } catch (const cd::CdReadFailure&) {
            throw JobError(kErrSectorRead);
        } catch (const cd::CdTrackNotFound&) {
            throw JobError(kErrOpen);
        }
    }

private:
    StreamInfo info_;
    InputOptions options_;
    std::uint32_t startMs_ = 0;
};

}  // namespace

bool ProbeCdTrack(File& file, StreamInfo& info) {
    std::uint8_t b[4];
    if (!file.ReadExact(b, 4) || b[0] != 'R' || b[1] != 'I' || b[2] != 'F' || b[3] != 'F')
        return false;
    return ReadRiffInput(file, info, true) && info.trackNumber != 0;
}

std::unique_ptr<Input> OpenCdTrack(File&, const StreamInfo& info, const InputOptions& options) {
    return std::make_unique<CdTrackInput>(info, options);
}

}  // namespace tralux
