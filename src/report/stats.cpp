// stats.cpp - median and quantiles.
#include "report/stats.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
    double upper = values[middle];
    if (values.size() % 2)
        return upper;
    double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
    return (lower + upper) / 2;
}

double quantile(const std::vector<double> &sorted, double q) {
    if (sorted.empty())
        return 0;
    double at = q * static_cast<double>(sorted.size() - 1);
    std::size_t lo = static_cast<std::size_t>(std::floor(at));
    std::size_t hi = std::min(lo + 1, sorted.size() - 1);
    return sorted[lo] + (sorted[hi] - sorted[lo]) * (at - static_cast<double>(lo));
}
