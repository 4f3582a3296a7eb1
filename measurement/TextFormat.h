// Number texts of the decoder. They must equal what C's printf gives, but run
// several million times a second, so the common cases avoid printf.
#pragma once

#include <cstddef>
#include <string>

#include "platform/posix/WinTypes.h"

// Longest text FormatFixed4 writes, terminator included ("%.4f" of any double).
constexpr std::size_t FIXED4_BUFFER = 330;

// Exactly printf("%.4f", value) under the default rounding mode; returns the length.
std::size_t FormatFixed4(double value, char* buffer);
void FormatFixed4(double value, std::string& out);
std::string FormatFixed4(double value);

// Unsigned decimal, no leading zeros; the buffer needs 11 bytes.
std::size_t FormatUnsigned(DWORD value, char* buffer);
void FormatUnsigned(DWORD value, std::string& out);
