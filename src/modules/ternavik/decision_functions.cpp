// entropy_weight and topsis: bind and convert in signature order, run the
// algorithm, hand the result buffers to NumPy without a copy.
#include "binding/array_view.hpp"
#include "core/entropy_weight.hpp"
#include "core/topsis.hpp"
#include "entry_points.hpp"

namespace ternavik {

namespace {

constexpr Parameter entropy_weight_parameters[] = {{"data", Kind::float64_matrix},
                                                   {"indicator_type", Kind::int64_vector}};
constexpr Parameter topsis_parameters[] = {{"data", Kind::float64_matrix},
                                           {"weights", Kind::float64_vector},
                                           {"indicator_type", Kind::int64_vector}};

}  // namespace

const Signature entropy_weight_signature{"entropy_weight", entropy_weight_parameters};
const Signature topsis_signature{"topsis", topsis_parameters};

Result<PyRef> entropy_weight_body(const Arguments& a) {
    Outcome<EntropyWeightResult> result =
        entropy_weight(a.view(0).matrix(), a.view(1).int_vector());
    if (!result.ok()) return from_core_error(std::move(result.error()));
    PyRef weights = vector_to_array(std::move(result.value().weights));
    PyRef scores = vector_to_array(std::move(result.value().scores));
    return make_tuple({weights.release(), scores.release()});
}

Result<PyRef> topsis_body(const Arguments& a) {
    Outcome<std::vector<double>> closeness =
        topsis(a.view(0).matrix(), a.view(1).float_vector(), a.view(2).int_vector());
    if (!closeness.ok()) return from_core_error(std::move(closeness.error()));
    return vector_to_array(std::move(closeness.value()));
}

}  // namespace ternavik
