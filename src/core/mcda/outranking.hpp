#pragma once
// The methods that give more than one score per alternative or that rank
// pairs: PROMETHEE's two flows, ELECTRE I's outranking, ELECTRE III's
// credibility, grey relational grades, and the rank counts of stochastic
// multicriteria acceptability.
#include <cstdint>
#include <vector>

#include "core/mcda/column_pass.hpp"
#include "core/mcda/methods.hpp"

namespace ternavik::mcda {

// Each weight vector divided by its own sum (in criterion order): the
// outranking methods read weights as shares of the whole.
std::vector<double> unit_weight_rows(const MethodInput& input);

// The criteria as columns where more is better: cost criteria negated.
// Pairwise differences are then read the same way on every criterion.
TransformedMatrix benefit_oriented(const MethodInput& input);

// PROMETHEE's leaving (positive) and entering (negative) flows, K x n each:
// positive_i = (sum_j w_j plus_ij) / (n - 1), negative_i likewise with
// minus_ij; promethee2's net flow is exactly positive - negative.
struct PrometheeFlows {
    BatchScores positive, negative;
};
Outcome<PrometheeFlows> promethee_flows(const MethodInput& input,
                                        const PreferenceFunctions& preference);

// Grey relational grade (higher better), zeta in (0, 1].
Outcome<BatchScores> gra(const MethodInput& input, double zeta);

// ELECTRE I for every weight vector: K x n x n outranking flags (row
// outranks column; the diagonal is 0). Concordance sums the weights, divided
// by their total, of the criteria on which the row is at least as good;
// discordance is the largest amount by which the column beats the row on
// any criterion over the largest range of any criterion.
Outcome<std::vector<std::uint8_t>> electre1(const MethodInput& input, double c, double d);

// ELECTRE III's pseudo-criteria: per criterion the indifference threshold q,
// the preference threshold p and the veto threshold v (+inf: no veto), in
// the criterion's units, with 0 <= q <= p <= v and q, p finite.
struct PseudoCriteria {
    StridedVector<double> q, p, v;
};

// ELECTRE III credibility for every weight vector: K x n x n, row-major,
// sigma(a, b) for row a and column b (the diagonal is 1). See electre3.cpp
// for the formulas and their order of operations.
Outcome<BatchScores> electre3_credibility(const MethodInput& input,
                                          const PseudoCriteria& thresholds);

// Rank counts of K score vectors: counts[i * n + r] is how many rows give
// alternative i rank r + 1 (ties share the smallest rank; NaN ranks after
// every number), and central[i * m + j] sums weights(k, j) over the rows k
// that rank i first. Rows are taken in fixed chunks whose partial sums are
// added in chunk order, so the sums never depend on the thread count.
struct RankCounts {
    std::vector<double> counts;   // n x n
    std::vector<double> central;  // n x m
};
Outcome<RankCounts> rank_counts(const StridedMatrix& scores, const StridedMatrix& weights,
                                bool higher_is_better);

}  // namespace ternavik::mcda
