// make_id_seeds.cpp - writes identification areas as the virtual board
// builds them, the seeds of fuzz_identify: its default board and the
// variants of the keys that shape the area.
//
//   make_id_seeds <directory>
#include "board_config.h"
#include "id_area.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool writeArea(const std::string &dir, const char *name, const BoardConfig &cfg) {
    std::vector<uint8_t> area = buildIdArea(cfg);
    std::string path = dir + "/" + name;
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::perror(path.c_str());
        return false;
    }
    bool written = std::fwrite(area.data(), 1, area.size(), file) == area.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_id_seeds <directory>\n");
        return 2;
    }
    std::string dir = argv[1];
    bool ok = writeArea(dir, "default-board", BoardConfig());

    BoardConfig cfg;
    cfg.idPrefixSize = 17; // the quirky 0x0610 entry: one byte more than it says
    ok &= writeArea(dir, "prefix-17", cfg);
    cfg.idPrefixSize = 0;
    ok &= writeArea(dir, "prefix-0", cfg);
    cfg.idPrefixSize = 120; // pushes the board's entry out of the area
    ok &= writeArea(dir, "prefix-120", cfg);

    cfg = BoardConfig();
    cfg.idTag = 0x1234; // the board's entry is there but cannot be found
    ok &= writeArea(dir, "foreign-tag", cfg);

    cfg = BoardConfig();
    cfg.cpuMask = 0x21; // P1 and P6 only
    cfg.submodules = 2;
    cfg.x5Type = 1;
    cfg.x6Type = 1;
    cfg.cpuClockMHz = 0xFFFF;
    ok &= writeArea(dir, "odd-board", cfg);
    return ok ? 0 : 1;
}
