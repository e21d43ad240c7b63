// labels.h - the Russian words the pages show for what the record holds
// in its own (English) keys: steps, statuses, outcomes, measurements.
#ifndef ZORVANTIK_REPORT_LABELS_H
#define ZORVANTIK_REPORT_LABELS_H

#include <string>

// "Внутренние линки" for INTLINKS; an unknown key as it is.
std::string stepLabel(const std::string &key);
// "пройден" for passed; an unknown status as it is.
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

#endif // ZORVANTIK_REPORT_LABELS_H
