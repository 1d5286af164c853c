#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace ternavik {

// Fills `length` bytes from the operating system's random source. Returns 0
// on success, otherwise the OS error code of the failure.
using OsFillFunction = int (*)(std::uint8_t* buffer, std::size_t length);

// Fills through the current source (the OS unless a test replaced it).
int os_fill(std::uint8_t* buffer, std::size_t length);

// Replaces the source used by os_fill and returns the previous one.
OsFillFunction set_os_fill_for_testing(OsFillFunction source);

// The text of an os_fill failure: "OS Error: <code>".
std::string os_error_text(int code);

}  // namespace ternavik
