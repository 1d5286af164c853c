#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "core/decision_passes.hpp"
#include "core/entropy_weight.hpp"
#include "core/topsis.hpp"
#include "runtime/internal_failure.hpp"

namespace ternavik {
namespace {

using Rows = std::vector<std::vector<double>>;
const double nan = std::numeric_limits<double>::quiet_NaN();

// A row-major matrix that owns its values.
struct Matrix {
    std::vector<double> values;
    std::size_t rows, cols;
    explicit Matrix(const Rows& r) : rows(r.size()), cols(r.empty() ? 0 : r[0].size()) {
        for (const auto& row : r) values.insert(values.end(), row.begin(), row.end());
    }
    StridedMatrix view() const {
        return {reinterpret_cast<const char*>(values.data()), rows, cols,
                static_cast<std::ptrdiff_t>(cols * 8), 8};
    }
};

template <class T>
StridedVector<T> vec(const std::vector<T>& v) {
    return {reinterpret_cast<const char*>(v.data()), v.size(), sizeof(T)};
}

EntropyWeightResult run_entropy(const Rows& rows, const std::vector<std::int64_t>& codes) {
    auto out = entropy_weight(Matrix(rows).view(), vec(codes));
    EXPECT_TRUE(out.ok());
    return out.value();
}

std::vector<double> run_topsis(const Rows& rows, const std::vector<double>& w,
                               const std::vector<std::int64_t>& codes) {
    auto out = topsis(Matrix(rows).view(), vec(w), vec(codes));
    EXPECT_TRUE(out.ok());
    return out.value();
}

// The entropy of each column, through the same scans the function uses.
std::vector<double> entropies(const Rows& rows, const std::vector<std::int64_t>& codes) {
    const Matrix matrix(rows);
    const std::size_t m = codes.size();
    std::vector<double> low(m, INFINITY), high(m, -INFINITY), sums(m), log_sums(m), result;
    scan_entropy_extremes(matrix.view(), low.data(), high.data());
    scan_entropy_sums(matrix.view(), vec(codes), low.data(), high.data(), sums.data(),
                      log_sums.data());
    for (std::size_t j = 0; j < m; ++j)
        result.push_back(criterion_entropy(low[j], high[j], sums[j], log_sums[j], rows.size()));
    return result;
}

// Rows [begin, end) of a view.
StridedMatrix row_range(const StridedMatrix& all, std::size_t begin, std::size_t end) {
    StridedMatrix part = all;
    part.first += static_cast<std::ptrdiff_t>(begin) * all.row_stride;
    part.rows = end - begin;
    return part;
}

void expect_near12(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], want[k], 5e-13) << k;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * 8) == 0;
}

TEST(EntropyWeight, WorkedExamples) {
    const Rows larger = {{1, 2, 3}, {2, 2, 1}, {4, 2, 2}, {3, 2, 5}};
    expect_near12(entropies(larger, {1, 1, 0}), {0.729573958514, 1.0, 0.765246528379});
    auto r = run_entropy(larger, {1, 1, 0});
    expect_near12(r.weights, {0.535306825534, 0.0, 0.464693174466});
    expect_near12(r.scores, {0.232346587233, 0.643128782977, 0.883826706383, 0.356871217023});

    expect_near12(entropies({{1, 10}, {2, 10}, {3, 10}}, {1, 1}), {0.579380164286, 1.0});
    r = run_entropy({{1, 10}, {2, 10}, {3, 10}}, {1, 1});
    EXPECT_EQ(r.weights, (std::vector<double>{1.0, 0.0}));
    EXPECT_EQ(r.scores, (std::vector<double>{0.0, 0.5, 1.0}));
    for (std::int64_t cost : {0, -1, 2}) {
        r = run_entropy({{1}, {2}, {3}}, {cost});
        EXPECT_EQ(r.weights, std::vector<double>{1.0});
        EXPECT_EQ(r.scores, (std::vector<double>{1.0, 0.5, 0.0}));
    }
    r = run_entropy({{1, 5}, {4, 2}}, {1, 0});
    EXPECT_EQ(r.weights, (std::vector<double>{0.5, 0.5}));
    EXPECT_EQ(r.scores, (std::vector<double>{0.0, 1.0}));
}

