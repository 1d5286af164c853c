#pragma once
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "runtime/internal_failure.hpp"

namespace ternavik {

// xoshiro256++ (Blackman and Vigna): the generator of every optimiser draw.
class Xoshiro256pp {
public:
    // s0..s3 from 32 little-endian bytes; all-zero bytes give a fixed state.
    static Xoshiro256pp from_seed_bytes(const std::uint8_t (&seed)[32]);

    // s0..s3 given directly, with the same replacement of the all-zero state.
    static Xoshiro256pp from_state(const std::array<std::uint64_t, 4>& words);

    std::uint64_t next_word() {
        const std::uint64_t result = std::rotl(s_[0] + s_[3], 23) + s_[0];
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = std::rotl(s_[3], 45);
        return result;
    }

    const std::array<std::uint64_t, 4>& state() const { return s_; }

private:
    std::array<std::uint64_t, 4> s_{};
};

// wyrand (Wang Yi): a Weyl sequence folded through a 64 x 64 -> 128-bit
// product. Its only carried dependency is one addition, so it makes words as
// fast as the multiplier takes them, several times the pace of a generator
// whose whole state feeds the next word.
class WyRand {
public:
    explicit WyRand(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next_word() {
        state_ += 0xA0761D6478BD642Full;
        const unsigned __int128 product =
            static_cast<unsigned __int128>(state_) * (state_ ^ 0xE7037ED1A0B428DBull);
        return static_cast<std::uint64_t>(product >> 64) ^ static_cast<std::uint64_t>(product);
    }

private:
    std::uint64_t state_;
};

// Xoshiro256pp seeded from one value by PCG32 expansion.
Xoshiro256pp seed_from_value(std::uint64_t value);

// Xoshiro256pp seeded from 32 bytes of operating-system entropy; throws
// InternalFailure "from_entropy failed: OS Error: <code>".
Xoshiro256pp from_entropy();

// The calling thread's ChaCha12 generator (created on first use; throws
// InternalFailure "could not initialize thread_rng: OS Error: <code>").
class ChaChaRng;
ChaChaRng& thread_rng();
std::uint64_t next_word(ChaChaRng& rng);

inline std::uint64_t next_word(Xoshiro256pp& rng) { return rng.next_word(); }
inline std::uint64_t next_word(WyRand& rng) { return rng.next_word(); }

[[noreturn, gnu::cold, gnu::noinline]] inline void throw_empty_range() {
    throw InternalFailure("cannot sample empty range");
}

// Uniform integer in [0, n); rejection by zone; n == 0 throws. Inlined, so a
// caller's generator state stays in registers across its draws.
template <class Generator>
[[gnu::always_inline]] inline std::uint64_t draw_index(Generator& rng, std::uint64_t n) {
    if (n == 0) throw_empty_range();
    const std::uint64_t zone = (n << std::countl_zero(n)) - 1;
    for (;;) {
        const unsigned __int128 product =
            static_cast<unsigned __int128>(next_word(rng)) * n;
        if (static_cast<std::uint64_t>(product) <= zone)
            return static_cast<std::uint64_t>(product >> 64);
    }
}

// Uniform multiple of 2^-53 in [0, 1).
template <class Generator>
double draw_unit(Generator& rng) {
    return static_cast<double>(next_word(rng) >> 11) * 0x1.0p-53;
}

// (high - low) * u + low with u a multiple of 2^-52 in [0, 1); no FMA, no redraw.
template <class Generator>
double draw_between(Generator& rng, double low, double high) {
    const std::uint64_t bits = (next_word(rng) >> 12) | 0x3FF0000000000000ull;
    double one_to_two;
    std::memcpy(&one_to_two, &bits, sizeof one_to_two);
    const double u = one_to_two - 1.0;
    const double span = high - low;
    const double scaled = span * u;
    return scaled + low;
}

}  // namespace ternavik
