#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/chacha_rng.hpp"
#include "runtime/os_random.hpp"
#include "runtime/random.hpp"

namespace ternavik {
namespace {

// Swaps in a fake OS source for the lifetime of the object.
class ScopedOsFill {
public:
    explicit ScopedOsFill(OsFillFunction source) : previous_(set_os_fill_for_testing(source)) {}
    ~ScopedOsFill() { set_os_fill_for_testing(previous_); }

private:
    OsFillFunction previous_;
};

int fill_zeros(std::uint8_t* buffer, std::size_t length) {
    std::memset(buffer, 0, length);
    return 0;
}

int fail_with_eio(std::uint8_t*, std::size_t) { return 5; }

int fill_calls = 0;
int count_and_fill_0xab(std::uint8_t* buffer, std::size_t length) {
    ++fill_calls;
    std::memset(buffer, 0xAB, length);
    return 0;
}
int count_and_fail(std::uint8_t*, std::size_t) {
    ++fill_calls;
    return 11;
}

// Plain one-block ChaCha with the 64-bit counter and stream layout.
std::array<std::uint32_t, 16> reference_chacha(const std::array<std::uint32_t, 8>& key,
                                               std::uint64_t counter, std::uint64_t stream,
                                               int rounds) {
    auto rotl = [](std::uint32_t v, int c) { return (v << c) | (v >> (32 - c)); };
    std::array<std::uint32_t, 16> in = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
    for (int i = 0; i < 8; ++i) in[4 + i] = key[i];
    in[12] = static_cast<std::uint32_t>(counter);
    in[13] = static_cast<std::uint32_t>(counter >> 32);
    in[14] = static_cast<std::uint32_t>(stream);
    in[15] = static_cast<std::uint32_t>(stream >> 32);
    std::array<std::uint32_t, 16> x = in;
    auto qr = [&](int a, int b, int c, int d) {
        x[a] += x[b]; x[d] = rotl(x[d] ^ x[a], 16);
        x[c] += x[d]; x[b] = rotl(x[b] ^ x[c], 12);
        x[a] += x[b]; x[d] = rotl(x[d] ^ x[a], 8);
        x[c] += x[d]; x[b] = rotl(x[b] ^ x[c], 7);
    };
    for (int r = 0; r < rounds; r += 2) {
        qr(0, 4, 8, 12); qr(1, 5, 9, 13); qr(2, 6, 10, 14); qr(3, 7, 11, 15);
        qr(0, 5, 10, 15); qr(1, 6, 11, 12); qr(2, 7, 8, 13); qr(3, 4, 9, 14);
    }
    for (int i = 0; i < 16; ++i) x[i] += in[i];
    return x;
}

// Word `index` of the ChaCha12 stream under `key` from block 0.
std::uint32_t reference_word(const std::array<std::uint32_t, 8>& key, std::uint64_t index) {
    return reference_chacha(key, index / 16, 0, 12)[index % 16];
}

std::array<std::uint32_t, 8> key_words(std::uint8_t byte) {
    std::array<std::uint32_t, 8> key;
    key.fill(byte * 0x01010101u);
    return key;
}

TEST(Xoshiro256pp, AllZeroSeedGivesTheFixedState) {
    const std::uint8_t zeros[32] = {};
    ScopedOsFill zero_source(&fill_zeros);
    for (Xoshiro256pp rng : {Xoshiro256pp::from_seed_bytes(zeros), from_entropy()}) {
        EXPECT_EQ(rng.state()[0], 0xE220A8397B1DCDAFull);
        EXPECT_EQ(rng.state()[3], 0xF88BB8A8724C81ECull);
        EXPECT_EQ(rng.next_word(), 0x53175D61490B23DFull);
        EXPECT_EQ(next_word(rng), 0x61DA6F3DC380D507ull);
    }
}

TEST(Xoshiro256pp, SeedBytesAreLittleEndianWords) {
    std::uint8_t seed[32];
    for (int i = 0; i < 32; ++i) seed[i] = static_cast<std::uint8_t>(i);
    const auto state = Xoshiro256pp::from_seed_bytes(seed).state();
    EXPECT_EQ(state[0], 0x0706050403020100ull);
    EXPECT_EQ(state[3], 0x1F1E1D1C1B1A1918ull);
}

// PCG32 expansion written out word by word.
std::array<std::uint64_t, 4> reference_seed_state(std::uint64_t value) {
    std::uint32_t out[8];
    for (auto& word : out) {
        value = value * 6364136223846793005ull + 11634580027462260723ull;
        const std::uint32_t x = static_cast<std::uint32_t>(((value >> 18) ^ value) >> 27);
        const unsigned rot = static_cast<unsigned>(value >> 59);
        word = rot == 0 ? x : (x >> rot) | (x << (32 - rot));
    }
    std::array<std::uint64_t, 4> state;
    for (int i = 0; i < 4; ++i) state[i] = out[2 * i] | std::uint64_t{out[2 * i + 1]} << 32;
    return state;
}

TEST(Xoshiro256pp, SeedFromValueIsPcg32Expansion) {
    for (std::uint64_t value : {0ull, 1ull, 42ull, 0x8000000000000000ull, ~0ull,
                                0x123456789ABCDEF0ull}) {
        EXPECT_EQ(seed_from_value(value).state(), reference_seed_state(value)) << value;
    }
    Xoshiro256pp rng = seed_from_value(0);
    EXPECT_EQ(rng.state()[0], 0x45CDB581F973F2ECull);
    EXPECT_EQ(rng.next_word(), 0x7283E4C96896188Cull);
}

TEST(ChaCha, ReferenceMatchesPublishedTwentyRoundBlock) {
    // Key 00..1f, block counter 1, nonce 00:00:00:09:00:00:00:4a:00:00:00:00.
    std::array<std::uint32_t, 8> key;
    for (int i = 0; i < 8; ++i)
        key[i] = static_cast<std::uint32_t>(4 * i) | static_cast<std::uint32_t>(4 * i + 1) << 8 |
                 static_cast<std::uint32_t>(4 * i + 2) << 16 |
                 static_cast<std::uint32_t>(4 * i + 3) << 24;
    const auto block = reference_chacha(key, 1 | (0x09000000ull << 32), 0x4a000000, 20);
    const std::array<std::uint32_t, 16> expected = {
        0xe4e7f110, 0x15593bd1, 0x1fdd0f50, 0xc47120a3, 0xc7f4d1c7, 0x0368c033,
        0x9aaa2204, 0x4e6cd4c3, 0x466482d2, 0x09aa9f07, 0x05d7c214, 0xa2028bd9,
        0xd19c12b5, 0xb94e16de, 0xe883d0cb, 0x4e3c50a2};
    EXPECT_EQ(block, expected);
}

TEST(ChaCha, FourBlocksMatchReferenceAcrossCounterCarry) {
    std::array<std::uint32_t, 8> key;
    for (int i = 0; i < 8; ++i) key[i] = 0x9E3779B9u * static_cast<std::uint32_t>(i + 1);
    for (std::uint64_t counter : {0ull, 4ull, 0xFFFFFFFEull, ~0ull - 1}) {
        std::array<std::uint32_t, 64> out;
        chacha12_four_blocks(key, counter, out);
        for (std::uint64_t b = 0; b < 4; ++b) {
            const auto block = reference_chacha(key, counter + b, 0, 12);
            for (int w = 0; w < 16; ++w) ASSERT_EQ(out[b * 16 + w], block[w]) << counter;
        }
    }
}

TEST(ChaChaRng, WordsPairLowThenHighAcrossRefills) {
    const std::uint8_t key[32] = {};
    ChaChaRng rng(key);
    rng.next_u32();  // puts a 64-bit draw across every buffer boundary
    for (std::uint64_t i = 1; i < 400; i += 2) {
        const std::uint64_t expected = reference_word(key_words(0), i) |
                                       std::uint64_t{reference_word(key_words(0), i + 1)} << 32;
        ASSERT_EQ(rng.next_u64(), expected) << i;
    }
}

TEST(ChaChaRng, RekeysBeforeThe257thRefill) {
    ScopedOsFill source(&count_and_fill_0xab);
    fill_calls = 0;
    const std::uint8_t key[32] = {};
    ChaChaRng rng(key);
    for (std::uint64_t i = 0; i < 256 * 64; ++i)
        ASSERT_EQ(rng.next_u32(), reference_word(key_words(0), i)) << i;
    EXPECT_EQ(fill_calls, 0);
    // The new key restarts the stream at block 0.
    for (std::uint64_t i = 0; i < 256 * 64; ++i)
        ASSERT_EQ(rng.next_u32(), reference_word(key_words(0xAB), i)) << i;
    EXPECT_EQ(fill_calls, 1);
    rng.next_u32();
    EXPECT_EQ(fill_calls, 2);
}

TEST(ChaChaRng, FailedRekeyKeepsTheOldKeySilently) {
    ScopedOsFill source(&count_and_fail);
    fill_calls = 0;
    const std::uint8_t key[32] = {};
    ChaChaRng rng(key);
    for (std::uint64_t i = 0; i < 2 * 256 * 64; ++i)
        ASSERT_EQ(rng.next_u32(), reference_word(key_words(0), i)) << i;
    EXPECT_EQ(fill_calls, 1);
    rng.next_u32();  // another 64 KiB later it tries again
    EXPECT_EQ(fill_calls, 2);
}

TEST(ThreadRng, IsKeyedFromTheOsSourceOncePerThread) {
    ScopedOsFill zero_source(&fill_zeros);
    std::thread([] {
        ChaChaRng& rng = thread_rng();
        EXPECT_EQ(&rng, &thread_rng());
        const std::uint64_t expected = reference_word(key_words(0), 0) |
                                       std::uint64_t{reference_word(key_words(0), 1)} << 32;
        EXPECT_EQ(next_word(thread_rng()), expected);
    }).join();
}

TEST(OsFailure, MessagesCarryTheErrorCode) {
    ScopedOsFill failing(&fail_with_eio);
    try {
        from_entropy();
        ADD_FAILURE() << "from_entropy did not fail";
    } catch (const InternalFailure& failure) {
        EXPECT_STREQ(failure.what(), "from_entropy failed: OS Error: 5");
    }
    std::thread([] {
        try {
            thread_rng();
            ADD_FAILURE() << "thread_rng did not fail";
        } catch (const InternalFailure& failure) {
            EXPECT_STREQ(failure.what(), "could not initialize thread_rng: OS Error: 5");
        }
        // The failure is not remembered: a later request may succeed.
        set_os_fill_for_testing(&fill_zeros);
        EXPECT_NO_THROW(thread_rng());
        set_os_fill_for_testing(&fail_with_eio);
    }).join();
}

TEST(OsRandom, FillsFromTheSystem) {
    std::uint8_t a[32] = {}, b[32] = {};
    ASSERT_EQ(os_fill(a, sizeof a), 0);
    ASSERT_EQ(os_fill(b, sizeof b), 0);
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

// Hands out scripted words and counts them.
struct ScriptedGenerator {
    std::vector<std::uint64_t> words;
    std::size_t used = 0;
};
std::uint64_t next_word(ScriptedGenerator& g) { return g.words.at(g.used++); }

TEST(Draws, IndexRejectsWordsOutsideTheZone) {
    // n = 4: zone 2^63 - 1, so v * 4 with low half 2^63 is redrawn.
    ScriptedGenerator four{{0x2000000000000000ull, 0x1FFFFFFFFFFFFFFFull, 0xC000000000000000ull}};
    EXPECT_EQ(draw_index(four, 4), 0u);
    EXPECT_EQ(four.used, 2u);
    EXPECT_EQ(draw_index(four, 4), 3u);
    // n = 1: always 0, but words of 2^63 and above are still rejected.
    ScriptedGenerator one{{~0ull, 0x8000000000000000ull, 0x7FFFFFFFFFFFFFFFull}};
    EXPECT_EQ(draw_index(one, 1), 0u);
    EXPECT_EQ(one.used, 3u);
    ScriptedGenerator none{{1}};
    try {
        draw_index(none, 0);
        ADD_FAILURE() << "empty range accepted";
    } catch (const InternalFailure& failure) {
        EXPECT_STREQ(failure.what(), "cannot sample empty range");
    }
}

TEST(Draws, FloatsStayInRange) {
    ScriptedGenerator g{{~0ull, 0, ~0ull, ~0ull, ~0ull}};
    EXPECT_EQ(draw_unit(g), 1.0 - 0x1.0p-53);
    EXPECT_EQ(draw_unit(g), 0.0);
    EXPECT_EQ(draw_between(g, 2.0, 2.0), 2.0);
    EXPECT_EQ(draw_between(g, 0.0, 1.0), 1.0 - 0x1.0p-52);
    // Reversed bounds are not checked: the result lies between them.
    EXPECT_EQ(draw_between(g, 1.0, 0.0), 0x1.0p-52);
}

}  // namespace
}  // namespace ternavik
