#include "runtime/random.hpp"

#include <optional>

#include "runtime/chacha_rng.hpp"
#include "runtime/os_random.hpp"

namespace ternavik {

Xoshiro256pp Xoshiro256pp::from_seed_bytes(const std::uint8_t (&seed)[32]) {
    Xoshiro256pp rng;
    bool all_zero = true;
    for (std::size_t word = 0; word < 4; ++word) {
        std::uint64_t value = 0;
        for (std::size_t byte = 0; byte < 8; ++byte)
            value |= static_cast<std::uint64_t>(seed[8 * word + byte]) << (8 * byte);
        rng.s_[word] = value;
        all_zero = all_zero && value == 0;
    }
    // The all-zero state is a fixed point; use the first four SplitMix64
    // outputs from 0 instead.
    if (all_zero)
        rng.s_ = {0xE220A8397B1DCDAFull, 0x6E789E6AA1B965F4ull, 0x06C45D188009454Full,
                  0xF88BB8A8724C81ECull};
    return rng;
}

Xoshiro256pp seed_from_value(std::uint64_t value) {
    // PCG32 output function over an LCG step, four little-endian bytes each.
    std::uint8_t seed[32];
    std::uint64_t state = value;
    for (std::size_t chunk = 0; chunk < 8; ++chunk) {
        state = state * 0x5851f42d4c957f2dull + 0xa17654e46fbe17f3ull;
        const auto xorshifted = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
        const std::uint32_t output = std::rotr(xorshifted, static_cast<int>(state >> 59));
        for (std::size_t byte = 0; byte < 4; ++byte)
            seed[4 * chunk + byte] = static_cast<std::uint8_t>(output >> (8 * byte));
    }
    return Xoshiro256pp::from_seed_bytes(seed);
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