TEST(EntropyWeight, DegenerateColumns) {
    auto r = run_entropy({{7, 0}, {7, 0}, {7, 0}}, {1, 0});  // all constant
    EXPECT_EQ(r.weights, (std::vector<double>{0.5, 0.5}));
    EXPECT_EQ(r.scores, (std::vector<double>{1.0, 1.0, 1.0}));

    r = run_entropy({{}, {}}, {});  // no criteria
    EXPECT_TRUE(r.weights.empty());
    EXPECT_EQ(r.scores, (std::vector<double>{0.0, 0.0}));

    // A NaN stays out of the extremes and the weights but spoils its own score.
    r = run_entropy({{1, 1}, {nan, 2}, {3, 3}}, {1, 1});
    EXPECT_EQ(r.weights, (std::vector<double>{0.0, 1.0}));
    EXPECT_TRUE(std::isnan(r.scores[1]));
    EXPECT_EQ(r.scores[0], 0.0);
    EXPECT_EQ(r.scores[2], 1.0);
}

TEST(EntropyWeight, DivergenceSumUsesEightPartialSums) {
    // d = (1, u, ..., u) with u = 2^-53: added one by one every u is lost,
    // paired into partial sums three ulps survive.
    const double u = std::ldexp(1.0, -53);
    std::vector<double> e(8, 1.0 - u), w(8);
    e[0] = 0.0;
    entropy_to_weights(e.data(), 8, w.data());
    EXPECT_EQ(w[0], 1.0 / (1.0 + 3 * std::ldexp(1.0, -52)));
    e.resize(7);
    entropy_to_weights(e.data(), 7, w.data());
    EXPECT_EQ(w[0], 1.0);
}

TEST(Topsis, WorkedExamples) {
    EXPECT_EQ(run_topsis({{3, 4}, {0, 0}}, {1, 1}, {1, 1}), (std::vector<double>{1.0, 0.0}));
    EXPECT_EQ(run_topsis({{3, 4}, {0, 0}}, {1, 1}, {0, 0}), (std::vector<double>{0.0, 1.0}));
    EXPECT_EQ(run_topsis({{1, 2}, {1, 2}}, {0.5, 0.5}, {1, 0}), (std::vector<double>{0.5, 0.5}));
    EXPECT_EQ(run_topsis({{1, 0}, {2, 0}, {3, 0}}, {1, 1}, {1, 1}),
              (std::vector<double>{0.0, 0.5, 1.0}));
    EXPECT_EQ(run_topsis({{}, {}, {}}, {}, {}), (std::vector<double>{0.5, 0.5, 0.5}));
}

TEST(Topsis, NanAndNegativeWeights) {
    for (double c : run_topsis({{1, 2}, {nan, 3}, {2, 1}}, {1, 1}, {1, 1})) {
        EXPECT_TRUE(std::isnan(c));
    }
    // A negative weight makes the smallest raw value the benefit ideal.
    EXPECT_EQ(run_topsis({{1}, {2}, {3}}, {-1}, {1}), (std::vector<double>{1.0, 0.5, 0.0}));
}

