// usage.cpp - the usage text and the version.
#include "run/usage.h"

#include "run/output.h"

#include <cstring>

#ifndef ZT_VERSION
#error "ZT_VERSION must hold the program's version (the build sets it from the project version)"
#endif

namespace {

// One console call per line: conPrintf takes at most kConsoleTextMax
// characters at a time.
const char *const kUsage[] = {
    "Использование: zorvantik-test [-B<n>] [-C] [-V]\n",
    "Приемочный тест модуля ZORVANTIK. Рабочий каталог - текущий.\n",
    "\n",
    "Параметры (только первые три; большие и малые буквы равны):\n",
    "  -B<n>        номер модуля n, по умолчанию 1\n",
    "  -C           непрерывный режим: тест обмена данными повторяется до Ctrl-C\n",
    "  -V           библиотека модуля выводит каждый свой вызов в stderr\n",
    "  --help       эта справка\n",
    "  --version    версия программы\n",
    "\n",
    "Читает из текущего каталога:\n",
    "  checkN.cfg          выбор тестов модуля N = 1..8 (прочие номера - check1.cfg)\n",
    "  dsp_app/            программы процессоров\n",
    "  virtual-board.ini   описание виртуального модуля (только для него)\n",
    "\n",
    "Пишет в текущий каталог, заново при каждом запуске:\n",
    "  protocN.log, screenN.log   протокол и мониторинг испытаний модуля N = 2..8\n",
    "  protoc1.log, screen1.log   то же для модулей 0 и 1\n",
    "  protocol.log, screen.log   то же для прочих номеров\n",
    "  resultN.json, resultN.xml  итог испытаний (JSON, JUnit) под тем же N\n",
    "  resultN.html               страница испытаний для браузера под тем же N\n",
    "\n",
    "Код завершения:\n",
    "  0     тестирование проведено до конца, с ошибками или без\n",
    "  255   аварийный останов, аварийный выход из теста или Ctrl-C\n",
};

} // namespace

InfoOption findInfoOption(int argc, char **argv) {
    for (int i = 1; i < argc && i <= 3; ++i) {
        if (std::strcmp(argv[i], "--help") == 0)
            return InfoOption::kHelp;
        if (std::strcmp(argv[i], "--version") == 0)
            return InfoOption::kVersion;
    }
    return InfoOption::kNone;
}

void printInfo(InfoOption option) {
    if (option == InfoOption::kHelp)
        for (const char *line : kUsage)
            conPrintf("%s", line);
    else if (option == InfoOption::kVersion)
        conPrintf("zorvantik-test %s\n", ZT_VERSION);
}
