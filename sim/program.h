/*
 * program.h - DSP program files.
 *
 * A DSP program is a short text file. Its first line names the format and
 * its version; the lines after it are `key = value` lines in the board
 * file's dialect (comments start with ';' or '#'):
 *
 *   ZORVANTIK-DSP 1
 *   ; 4-byte messages for a benchmark
 *   firmware = drvwrite
 *   size = 4
 *
 * `firmware` names a firmware of the table in firmware.h; every other key
 * is a parameter that firmware takes, a number. A file of this format puts
 * one firmware on the node it is loaded onto. Parsing yields a list of
 * placements, so a format that loads several nodes at once from one file
 * only needs its own header and body reader.
 */
#ifndef ZORVANTIK_SIM_PROGRAM_H
#define ZORVANTIK_SIM_PROGRAM_H

#include "virtual_board.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr char kProgramHeader[] = "ZORVANTIK-DSP 1";
constexpr size_t kMaxProgramFileBytes = 65536;

/* One firmware for one node. */
struct Placement {
    int32_t node;
    const Firmware *firmware;
    ProgramParams params;
};

/* Parses the text of a program file named `name`, loaded onto `node`.
 * On a malformed file returns false with one line "name:line: why". */
bool parseProgram(const std::string &text, const std::string &name, int32_t node, std::vector<Placement> &out,
                  std::string &error);

#endif /* ZORVANTIK_SIM_PROGRAM_H */
