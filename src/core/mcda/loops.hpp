#pragma once
#include <cstddef>

#include "core/interruption.hpp"
#include "runtime/parallel_for.hpp"

namespace ternavik::mcda {

// Below this many element operations a loop runs on the calling thread:
// waking the pool costs more than a 10 x 5 problem takes.
inline constexpr std::size_t inline_work = 1 << 14;

// Alternatives handled together so their independent sums vectorise; each
// sum still runs over the criteria in index order.
inline constexpr std::size_t alternative_block = 64;

// body(begin, end) over contiguous pieces of [0, count): on the pool when
// `work` (element operations in total) is large, else in one piece here.
// Results never depend on the choice: pieces write disjoint outputs.
template <class Body>
void run_split(std::size_t count, std::size_t work, Body&& body) {
    if (work < inline_work || count < 2) {
        if (count != 0) body(std::size_t{0}, count);
        return;
    }
    run_parallel(count, [&](std::size_t begin, std::size_t end) { body(begin, end); });
}

// body(first, size) over blocks of at most alternative_block alternatives
// covering [0, n); `work_per_alternative` sizes the pool decision. A long
// loop runs in rounds of blocks and looks for an interrupt between rounds
// (check_interrupt); blocks write disjoint outputs, so rounds change nothing
// in the results.
template <class Body>
void for_alternative_blocks(std::size_t n, std::size_t work_per_alternative, Body&& body) {
    const std::size_t blocks = (n + alternative_block - 1) / alternative_block;
    const std::size_t block_work = alternative_block * work_per_alternative;
    std::size_t per_round = blocks;
    if (blocks > 1 && n * work_per_alternative > interrupt_round_work) {
        per_round = interrupt_round_work / (block_work == 0 ? 1 : block_work);
        if (per_round < pool_size()) per_round = pool_size();  // every worker busy
    }
    for (std::size_t start = 0; start < blocks; start += per_round) {
        const std::size_t count = blocks - start < per_round ? blocks - start : per_round;
        const std::size_t work = per_round == blocks ? n * work_per_alternative : count * block_work;
        run_split(count, work, [&](std::size_t begin, std::size_t end) {
            for (std::size_t b = start + begin; b < start + end; ++b) {
                const std::size_t first = b * alternative_block;
                const std::size_t size =
                    n - first < alternative_block ? n - first : alternative_block;
                body(first, size);
            }
        });
        if (start + count < blocks) check_interrupt();
    }
}

}  // namespace ternavik::mcda
