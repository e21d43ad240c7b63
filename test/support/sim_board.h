// sim_board.h - a fixture for tests of the virtual board through its C
// API: a station directory of its own, a board file per test, programs
// loaded from dsp_app/ as the program loads them.
#ifndef ZORVANTIK_TEST_SIM_BOARD_H
#define ZORVANTIK_TEST_SIM_BOARD_H

#include "qal.h"
#include "support/station.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

class SimBoardTest : public ::testing::Test {
protected:
    // With `stationPrograms`, dsp_app/ holds the station's programs;
    // without, it starts empty.
    explicit SimBoardTest(bool stationPrograms = true) : station_(stationPrograms), in_(station_.path()) {
        if (!stationPrograms)
            std::filesystem::create_directories(dir() / "dsp_app");
    }
    void SetUp() override { QAL_displayMode(0); }
    void TearDown() override { QAL_cleanup(); }

    std::filesystem::path dir() const { return station_.path(); }
    // Writes `keys` as board 1 and opens it.
    std::int32_t open(const std::string &keys = "") {
        station_.write("virtual-board.ini", "[board 1]\n" + keys);
        std::int32_t h = QAL_open(1, 0, 0);
        EXPECT_GT(h, 0);
        return h;
    }
    // Loads as the program does, from inside dsp_app/.
    std::int32_t load(std::int32_t h, std::int32_t node, const std::string &file) {
        ScopedDir programs(station_.file("dsp_app"));
        return QAL_load(h, node, file.c_str(), 0, nullptr);
    }
    void program(const std::string &file, const std::string &text) { station_.write("dsp_app/" + file, text); }

    TempStation station_;
    ScopedDir in_;
};

#endif // ZORVANTIK_TEST_SIM_BOARD_H
