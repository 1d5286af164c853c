#include "runtime/random.hpp"

#include <optional>
#include <utility>

#include "runtime/chacha_rng.hpp"
#include "runtime/os_random.hpp"

namespace ternavik {

Xoshiro256pp Xoshiro256pp::from_seed_bytes(const std::uint8_t (&seed)[32]) {
    std::array<std::uint64_t, 4> words{};
    for (std::size_t byte = 0; byte < 32; ++byte)
        words[byte / 8] |= static_cast<std::uint64_t>(seed[byte]) << (8 * (byte % 8));
    return from_state(words);
}

Xoshiro256pp Xoshiro256pp::from_state(const std::array<std::uint64_t, 4>& words) {
    Xoshiro256pp rng;
    rng.s_ = words;
    // The all-zero state is a fixed point; use the first four SplitMix64
    // outputs from 0 instead.
    if ((words[0] | words[1] | words[2] | words[3]) == 0)
        rng.s_ = {0xE220A8397B1DCDAFull, 0x6E789E6AA1B965F4ull, 0x06C45D188009454Full,
                  0xF88BB8A8724C81ECull};
    return rng;
}

namespace {

constexpr std::uint64_t pcg_multiplier = 0x5851f42d4c957f2dull;
constexpr std::uint64_t pcg_increment = 0xa17654e46fbe17f3ull;

// The LCG state after k + 1 steps is jump[k].first * x + jump[k].second,
// so the eight states are computed side by side instead of in a chain.
constexpr std::array<std::pair<std::uint64_t, std::uint64_t>, 8> pcg_jumps() {
    std::array<std::pair<std::uint64_t, std::uint64_t>, 8> jumps{};
    std::uint64_t multiplier = 1;
    std::uint64_t increment = 0;
    for (auto& jump : jumps) {
        multiplier *= pcg_multiplier;
        increment = increment * pcg_multiplier + pcg_increment;
        jump = {multiplier, increment};
    }
    return jumps;
}
constexpr auto pcg_jump = pcg_jumps();

// PCG32's output function (xorshift high, random rotation).
std::uint32_t pcg_output(std::uint64_t state) {
    const auto xorshifted = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
    return std::rotr(xorshifted, static_cast<int>(state >> 59));
}

}  // namespace

Xoshiro256pp seed_from_value(std::uint64_t value) {
    // Eight PCG32 outputs, as four little-endian bytes each, form the seed.
    std::array<std::uint64_t, 4> words;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& [mul_low, add_low] = pcg_jump[2 * i];
        const auto& [mul_high, add_high] = pcg_jump[2 * i + 1];
        words[i] = pcg_output(value * mul_low + add_low) |
                   std::uint64_t{pcg_output(value * mul_high + add_high)} << 32;
    }
    return Xoshiro256pp::from_state(words);
}

Xoshiro256pp from_entropy() {
    std::uint8_t seed[32];
    if (const int error = os_fill(seed, sizeof seed); error != 0)
        throw InternalFailure("from_entropy failed: " + os_error_text(error));
    return Xoshiro256pp::from_seed_bytes(seed);
}

ChaChaRng& thread_rng() {
    // ChaChaRng is trivially destructible, so the slot needs no exit hook.
    thread_local std::optional<ChaChaRng> rng;
    if (!rng) {
        std::uint8_t key[32];
        if (const int error = os_fill(key, sizeof key); error != 0)
            throw InternalFailure("could not initialize thread_rng: " + os_error_text(error));
        rng.emplace(key);
    }
    return *rng;
}

std::uint64_t next_word(ChaChaRng& rng) { return rng.next_u64(); }

}  // namespace ternavik
