#pragma once
// The status lines that describe a communication error word.

#include <cstdint>
#include <string_view>
#include <vector>

// The lines for every error flag set in the low 16 bits of `errors`, in a
// fixed order that does not depend on when the errors happened.
std::vector<std::string_view> CommErrorLines(int32_t errors);
