#include "engine/job/cd_source.h"

#include "cd/reader.h"
#include "engine/job/errors.h"
#include "engine/job/job.h"

namespace tralux {

void CdSourceLoop(StreamInfo& info) {
    EngineState& e = Engine();
    struct Sink final : cd::CdSink {
        explicit Sink(const StreamInfo& i) : info(i) {}
        void Block(std::uint8_t* data, std::size_t bytes) override {
            ProcessBlock(data, bytes, info);
        }
        void Finish() override { FlushPipeline(info); }
        const StreamInfo& info;
    } sink(info);
    const std::uint32_t startMs = e.StartMs.load();
    e.PositionMs.store(startMs);
    e.PlaybackStartMs.store(startMs);
    try {
        cd::CdRipRequest request;
        request.startMs = startMs;
        request.jitter = ReadEngineOption("Jitter") > 0;
        request.skipBad = ReadEngineOption("SkipBadSectors") > 0;
        request.readOffset = e.CdReadOffset.load();
        request.tap = e.CdTap;
        cd::CdRipTrack(sink, info, request);
    } catch (const cd::CdUnverified&) {
        throw JobError(kErrAudioUnverified);
    } catch (const cd::CdReadFailure&) {
        throw JobError(kErrSectorRead);
    } catch (const cd::CdTrackNotFound&) {
        throw JobError(kErrOpen);
    }
}

}  // namespace tralux
