// calendar.h - dates of the proleptic Gregorian calendar as days since
// 1970-01-01, without the C library's time zone: the archive's names (run)
// and the records' instants (report) both count in UTC.
#ifndef ZORVANTIK_REPORT_CALENDAR_H
#define ZORVANTIK_REPORT_CALENDAR_H

// Days since 1970-01-01 of the civil date y-m-d (m 1..12, d 1..31).
inline long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = static_cast<unsigned>(y - era * 400);
    unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

// The civil date of day z since 1970-01-01: the inverse of daysFromCivil.
inline void civilFromDays(long long z, long long &y, unsigned &m, unsigned &d) {
    z += 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    unsigned doe = static_cast<unsigned>(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

#endif
