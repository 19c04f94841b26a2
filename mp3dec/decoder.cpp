#include <algorithm>
#include <cstring>
#include <new>

#include "mp3dec/frame_finder.h"
#include "mp3dec/layer3.h"
#include "mp3dec/mp3dec.h"

namespace mp3dec {

class DecoderObject {
public:
    DecoderObject(int rateShift, bool eightBit, bool mono) : layer3_(rateShift, eightBit, mono) {
        Reset();
    }

    void Reset() {
        ring_.Clear();
        finder_.Reset();
        layer3_.Reset();
        endOfInput_ = false;
        eof_ = false;
        consumed_ = 0;
    }

    size_t Feed(const uint8_t* bytes, size_t length) { return ring_.Feed(bytes, length); }
    size_t FreeSpace() const { return ring_.Free(); }
    void EndOfInput() { endOfInput_ = true; }
    bool IsEof() const { return eof_; }
    void SetPosition(int64_t position) {
        // The byte at the ring's read position sits this far before the next byte to be fed.
        position_ = position - static_cast<int64_t>(ring_.Size());
        consumed_ = 0;
    }

    Status Decode(void* out, size_t capacity, size_t& produced, bool floatOutput) {
        produced = 0;
        detail::FrameHeader h;
        size_t skipped = 0;
        const Status sync = finder_.Find(ring_, endOfInput_, h, skipped);
        consumed_ += skipped;
        if (sync != kOk) {
            if (sync == kSyncEof) eof_ = true;
            if (sync == kSyncLost) layer3_.Reset();
            return sync;
        }
        if (h.layer != 3) return kErrLayer;
        const size_t need = layer3_.OutputBytes(h, floatOutput);
        if (capacity < need) return kErrBufferTooSmall;
        ring_.Copy(0, static_cast<size_t>(h.frameBytes), frame_);
        std::memset(frame_ + h.frameBytes, 0, 32);
        ring_.Skip(static_cast<size_t>(h.frameBytes));
        const size_t tagAt = static_cast<size_t>(4 + h.sideInfoBytes);
        for (size_t at : {tagAt, tagAt + 2}) {
            if (at + 4 > static_cast<size_t>(h.frameBytes)) break;
            if (!std::memcmp(frame_ + at, "Xing", 4) || !std::memcmp(frame_ + at, "Info", 4))
                layer3_.SetTaggedEncoder(true);
        }
        last_ = h;
        hasLast_ = true;
        lastOffset_ = position_ + consumed_;
        consumed_ += static_cast<size_t>(h.frameBytes);
        const detail::FrameResult r = layer3_.DecodeFrame(h, frame_, out, floatOutput);
        produced = need;
        switch (r) {
            case detail::FrameResult::kOk:
                return kOk;
            case detail::FrameResult::kMissingMainData:
                return kInfoMainData;
            case detail::FrameResult::kCrcError:
            case detail::FrameResult::kConcealed:
                return kInfoCrc;
        }
        return kOk;
    }

    bool Properties(Mp3FrameProperties& p) const {
        if (!hasLast_) return false;
        p.version = last_.version;
        p.sampleRate = last_.sampleRate;
        p.outputRate = last_.sampleRate >> layer3_.rateShift();
        p.channels = last_.channels;
        p.outputChannels = layer3_.monoOutput() ? 1 : last_.channels;
        p.bitrate = last_.bitrate;
        p.samplesPerFrame = last_.samplesPerFrame() >> layer3_.rateShift();
        p.frameOffset = lastOffset_;
        return true;
    }
    void SetTaggedEncoder(bool tagged) { layer3_.SetTaggedEncoder(tagged); }
    int InputRate() const { return hasLast_ ? last_.bitrate / 8 : 0; }

