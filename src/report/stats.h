// stats.h - the figures the record and the pages take from many values.
#ifndef ZORVANTIK_REPORT_STATS_H
#define ZORVANTIK_REPORT_STATS_H

#include <vector>

// The middle value of an odd count, the mean of the two middle values of
// an even one; 0 for none.
double median(std::vector<double> values);

// Linear interpolation of a sorted list at fraction q (0 to 1) of the way
// from its first value to its last; 0 for none.
double quantile(const std::vector<double> &sorted, double q);

#endif // ZORVANTIK_REPORT_STATS_H
