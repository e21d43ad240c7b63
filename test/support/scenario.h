// scenario.h - a fixture for runs of the real program in a station of its
// own: the selection and board files it is given, and what it showed and
// logged, decoded to UTF-8 (log line ends as "\n").
#ifndef ZORVANTIK_TEST_SCENARIO_H
#define ZORVANTIK_TEST_SCENARIO_H

#include "support/process.h"
#include "support/station.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class ScenarioTest : public ::testing::Test {
protected:
    // A selection file that runs the tests of `keys`.
    static std::string selecting(const std::vector<std::string> &keys) {
        std::string cfg;
        for (const std::string &key : keys)
            cfg += "[" + key + " START]\nCHECK=1\n[" + key + " END]\n";
        return cfg;
    }

    // Writes `cfg` as check1.cfg and `board` as board 1, and runs the
    // program with `keys` as the whole of its input.
    RunResult runStation(const std::string &cfg, const std::string &board, const std::string &keys = "",
                         const std::vector<std::string> &args = {}) {
        station_.write("check1.cfg", cfg);
        station_.write("virtual-board.ini", "[board 1]\n" + board);
        RunResult r = runWithKeyFile(station_.path(), args, keys, &keysRead_);
        console_ = consoleText(r.out);
        screen_ = logText(station_.read("screen1.log"));
        protocol_ = logText(station_.read("protoc1.log"));
        return r;
    }
    bool consoleHas(const std::string &text) const { return console_.find(text) != std::string::npos; }
    bool logsHave(const std::string &text) const {
        return screen_.find(text) != std::string::npos && protocol_.find(text) != std::string::npos;
    }

    TempStation station_;
    long keysRead_ = 0; // keys the last run read
    std::string console_, screen_, protocol_;
};

#endif // ZORVANTIK_TEST_SCENARIO_H