// NaNs of both signs meet in the sums. Each row alone (the scalar path)
// must give the bits of the whole (the vector path), and scans continued
// over blocks of rows the bits of one scan.
TEST(DecisionMatrix, NanBitsDoNotDependOnPieces) {
    const std::size_t n = 67, m = 11;
    Rows rows(n, std::vector<double>(m));
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < m; ++j) rows[i][j] = std::sin(1.0 + i * 5.0 + j * 3.0);
    for (std::size_t i = 0; i < n; i += 3) rows[i][i % m] = i % 2 ? -nan : nan;
    rows[4][2] = INFINITY, rows[9][2] = INFINITY;
    const Matrix matrix(rows);
    const std::vector<double> weights = {1, -nan, 2, INFINITY, 0, 1, nan, 3, 1, -INFINITY, 1};
    const std::vector<std::int64_t> codes = {1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 1};

    std::vector<double> whole(6 * m, 0.0), blocks(6 * m, 0.0);
    for (auto* part : {&whole, &blocks})
        for (std::size_t j = 0; j < m; ++j) (*part)[m + j] = INFINITY, (*part)[2 * m + j] = -INFINITY;
    const TopsisColumns one{whole.data(), whole.data() + m, whole.data() + 2 * m};
    const TopsisColumns many{blocks.data(), blocks.data() + m, blocks.data() + 2 * m};
    scan_topsis_columns(matrix.view(), one);
    for (std::size_t i = 0; i < n; i += 10)
        scan_topsis_columns(row_range(matrix.view(), i, std::min(n, i + 10)), many);
    EXPECT_EQ(std::memcmp(whole.data(), blocks.data(), 3 * m * sizeof(double)), 0);

    const TopsisIdeals ideals{whole.data() + 3 * m, whole.data() + 4 * m, whole.data() + 5 * m};
    topsis_ideals(one, m, vec(weights), vec(codes), ideals);
    std::vector<double> closeness(n), single(n);
    topsis_closeness(matrix.view(), ideals, closeness.data());
    for (std::size_t i = 0; i < n; ++i)
        topsis_closeness(row_range(matrix.view(), i, i + 1), ideals, single.data() + i);
    EXPECT_TRUE(same_bits(closeness, single));
    EXPECT_TRUE(same_bits(closeness, run_topsis(rows, weights, codes)));

    std::vector<double> low(m, INFINITY), high(m, -INFINITY), w(m, 1.0 / m), scores(n), alone(n);
    scan_entropy_extremes(matrix.view(), low.data(), high.data());
    entropy_scores(matrix.view(), vec(codes), low.data(), high.data(), w.data(), scores.data());
    for (std::size_t i = 0; i < n; ++i) {
        entropy_scores(row_range(matrix.view(), i, i + 1), vec(codes), low.data(), high.data(),
                       w.data(), alone.data() + i);
    }
    EXPECT_TRUE(same_bits(scores, alone));
    EXPECT_TRUE(std::signbit(scores[3]) && std::isnan(scores[3]));  // -NaN is its row's first
}

// Many groups of criteria in one sweep over the rows: each criterion's
// column sums equal those of that column scanned alone.
TEST(DecisionMatrix, WideMatricesScanLikeSingleColumns) {
    const std::size_t n = 50, m = 45;
    Rows rows(n, std::vector<double>(m));
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < m; ++j) rows[i][j] = std::cos(2.0 + i * 3.0 + j * 7.0) * (j + 1);
    const Matrix matrix(rows);
    std::vector<double> wide(3 * m, 0.0), alone(3, 0.0);
    for (std::size_t j = 0; j < m; ++j) wide[m + j] = INFINITY, wide[2 * m + j] = -INFINITY;
    scan_topsis_columns(matrix.view(), {wide.data(), wide.data() + m, wide.data() + 2 * m});
    for (std::size_t j = 0; j < m; ++j) {
        StridedMatrix column = matrix.view();
        column.first += j * sizeof(double);
        column.cols = 1;
        alone = {0.0, INFINITY, -INFINITY};
        scan_topsis_columns(column, {&alone[0], &alone[1], &alone[2]});
        EXPECT_EQ(alone, (std::vector<double>{wide[j], wide[m + j], wide[2 * m + j]})) << j;
    }
}

// Small passes run whole on the calling thread; large ones on the workers,
// which cover every item exactly once.
TEST(DecisionMatrix, SmallPassesStayOnTheCaller) {
    std::mutex lock;
    std::set<std::thread::id> threads;
    std::vector<int> seen(64, 0);
    auto body = [&](std::size_t begin, std::size_t end) {
        std::lock_guard<std::mutex> guard(lock);
        threads.insert(std::this_thread::get_id());
        for (std::size_t i = begin; i < end; ++i) ++seen[i];
    };
    run_pass(64, caller_only_elements - 1, body);
    EXPECT_EQ(threads, std::set<std::thread::id>{std::this_thread::get_id()});
    threads.clear();
    run_pass(64, caller_only_elements, body);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);  // the caller only waits
    for (int count : seen) EXPECT_EQ(count, 2);
}

