#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace ternavik {

// Four consecutive ChaCha12 blocks (counters counter..counter+3, stream 0)
// under `key`, written block after block into `out`.
void chacha12_four_blocks(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                          std::array<std::uint32_t, 64>& out);

// ChaCha12 stream generator that rekeys itself from the OS after every
// 64 KiB of output; the per-thread generator behind thread_rng().
class ChaChaRng {
public:
    static constexpr std::int64_t reseed_threshold = 65536;
    static constexpr std::int64_t refill_bytes = 256;

    // A generator keyed with 32 bytes (eight little-endian words).
    explicit ChaChaRng(const std::uint8_t (&key)[32]);

    std::uint32_t next_u32() {
        if (index_ == buffer_.size()) refill();
        return buffer_[index_++];
    }

    // The low half is drawn first; a refill may fall between the halves.
    std::uint64_t next_u64() {
        const std::uint64_t low = next_u32();
        const std::uint64_t high = next_u32();
        return low | (high << 32);
    }

private:
    void set_key(const std::uint8_t (&key)[32]);
    void refill();

    std::array<std::uint32_t, 8> key_{};
    std::uint64_t counter_ = 0;
    std::array<std::uint32_t, 64> buffer_{};
    std::size_t index_ = buffer_.size();
    std::int64_t bytes_until_reseed_ = reseed_threshold;
};

}  // namespace ternavik
