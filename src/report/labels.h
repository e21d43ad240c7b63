// labels.h - the Russian words the pages show for what the record holds
// in its own (English) keys: steps, statuses, outcomes, measurements.
#ifndef ZORVANTIK_REPORT_LABELS_H
#define ZORVANTIK_REPORT_LABELS_H

#include <string>

// "Внутренние линки" for INTLINKS; an unknown key as it is.
std::string stepLabel(const std::string &key);
// The step's name in the record and the JUnit report: "Internal links"
// for INTLINKS; an unknown key as it is.
std::string stepRecordName(const std::string &key);
// Where the step comes in a run: 0 for identification .. 9 for EXTLINKS;
// 10 for an unknown key.
int stepRunOrder(const std::string &key);
// "пройден" for passed, "частично" for partial, "неприменим" for not applicable; an unknown status as it is.
std::string statusLabel(const std::string &status);
// The stamp of an outcome: "ПРОЙДЕН" .. "АВАРИЙНЫЙ ВЫХОД".
std::string outcomeStamp(const std::string &outcome);
// "Запись через порт хоста" for hostPortWrite; an unknown name as it is.
std::string measurementLabel(const std::string &name);
// "Мбайт/с" for MB/s.
std::string unitLabel(const std::string &unit);
// "тест шаблонами" for pattern test.
std::string findingTestLabel(const std::string &test);
// "8,6 с", "2 мин 05 с" for a count of milliseconds.
std::string durationLabel(double ms);

// The Russian form of a noun that agrees with the number n: plural(1,
// "несовпадение", "несовпадения", "несовпадений") is the first, 2..4 (and
// 22, 103 ...) the second, 0, 5..20, 11..14 (and 111 ...) the third.
std::string plural(long long n, const std::string &one, const std::string &few, const std::string &many);
// The number and its noun: "2 несовпадения".
std::string counted(long long n, const std::string &one, const std::string &few, const std::string &many);

#endif // ZORVANTIK_REPORT_LABELS_H
