#pragma once
#include <vector>

#include "binding/binder.hpp"

namespace ternavik::engine {

// The declared entry points of ternavik._engine, one list per source file.
std::vector<EntryPoint> de_engine_entry_points();         // de_engine.cpp
std::vector<EntryPoint> decision_method_entry_points();   // decision_methods.cpp
std::vector<EntryPoint> outranking_entry_points();        // outranking_methods.cpp
std::vector<EntryPoint> decision_chunk_entry_points();    // decision_chunks.cpp
std::vector<EntryPoint> weighting_entry_points();         // weighting_functions.cpp

}  // namespace ternavik::engine
