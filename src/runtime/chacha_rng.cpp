#include "runtime/chacha_rng.hpp"

#include "runtime/os_random.hpp"

namespace ternavik {
namespace {

// One 32-bit word of each of the four blocks; the four lanes are computed
// side by side so the compiler can keep each state word in a vector register.
using Lanes = std::uint32_t __attribute__((vector_size(16)));

template <int Bits>
Lanes rotate_left(Lanes v) {
    return (v << Bits) | (v >> (32 - Bits));
}

void quarter_round(Lanes& a, Lanes& b, Lanes& c, Lanes& d) {
    a += b; d ^= a; d = rotate_left<16>(d);
    c += d; b ^= c; b = rotate_left<12>(b);
    a += b; d ^= a; d = rotate_left<8>(d);
    c += d; b ^= c; b = rotate_left<7>(b);
}

std::uint32_t load_le32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

void chacha12_four_blocks(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                          std::array<std::uint32_t, 64>& out) {
    Lanes initial[16];
    const std::uint32_t constants[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
    for (int i = 0; i < 4; ++i) initial[i] = Lanes{} + constants[i];
    for (int i = 0; i < 8; ++i) initial[4 + i] = Lanes{} + key[i];
    for (int lane = 0; lane < 4; ++lane) {
        const std::uint64_t block = counter + static_cast<std::uint64_t>(lane);
        initial[12][lane] = static_cast<std::uint32_t>(block);
        initial[13][lane] = static_cast<std::uint32_t>(block >> 32);
    }
    initial[14] = Lanes{};  // stream number 0
    initial[15] = Lanes{};
    Lanes x[16];
    for (int i = 0; i < 16; ++i) x[i] = initial[i];
    for (int double_round = 0; double_round < 6; ++double_round) {
        quarter_round(x[0], x[4], x[8], x[12]);
        quarter_round(x[1], x[5], x[9], x[13]);
        quarter_round(x[2], x[6], x[10], x[14]);
        quarter_round(x[3], x[7], x[11], x[15]);
        quarter_round(x[0], x[5], x[10], x[15]);
        quarter_round(x[1], x[6], x[11], x[12]);
        quarter_round(x[2], x[7], x[8], x[13]);
        quarter_round(x[3], x[4], x[9], x[14]);
    }
    for (int i = 0; i < 16; ++i) {
        const Lanes word = x[i] + initial[i];
        for (int lane = 0; lane < 4; ++lane) out[static_cast<std::size_t>(lane * 16 + i)] = word[lane];
    }
}

ChaChaRng::ChaChaRng(const std::uint8_t (&key)[32]) { set_key(key); }

// A fresh key restarts the block counter.
void ChaChaRng::set_key(const std::uint8_t (&key)[32]) {
    for (std::size_t i = 0; i < key_.size(); ++i) key_[i] = load_le32(key + 4 * i);
    counter_ = 0;
}

// Rekeys once 64 KiB have been handed out, then computes the next four blocks.
void ChaChaRng::refill() {
    if (bytes_until_reseed_ <= 0) {
        // A failed rekey is not an error: the old key simply serves another
        // 64 KiB before the next attempt.
        std::uint8_t key[32];
        if (os_fill(key, sizeof key) == 0) set_key(key);
        bytes_until_reseed_ = reseed_threshold - refill_bytes;
    } else {
        bytes_until_reseed_ -= refill_bytes;
    }
    chacha12_four_blocks(key_, counter_, buffer_);
    counter_ += 4;
    index_ = 0;
}

}  // namespace ternavik