    const uint32_t magic = kDecoderMagic;

private:
    detail::InputRing ring_;
    detail::FrameFinder finder_;
    detail::Layer3 layer3_;
    uint8_t frame_[1441 + 64];
    detail::FrameHeader last_;
    bool hasLast_ = false;
    bool endOfInput_ = false;
    bool eof_ = false;
    int64_t position_ = 0;
    int64_t consumed_ = 0;
    int64_t lastOffset_ = -1;
};

size_t Mp3DecoderObjectBytes() {
    return sizeof(DecoderObject);
}

namespace {
DecoderObject* Get(Mp3DecoderHandle h) {
    if (h.magic != kDecoderMagic || !h.object || h.object->magic != kDecoderMagic) return nullptr;
    return h.object;
}
}  // namespace

Status Mp3DecoderCreate(Mp3DecoderHandle& handle, int rateShift, bool eightBit, bool monoOutput) {
    handle = Mp3DecoderHandle{};
    if (rateShift < 0 || rateShift > 2) return kErrParameter;
    DecoderObject* obj = new (std::nothrow) DecoderObject(rateShift, eightBit, monoOutput);
    if (!obj) return kErrMemory;
    handle.magic = kDecoderMagic;
    handle.object = obj;
    return kOk;
}

Status Mp3DecoderDelete(Mp3DecoderHandle& handle) {
    DecoderObject* d = Get(handle);
    if (!d) return kErrHandle;
    delete d;
    handle = Mp3DecoderHandle{};
    return kOk;
}

Status Mp3DecoderReset(Mp3DecoderHandle handle) {
    DecoderObject* d = Get(handle);
    if (!d) return kErrHandle;
    d->Reset();
    return kOk;
}

Status Mp3DecoderFeed(Mp3DecoderHandle handle, const uint8_t* bytes, size_t length,
                      size_t& accepted) {
    accepted = 0;
    DecoderObject* d = Get(handle);
    if (!d) return kErrHandle;
    if (!bytes && length) return kErrParameter;
    accepted = length ? d->Feed(bytes, length) : 0;
    return kOk;
}

Status Mp3DecoderDecode(Mp3DecoderHandle handle, void* output, size_t capacity, size_t& produced) {
    produced = 0;
    DecoderObject* d = Get(handle);
    if (!d) return kErrHandle;
    if (!output) return kErrParameter;
    return d->Decode(output, capacity, produced, false);
}

Status Mp3DecoderDecodeFloat(Mp3DecoderHandle handle, float* output, size_t capacityBytes,
                             size_t& produced) {
    produced = 0;
    DecoderObject* d = Get(handle);
    if (!d) return kErrHandle;
    if (!output) return kErrParameter;
    return d->Decode(output, capacityBytes, produced, true);
}

Status Mp3DecoderProperties(Mp3DecoderHandle handle, Mp3FrameProperties& properties) {
    DecoderObject* d = Get(handle);
    if (!d) return kErrHandle;
    if (!d->Properties(properties)) return kSyncSearched;
    return kOk;
}

Status Mp3DecoderSetPosition(Mp3DecoderHandle handle, int64_t position) {
    DecoderObject* d = Get(handle);
    if (!d) return kErrHandle;
    d->SetPosition(position);
    return kOk;
}

Status Mp3DecoderSetTaggedEncoder(Mp3DecoderHandle handle, bool tagged) {
    DecoderObject* d = Get(handle);
    if (!d) return kErrHandle;
    d->SetTaggedEncoder(tagged);
    return kOk;
}

Status Mp3DecoderFreeSpace(Mp3DecoderHandle handle, size_t& bytes) {
    bytes = 0;
    DecoderObject* d = Get(handle);
    if (!d) return kErrHandle;
    bytes = d->FreeSpace();
    return kOk;
}

Status Mp3DecoderInputRate(Mp3DecoderHandle handle, int& bytesPerSecond) {
    bytesPerSecond = 0;
    DecoderObject* d = Get(handle);
    if (!d) return kErrHandle;
    bytesPerSecond = d->InputRate();
    return kOk;
}

Status Mp3DecoderEndOfInput(Mp3DecoderHandle handle) {
    DecoderObject* d = Get(handle);
    if (!d) return kErrHandle;
    d->EndOfInput();
    return kOk;
}

bool Mp3DecoderIsEof(Mp3DecoderHandle handle) {
    DecoderObject* d = Get(handle);
    return d ? d->IsEof() : true;
}

}  // namespace mp3dec
