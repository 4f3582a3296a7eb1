#include "measurement/TextFormat.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Digits of v, most significant first; returns the count.
std::size_t WriteDigits(std::uint64_t v, char* out)
{
    char tmp[20];
    std::size_t n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = tmp[n - 1 - i];
    return n;
}

} // namespace

std::size_t FormatFixed4(double value, char* buffer)
{
    // value = m * 2^e exactly; value * 10^4 rounded half to even is then integer
    // arithmetic on m * 10^4 (below 2^67, so 128 bits hold it).
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const bool negative = (bits >> 63) != 0;
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased == 0x7FF || std::fabs(value) >= 9.0e14) // inf, nan, or past the 64-bit path
        return static_cast<std::size_t>(std::snprintf(buffer, FIXED4_BUFFER, "%.4f", value));
    int exponent;
    if (biased == 0) {
        exponent = -1074;
    } else {
        mantissa |= std::uint64_t{1} << 52;
        exponent = biased - 1075;
    }

    // Below 9e14 < 2^52 the exponent is always negative.
    std::uint64_t scaled; // value * 10^4, rounded
    const unsigned __int128 n = static_cast<unsigned __int128>(mantissa) * 10000u;
    const int shift = -exponent;
    if (shift >= 120) {
        scaled = 0; // far below half a unit of the last decimal
    } else {
        const unsigned __int128 one = static_cast<unsigned __int128>(1) << shift;
        const unsigned __int128 half = one >> 1;
        scaled = static_cast<std::uint64_t>(n >> shift);
        const unsigned __int128 r = n & (one - 1);
        if (r > half || (r == half && (scaled & 1)))
            ++scaled;
    }

    char* p = buffer;
    if (negative)
        *p++ = '-';
    const std::uint64_t integral = scaled / 10000;
    const unsigned fraction = static_cast<unsigned>(scaled % 10000);
    p += WriteDigits(integral, p);
    *p++ = '.';
    p[0] = static_cast<char>('0' + fraction / 1000);
    p[1] = static_cast<char>('0' + fraction / 100 % 10);
    p[2] = static_cast<char>('0' + fraction / 10 % 10);
    p[3] = static_cast<char>('0' + fraction % 10);
    p += 4;
    *p = '\0';
    return static_cast<std::size_t>(p - buffer);
}

void FormatFixed4(double value, std::string& out)
{
    char buffer[FIXED4_BUFFER];
    const std::size_t n = FormatFixed4(value, buffer);
    out.assign(buffer, n);
}

std::string FormatFixed4(double value)
{
    std::string s;
    FormatFixed4(value, s);
    return s;
}

std::size_t FormatUnsigned(DWORD value, char* buffer)
{
    const std::size_t n = WriteDigits(value, buffer);
    buffer[n] = '\0';
    return n;
}

void FormatUnsigned(DWORD value, std::string& out)
{
    char buffer[11];
    const std::size_t n = FormatUnsigned(value, buffer);
    out.assign(buffer, n);
}
