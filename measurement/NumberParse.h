// Numbers typed by the operator, read in the manner of atoi: leading blanks,
// an optional sign, digits up to the first non-digit, 0 when there are none.
// Unlike atoi, a number too large for 32 bits saturates instead of wrapping,
// so it is always out of any range the dialog accepts.
#pragma once

#include <cstdint>
#include <string_view>

std::int64_t ParseAtoi(std::string_view text);
