// fuzz_program.cpp - the DSP program file reader with the firmware table.
//
// Each input is a program file, parsed as loaded onto P1, P4 and P7; its
// header decides whether it is one program or a set. Besides crashes, what
// the loader relies on must hold: a complaint is one "<name>:<line>: why"
// line; an accepted file names a firmware of the table for each placement,
// on a processor P1..P7, with only parameters that firmware takes; a
// one-node file lands on the node it was loaded onto, a set's sections on
// distinct processors whatever node it was loaded onto. Each line of the
// input is also asked about as a firmware name and as a parameter key.
#include "firmware.h"
#include "program.h"

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr char kName[] = "fuzz.tsx";

// The names of the station's programs write; a name the table no longer
// has is simply not found.
const char *const kFirmwareNames[] = {"csdram", "rfifo",     "rfifol",    "wfifo", "wfifol", "drvread",
                                      "drvwrite", "echo",    "pcdspint",  "dsppcint", "linksend", "linkcheck",
                                      "linkrelay", "cfft",   "sdram",     "clast", "clastrelay", "tst_strm"};

void require(bool holds) {
    if (!holds)
        std::abort();
}

void checkComplaint(const std::string &error) {
    std::string head = std::string(kName) + ":";
    require(error.compare(0, head.size(), head) == 0 && error.size() > head.size());
    require(error.find('\n') == std::string::npos);
}

struct Parse {
    bool ok;
    bool isSet;
    std::string error;
    std::vector<Placement> placements;
};

Parse parseOnto(const std::string &text, std::int32_t node) {
    Parse p;
    p.ok = parseProgram(text, kName, node, p.placements, p.isSet, p.error);
    if (!p.ok) {
        checkComplaint(p.error);
        return p;
    }
    require(!p.placements.empty());
    std::set<std::int32_t> nodes;
    for (const Placement &placement : p.placements) {
        require(placement.node >= 0 && placement.node < 7);
        require(nodes.insert(placement.node).second);
        require(placement.firmware && findFirmware(placement.firmware->name) == placement.firmware);
        for (const auto &param : placement.params)
            require(firmwareTakes(*placement.firmware, param.first));
    }
    if (!p.isSet)
        require(p.placements.size() == 1 && p.placements[0].node == node);
    return p;
}

// A key is taken only when it is one whole blank-free word of the list.
void checkTakes(const Firmware &fw, const std::string &key) {
    if (!firmwareTakes(fw, key))
        return;
    require(!key.empty() && key.find(' ') == std::string::npos && key.find('\0') == std::string::npos);
    std::string list = std::string(" ") + fw.params + " ";
    require(list.find(" " + key + " ") != std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);

    Parse onP1 = parseOnto(text, 0);
    for (std::int32_t node : {3, 6}) {
        Parse other = parseOnto(text, node);
        require(other.ok == onP1.ok && other.isSet == onP1.isSet && other.error == onP1.error);
        require(other.placements.size() == onP1.placements.size());
        if (other.ok && other.isSet)
            for (std::size_t i = 0; i < other.placements.size(); ++i)
                require(other.placements[i].node == onP1.placements[i].node &&
                        other.placements[i].firmware == onP1.placements[i].firmware &&
                        other.placements[i].params == onP1.placements[i].params);
    }

    std::vector<const Firmware *> table;
    for (const char *name : kFirmwareNames)
        if (const Firmware *fw = findFirmware(name))
            table.push_back(fw);
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (const Firmware *fw = findFirmware(line))
            require(line == fw->name);
        for (const Firmware *fw : table)
            checkTakes(*fw, line);
        start = end + 1;
    }
    return 0;
}
