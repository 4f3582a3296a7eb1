#include "measurement/NumberParse.h"

std::int64_t ParseAtoi(std::string_view text)
{
    constexpr std::int64_t LIMIT = std::int64_t{1} << 40; // far outside every accepted range
    std::size_t i = 0;
    // isspace in the C locale: space, \t \n \v \f \r
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < LIMIT)
            value = value * 10 + (text[i] - '0');
    }
    if (value > LIMIT)
        value = LIMIT;
    return negative ? -value : value;
}
