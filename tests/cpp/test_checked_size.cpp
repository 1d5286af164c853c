#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <tuple>
#include <vector>

#include "core/checked_size.hpp"
#include "core/mcda/methods.hpp"
#include "core/mcda/rank_correlation.hpp"

namespace ternavik {
namespace {

constexpr std::size_t big = std::size_t{1} << 62;

class CheckedElements
    : public ::testing::TestWithParam<std::tuple<std::vector<std::size_t>, std::size_t, bool>> {};

TEST_P(CheckedElements, RefusesWhatCannotBeAllocated) {
    const auto& [factors, bytes, fits] = GetParam();
    std::optional<std::size_t> elements;
    switch (factors.size()) {
        case 2: elements = checked_elements({factors[0], factors[1]}, bytes); break;
        default: elements = checked_elements({factors[0], factors[1], factors[2]}, bytes);
    }
    EXPECT_EQ(elements.has_value(), fits);
    if (fits) {
        std::size_t product = 1;
        for (std::size_t f : factors) product *= f;
        EXPECT_EQ(*elements, product);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Products, CheckedElements,
    ::testing::Values(
        std::make_tuple(std::vector<std::size_t>{0, big * 3}, 8, true),
        std::make_tuple(std::vector<std::size_t>{3, 5, 7}, 8, true),
        // wraps to 2**20 in 64 bits
        std::make_tuple(std::vector<std::size_t>{(std::size_t{1} << 44) + 1, std::size_t{1} << 20}, 8, false),
        // the product fits, its size in bytes does not
        std::make_tuple(std::vector<std::size_t>{std::size_t{1} << 31, std::size_t{1} << 31}, 8, false),
        std::make_tuple(std::vector<std::size_t>{std::size_t{1} << 31, std::size_t{1} << 31}, 1, true),
        std::make_tuple(std::vector<std::size_t>{2, big, 1}, 1, false),
        std::make_tuple(std::vector<std::size_t>{1, PTRDIFF_MAX / 8, 1}, 8, true)));

TEST(CheckedElements, AllocationThrowsBadAllocBeforeAllocating) {
    EXPECT_THROW(allocation_elements({big, 4}), std::bad_alloc);
    EXPECT_EQ(allocation_elements({6, 7}), 42u);
}

// Views of no memory at all (zero columns, or strides of zero) can declare
// any number of rows: sizes derived from them must fail, never wrap.
TEST(CheckedElements, KernelsRefuseOutputsThatWouldWrap) {
    const double one = 1.0;
    const std::int64_t kind = 1;
    const char* at = reinterpret_cast<const char*>(&one);
    const StridedMatrix data{at, std::size_t{1} << 20, 0, 0, 0};
    const StridedMatrix weights{at, (std::size_t{1} << 44) + 1, 0, 0, 0};
    const StridedVector<std::int64_t> kinds{reinterpret_cast<const char*>(&kind), 0, 0};
    const mcda::MethodInput input{data, weights, kinds};
    EXPECT_THROW(std::ignore = mcda::mabac(input), std::bad_alloc);
    EXPECT_THROW(std::ignore = mcda::topsis(input, mcda::Normalization{}), std::bad_alloc);
    EXPECT_THROW(std::ignore = mcda::vikor(input, 0.5), std::bad_alloc);
    const StridedMatrix rankings{at, std::size_t{1} << 33, 0, 0, 0};
    EXPECT_THROW(std::ignore = coefficient_matrix(RankCoefficient::spearman, rankings),
                 std::bad_alloc);
}

}  // namespace
}  // namespace ternavik
