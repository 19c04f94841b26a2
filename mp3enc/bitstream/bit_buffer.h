#pragma once
#include <cstdint>
#include <vector>

namespace mp3enc {

// Ring of bits stored in 32-bit words, most significant bit first.
class BitBuffer {
public:
    explicit BitBuffer(uint32_t capacityBits = 0) { Reset(capacityBits); }
    void Reset(uint32_t capacityBits);
    uint32_t Capacity() const { return cap_; }
    // Bits written and not yet read.
    uint32_t Available() const { return (wr_ + cap_ - rd_) % cap_; }
    // Appends the n low bits of value (1..32), most significant first.
    void Write(uint32_t value, int n);
    uint32_t Read(int n);
    // Moves the read or write position by a signed bit count.
    void WindRead(int32_t bits) { rd_ = Wrap(static_cast<int64_t>(rd_) + bits); }
    void WindWrite(int32_t bits) { wr_ = Wrap(static_cast<int64_t>(wr_) + bits); }
    uint32_t ReadPos() const { return rd_; }
    uint32_t WritePos() const { return wr_; }
    // Copies n bits from another buffer into this one, 32 at a time.
    void CopyFrom(BitBuffer& src, uint32_t n);

private:
    uint32_t Wrap(int64_t p) const {
        int64_t c = cap_;
        p %= c;
        if (p < 0) p += c;
        return static_cast<uint32_t>(p);
    }
    std::vector<uint32_t> words_;
    uint32_t cap_ = 32;
    uint32_t rd_ = 0;
    uint32_t wr_ = 0;
};

}  // namespace mp3enc
