#pragma once
#include <cstddef>

namespace ternavik {

// Logical processors this process may run on; at least 1.
std::size_t processor_count();

}  // namespace ternavik
