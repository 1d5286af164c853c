#pragma once
#include "binding/errors.hpp"
#include "modules/ternavik/entry_points.hpp"

namespace ternavik::engine {

// Method-table shims of ternavik._engine's functions (each runs the entry
// guard). Every shim has the METH_VARARGS | METH_KEYWORDS signature and, like
// the guard, is not noexcept: a thread the interpreter ends on its way out
// unwinds through it.

// The stepping differential-evolution engine (de_engine.cpp).
PyObject* de_engine_create(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* de_engine_init(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* de_engine_evaluate(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* de_engine_run(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* de_engine_configure(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* de_engine_state(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* evaluate_native(PyObject* self, PyObject* args, PyObject* kwargs);

PyObject* objective_weights_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* rank_coefficients_entry(PyObject* self, PyObject* args, PyObject* kwargs);

// Ranking methods and normalisations (decision_methods.cpp).
PyObject* normalize_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* topsis_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* vikor_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* promethee2_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* copras_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* waspas_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* edas_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* moora_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* aras_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* mabac_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* codas_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* cocoso_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* mairca_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* marcos_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* spotis_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);

// Outranking, grey relations and stochastic rank counts (outranking_methods.cpp).
PyObject* promethee1_flows_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* electre1_outranking_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* gra_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* rank_counts_entry(PyObject* self, PyObject* args, PyObject* kwargs);

// Decision analysis: the whole functions, then the pieces for row blocks.
// entropy_weight_entry and topsis_entry are _ternavik's own, built into
// this module too (see modules/ternavik/entry_points.hpp).
PyObject* topsis_scan_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* topsis_ideals_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* topsis_closeness_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* entropy_extremes_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* entropy_sums_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* entropy_weights_entry(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* entropy_scores_entry(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace ternavik::engine