TEST(DecisionMatrix, FailuresAndTheirOrder) {
    const Matrix one_row({{1, 2}});
    const std::vector<std::int64_t> wrong = {1};
    const std::vector<double> weights_wrong = {1, 1, 1};
    auto e = entropy_weight(one_row.view(), vec(wrong));  // row check comes first
    ASSERT_FALSE(e.ok());
    EXPECT_EQ(e.error().kind, ErrorKind::value_error);
    EXPECT_EQ(e.error().message, "Data must have more than one row");
    auto t = topsis(Matrix(Rows{}).view(), vec(weights_wrong), vec(wrong));
    ASSERT_FALSE(t.ok());
    EXPECT_EQ(t.error().message, "Data must have more than one row");

    const Matrix two_rows({{1, 2}, {3, 4}});
    const std::vector<std::int64_t> codes = {1, 1};
    const std::vector<double> weights = {1, 1};
    auto expect_failure = [](auto call) {
        try {
            call();
            ADD_FAILURE() << "no failure";
        } catch (const InternalFailure& failure) {
            EXPECT_STREQ(failure.what(), "assertion failed: part.equal_dim(dimension)");
        }
    };
    expect_failure([&] { entropy_weight(two_rows.view(), vec(wrong)); });
    expect_failure([&] { topsis(two_rows.view(), vec(weights_wrong), vec(codes)); });
    expect_failure([&] { topsis(two_rows.view(), vec(weights), vec(wrong)); });
    expect_failure([&] { topsis(two_rows.view(), vec(weights_wrong), vec(wrong)); });
}

TEST(DecisionMatrix, MemoryOrderDoesNotChangeResults) {
    // 37 x 11: groups of eight criteria plus a tail, NaN and a constant column.
    const std::size_t n = 37, m = 11;
    Rows rows(n, std::vector<double>(m));
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < m; ++j) rows[i][j] = std::sin(1.0 + i * 7.0 + j * 3.0) * (j + 1);
    for (auto& row : rows) row[4] = 2.5;
    rows[5][9] = nan;
    std::vector<std::int64_t> codes = {1, 0, 1, 2, 1, -1, 1, 1, 0, 1, 0};
    std::vector<double> weights = {0.1, 0.2, 0, -0.3, 1, 2, 0.5, 0.5, 0.25, 1, 3};
    const Matrix plain(rows);
    const auto want_e = entropy_weight(plain.view(), vec(codes)).value();
    const auto want_t = topsis(plain.view(), vec(weights), vec(codes)).value();

    // Reversed, transposed storage, packed at an odd byte offset with
    // 9-byte element spacing so every load is unaligned.
    std::vector<char> bytes(1 + n * m * 9);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < m; ++j)
            std::memcpy(&bytes[1 + ((m - 1 - j) * n + (n - 1 - i)) * 9], &rows[i][j], 8);
    const StridedMatrix odd{&bytes[1 + ((m - 1) * n + (n - 1)) * 9], n, m, -9,
                            -static_cast<std::ptrdiff_t>(n * 9)};
    const auto got_e = entropy_weight(odd, vec(codes)).value();
    EXPECT_TRUE(same_bits(got_e.weights, want_e.weights));
    EXPECT_TRUE(same_bits(got_e.scores, want_e.scores));
    EXPECT_TRUE(same_bits(topsis(odd, vec(weights), vec(codes)).value(), want_t));
    EXPECT_TRUE(std::isnan(want_t[0]));  // the NaN criterion spoils every coefficient

    // Broadcast: every row is the same stored row.
    const StridedMatrix broadcast{plain.view().first, n, m, 0, 8};
    auto same = topsis(broadcast, vec(weights), vec(codes));
    for (double c : same.value()) EXPECT_EQ(c, 0.5);
}

TEST(DecisionMatrix, LargeMatricesTakeTheSamePath) {
    // Over 2 MiB of work matrix: alternating 0/1 benefit column and a constant.
    Rows rows(200000, std::vector<double>{0.0, 4.0});
    for (std::size_t i = 1; i < rows.size(); i += 2) rows[i][0] = 1.0;
    const auto r = run_entropy(rows, {1, 1});
    EXPECT_EQ(r.weights, (std::vector<double>{1.0, 0.0}));
    const auto c = run_topsis(rows, {1, 1}, {1, 0});
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(r.scores[i], rows[i][0]);
        ASSERT_EQ(c[i], rows[i][0]);
    }
}

}  // namespace
}  // namespace ternavik
