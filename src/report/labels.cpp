// labels.cpp - the pages' Russian words for the record's keys.
#include "report/labels.h"

#include <cmath>
#include <cstdio>

namespace {

struct Label {
    const char *key, *text;
};

std::string find(const Label *table, std::size_t size, const std::string &key) {
    for (std::size_t i = 0; i < size; ++i)
        if (key == table[i].key)
            return table[i].text;
    return key;
}

// The steps in the order a run takes them: the record's key, the name
// the record and the JUnit report give it, the pages' label.
struct StepNames {
    const char *key, *name, *label;
};
const StepNames kSteps[] = {
    {"identification", "Board identification", "Идентификация модуля"},
    {"configuration", "Module configuration check", "Проверка конфигурации"},
    {"HOST", "Host data exchange", "Обмен данными с хостом"},
    {"HSTREAM", "DMA stream", "Поток DMA"},
    {"INTERRUPTS", "Interrupts", "Прерывания"},
    {"INTLINKS", "Internal links", "Внутренние линки"},
    {"memory", "Memory", "Память"},
    {"CLASTER", "Cluster memory", "Память кластера"},
    {"FFTTIME", "FFT", "БПФ"},
    {"EXTLINKS", "External links", "Внешние линки"},
};
constexpr int kStepCount = static_cast<int>(sizeof kSteps / sizeof kSteps[0]);

const Label kStatuses[] = {
    {"passed", "пройден"},     {"failed", "не пройден"}, {"skipped", "пропущен"},
    {"not run", "не начат"},   {"interrupted", "прерван"}, {"partial", "частично"},
    {"not applicable", "неприменим"},
};

const Label kStamps[] = {
    {"passed", "ПРОЙДЕН"},
    {"failed", "НЕ ПРОЙДЕН"},
    {"interrupted", "ПРЕРВАН"},
    {"fatal", "АВАРИЙНЫЙ ОСТАНОВ"},
    {"aborted", "АВАРИЙНЫЙ ВЫХОД"},
};

const Label kMeasurements[] = {
    {"hostPortWrite", "Запись через порт хоста"},
    {"hostPortRead", "Чтение через порт хоста"},
    {"dpramWrite", "Запись в DPRAM"},
    {"dpramRead", "Чтение из DPRAM"},
    {"fifoBusRead", "Чтение FIFO через шину"},
    {"fifoBusWrite", "Запись FIFO через шину"},
    {"fifoLinkRead", "Чтение FIFO через линк"},
    {"fifoLinkWrite", "Запись FIFO через линк"},
    {"putMsg", "Передача сообщений"},
    {"getMsg", "Приём сообщений"},
    {"streamRate", "Поток DMA"},
    {"cycles", "Такты БПФ"},
    {"time", "Время БПФ"},
    {"chip1", "Микросхема 1"},
    {"chip2", "Микросхема 2"},
    {"chip3", "Микросхема 3"},
    {"chip4", "Микросхема 4"},
};

const Label kUnits[] = {{"MB/s", "Мбайт/с"}, {"cycles", "тактов"}, {"us", "мкс"}, {"words", "слов"}};

const Label kFindingTests[] = {
    {"word exchange", "обмен словом"},     {"array exchange", "обмен массивом"},
    {"DPRAM exchange", "обмен через DPRAM"}, {"pattern test", "тест шаблонами"},
    {"stream", "поток DMA"},
};

} // namespace

#define LOOKUP(table, key) find(table, sizeof table / sizeof table[0], key)

int stepRunOrder(const std::string &key) {
    for (int i = 0; i < kStepCount; ++i)
        if (key == kSteps[i].key)
            return i;
    return kStepCount;
}
std::string stepLabel(const std::string &key) {
    int i = stepRunOrder(key);
    return i < kStepCount ? kSteps[i].label : key;
}
std::string stepRecordName(const std::string &key) {
    int i = stepRunOrder(key);
    return i < kStepCount ? kSteps[i].name : key;
}
std::string statusLabel(const std::string &status) { return LOOKUP(kStatuses, status); }
std::string outcomeStamp(const std::string &outcome) { return LOOKUP(kStamps, outcome); }
std::string measurementLabel(const std::string &name) { return LOOKUP(kMeasurements, name); }
std::string unitLabel(const std::string &unit) { return LOOKUP(kUnits, unit); }
std::string findingTestLabel(const std::string &test) { return LOOKUP(kFindingTests, test); }

std::string durationLabel(double ms) {
    if (!std::isfinite(ms) || ms < 0 || ms > 1e12)
        return "—";
    char text[48];
    if (ms < 60000) {
        std::snprintf(text, sizeof text, "%.1f с", ms / 1000);
        for (char &c : text)
            if (c == '.')
                c = ',';
    } else {
        long s = std::lround(ms / 1000);
        if (s < 3600)
            std::snprintf(text, sizeof text, "%ld мин %02ld с", s / 60, s % 60);
        else
            std::snprintf(text, sizeof text, "%ld ч %02ld мин", s / 3600, s / 60 % 60);
    }
    return text;
}

std::string plural(long long n, const std::string &one, const std::string &few, const std::string &many) {
    long long m = n < 0 ? -n : n;
    long long tens = m % 100, units = m % 10;
    if (tens >= 11 && tens <= 14)
        return many;
    if (units == 1)
        return one;
    if (units >= 2 && units <= 4)
        return few;
    return many;
}

std::string counted(long long n, const std::string &one, const std::string &few, const std::string &many) {
    return std::to_string(n) + " " + plural(n, one, few, many);
}
