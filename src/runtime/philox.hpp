#pragma once
#include <array>
#include <cstdint>

#include "runtime/random.hpp"

namespace ternavik {

// Philox4x64-10 (Salmon, Moraes, Dror and Shaw): a counter-based generator.
// Its output for one counter depends on nothing but the key and that
// counter, so a draw can be made on any thread, in any order, and still be
// the same draw.
struct PhiloxKey {
    std::uint64_t k0 = 0, k1 = 0;
};

using PhiloxBlock = std::array<std::uint64_t, 4>;

// Philox4x64-10 of `count` counters {first + n, c1, c2, c3} into out[n],
// the rounds of all counters interleaved: each round's multiplications are
// independent across counters, so the processor overlaps their latencies.
inline void philox4x64_run(std::uint64_t first, std::uint64_t c1, std::uint64_t c2,
                           std::uint64_t c3, PhiloxKey key, unsigned count, PhiloxBlock* out) {
    constexpr std::uint64_t multiplier0 = 0xD2E7470EE14C6C93ull;
    constexpr std::uint64_t multiplier1 = 0xCA5A826395121157ull;
    constexpr std::uint64_t weyl0 = 0x9E3779B97F4A7C15ull;
    constexpr std::uint64_t weyl1 = 0xBB67AE8584CAA73Bull;
    for (unsigned n = 0; n < count; ++n) out[n] = {first + n, c1, c2, c3};
    for (int round = 0; round < 10; ++round) {
        if (round != 0) key.k0 += weyl0, key.k1 += weyl1;
        for (unsigned n = 0; n < count; ++n) {
            PhiloxBlock& c = out[n];
            const unsigned __int128 p0 = static_cast<unsigned __int128>(multiplier0) * c[0];
            const unsigned __int128 p1 = static_cast<unsigned __int128>(multiplier1) * c[2];
            const std::uint64_t hi0 = static_cast<std::uint64_t>(p0 >> 64);
            const std::uint64_t hi1 = static_cast<std::uint64_t>(p1 >> 64);
            c = {hi1 ^ c[1] ^ key.k0, static_cast<std::uint64_t>(p1), hi0 ^ c[3] ^ key.k1,
                 static_cast<std::uint64_t>(p0)};
        }
    }
}

inline PhiloxBlock philox4x64(PhiloxBlock counter, PhiloxKey key) {
    PhiloxBlock out;
    philox4x64_run(counter[0], counter[1], counter[2], counter[3], key, 1, &out);
    return out;
}

// What a counter-derived stream is for; keeps the streams of one run apart.
enum class Stream : std::uint64_t {
    trial = 0, initial_population = 1, scale_factor = 2, adaptation = 3, archive = 4,
};

// The generator of one (stream, generation, index) of the run keyed by
// `key`: one Philox block becomes the state of a xoshiro256++, which then
// makes the draws at full speed. The result does not depend on which thread
// asks or on what was drawn before.
inline Xoshiro256pp counter_generator(PhiloxKey key, Stream stream, std::uint64_t generation,
                                      std::uint64_t index) {
    return Xoshiro256pp::from_state(
        philox4x64({index, generation, static_cast<std::uint64_t>(stream), 0}, key));
}

}  // namespace ternavik
