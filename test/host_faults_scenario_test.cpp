// Runs of the real program where a file of the station is there but is no
// file (a directory of its name) or is refused part way: the run goes as
// for a missing file of that name, plus the board library's one line on
// stderr, and never ends in an abort.
#include "support/scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

const std::string kPrompt = "\nНажмите любую клавишу\r" + std::string(47, ' ');
const std::string kSuccess = "\n+++++ ТЕСТИРОВАНИЕ ЗАВЕРШЕНО УСПЕШНО +++++";
const std::string kFftLoadError = "\n### ОШИБКА:  Не могу загрузить программу теста.";

std::string fftHeader(int cpu) {
    return "\nCPU P" + std::to_string(cpu) + ": ----- ФУНКЦИОНАЛЬНЫЙ ТЕСТ (КОМПЛЕКСНОЕ БПФ 1K) -----";
}

// A log without its first lines, the start's date and time.
std::string afterStartTime(const std::string &log) {
    const std::string time = "\nТекущее время: ";
    std::size_t at = log.find(time);
    return at == std::string::npos ? "no start time in: " + log : log.substr(at + time.size() + 8);
}

// What a run showed and logged, as far as it does not depend on the hour.
struct Seen {
    int status;
    std::string console, screen, protocol, err;
};

class HostFaults : public ScenarioTest {
protected:
    Seen run(const std::vector<std::string> &keys, const std::string &board) {
        RunResult r = runStation(selecting(keys), board);
        return {r.status, maskVariable(console_), maskVariable(afterStartTime(screen_)),
                maskVariable(afterStartTime(protocol_)), r.err};
    }
    // The run with dsp_app/`file` taken out, then with a directory in its
    // place: both must show and log the same and end the same.
    Seen compareWithMissing(const std::string &file, const std::vector<std::string> &keys, const std::string &board) {
        station_.remove("dsp_app/" + file);
        Seen missing = run(keys, board);
        EXPECT_EQ(missing.err, "") << file;
        fs::create_directory(station_.file("dsp_app/" + file));
        Seen directory = run(keys, board);
        EXPECT_EQ(directory.status, missing.status) << file;
        EXPECT_EQ(directory.console, missing.console) << file;
        EXPECT_EQ(directory.screen, missing.screen) << file;
        EXPECT_EQ(directory.protocol, missing.protocol) << file;
        EXPECT_EQ(directory.err, file + ": cannot be read (Is a directory)\n");
        return directory;
    }
};

// The library cannot start: fatal stop 3 with its key prompt, as for a
// library that refuses to start, and the reason on stderr.
TEST_F(HostFaults, BoardFileThatIsADirectoryStopsTheRunAtInit) {
    fs::create_directory(station_.file("virtual-board.ini"));
    RunResult r = runProgram(station_.path(), {});
    EXPECT_EQ(r.status, 255);
    const std::string message = "\n### ОШИБКА: Не могу инициализировать модуль.";
    EXPECT_EQ(r.out, toCp866(message + kPrompt));
    EXPECT_EQ(afterStartTime(logText(station_.read("screen1.log"))), message);
    EXPECT_EQ(afterStartTime(logText(station_.read("protoc1.log"))), message);
    EXPECT_EQ(r.err, "virtual-board.ini: cannot be read (Is a directory)\n");
}

// csdram: the configuration check's error, counted, and the run goes on.
TEST_F(HostFaults, CsdramThatIsADirectoryFailsTheConfigurationCheck) {
    Seen seen = compareWithMissing("csdram.ldr", {}, "");
    EXPECT_EQ(seen.status, 0);
    EXPECT_NE(seen.console.find("\n### ОШИБКА: Не могу проверить конфигурацию."), std::string::npos);
    EXPECT_TRUE(endsWith(seen.console, "\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 1 ")) << seen.console;
}

// pcdspint: the interrupt test cannot run, which ends the run.
TEST_F(HostFaults, PcdspintThatIsADirectoryEndsTheRun) {
    Seen seen = compareWithMissing("pcdspint.ldr", {"INTERRUPTS"}, "");
    EXPECT_EQ(seen.status, 255);
    EXPECT_TRUE(endsWith(seen.console, "### ОШИБКА: Не могу загрузить 'pcdspint.ldr' на модуль.\n")) << seen.console;
}

// cfft_p1.tsx: P1's FFT test reports its load error, counted; P2's runs.
TEST_F(HostFaults, FftProgramThatIsADirectoryIsOneError) {
    Seen seen = compareWithMissing("cfft_p1.tsx", {"FFTTIME"}, "cpu_mask = 0x03\n");
    EXPECT_EQ(seen.status, 0);
    EXPECT_NE(seen.console.find(fftHeader(1) + kFftLoadError + fftHeader(2) + "\nТест выполнен ("), std::string::npos)
        << seen.console;
    EXPECT_TRUE(endsWith(seen.console, "\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 1 ")) << seen.console;
}

// A set whose [P1] is given twice is refused whole: P1's FFT is not run on
// the sound first section.
TEST_F(HostFaults, FftSetWithP1TwiceIsALoadErrorAndTheRunGoesOn) {
    station_.write("dsp_app/cfft_p1.tsx", "ZORVANTIK-DSP-SET 1\n[P1]\nfirmware = cfft\n[P1]\nfirmware = cfft\n");
    RunResult r = runStation(selecting({"FFTTIME"}), "cpu_mask = 0x03\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(consoleHas(fftHeader(1) + kFftLoadError + fftHeader(2) + "\nТест выполнен (")) << console_;
    EXPECT_NE(protocol_.find(fftHeader(1) + "\n### ОШИБКА." + fftHeader(2)), std::string::npos) << protocol_;
    EXPECT_EQ(count(console_, "\nТест выполнен ("), 1u);
    EXPECT_TRUE(endsWith(console_, "\n----- ТЕСТИРОВАНИЕ ЗАВЕРШЕНО С ОШИБКАМИ - 1 ")) << console_;
    EXPECT_EQ(r.err, "cfft_p1.tsx:4: section [p1] already began on line 2\n");
}

} // namespace
