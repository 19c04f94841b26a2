#include "mp3enc/bitstream/bit_buffer.h"

namespace mp3enc {

void BitBuffer::Reset(uint32_t capacityBits) {
    cap_ = ((capacityBits + 31) / 32) * 32;
    if (cap_ == 0) cap_ = 32;
    words_.assign(cap_ / 32, 0);
    rd_ = wr_ = 0;
}

void BitBuffer::Write(uint32_t value, int n) {
    if (n <= 0) return;
    if (n < 32) value &= (1u << n) - 1u;
    const int used = static_cast<int>(wr_ & 31);
    if (n < 32 - used) {  // the common case: within the current word, which keeps room after
        const int shift = 32 - used - n;
        uint32_t& w = words_[wr_ >> 5];
        w = (w & ~(((1u << n) - 1u) << shift)) | (value << shift);
        wr_ += static_cast<uint32_t>(n);  // stays inside the word, so never reaches cap_
        return;
    }
    while (n > 0) {
        uint32_t word = wr_ >> 5;
        int off = static_cast<int>(wr_ & 31);  // bits already used in this word
        int room = 32 - off;
        int take = n < room ? n : room;
        uint32_t part = (take == 32) ? value : (value >> (n - take)) & ((1u << take) - 1u);
        uint32_t shift = static_cast<uint32_t>(room - take);
        uint32_t mask = (take == 32) ? 0xFFFFFFFFu : (((1u << take) - 1u) << shift);
        words_[word] = (words_[word] & ~mask) | (part << shift);
        n -= take;
        wr_ += static_cast<uint32_t>(take);
        if (wr_ >= cap_) wr_ -= cap_;
    }
}

uint32_t BitBuffer::Read(int n) {
    uint32_t v = 0;
    while (n > 0) {
        uint32_t word = rd_ >> 5;
        int off = static_cast<int>(rd_ & 31);
        int room = 32 - off;
        int take = n < room ? n : room;
        uint32_t shift = static_cast<uint32_t>(room - take);
        uint32_t part = (take == 32) ? words_[word] : (words_[word] >> shift) & ((1u << take) - 1u);
        v = (take == 32) ? part : ((v << take) | part);
        n -= take;
        rd_ += static_cast<uint32_t>(take);
        if (rd_ >= cap_) rd_ -= cap_;
    }
    return v;
}

void BitBuffer::CopyFrom(BitBuffer& src, uint32_t n) {
    while (n >= 32) {
        Write(src.Read(32), 32);
        n -= 32;
    }
    if (n) Write(src.Read(static_cast<int>(n)), static_cast<int>(n));
}

}  // namespace mp3enc
