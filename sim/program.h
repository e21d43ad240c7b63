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
 * one firmware on the node it is loaded onto.
 *
 * A program set puts firmware on several processors from one file. Its
 * header is ZORVANTIK-DSP-SET 1, and each processor has a section named
 * after it with a body as above:
 *
 *   ZORVANTIK-DSP-SET 1
 *   [P1]
 *   firmware = linkcheck
 *   port = 1
 *   [P2]
 *   firmware = linksend
 *   port = 0
 *
 * The header decides the format, whatever the file is called. Parsing
 * gives one placement per section, on the processor the section names;
 * where it finally runs is the loader's business (nodes.h).
 */
#ifndef ZORVANTIK_SIM_PROGRAM_H
#define ZORVANTIK_SIM_PROGRAM_H

#include "virtual_board.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr char kProgramHeader[] = "ZORVANTIK-DSP 1";
constexpr char kProgramSetHeader[] = "ZORVANTIK-DSP-SET 1";
constexpr size_t kMaxProgramFileBytes = 65536;

/* One firmware for one node. */
struct Placement {
    int32_t node; /* the node loaded onto, or for a set the processor named */
    const Firmware *firmware;
    ProgramParams params;
};

/* Parses the text of a program file named `name`, loaded onto `node`.
 * On a malformed file returns false with one line "name:line: why" and
 * no placement, however many sections before the bad one were sound.
 * `isSet` tells which format the file had. */
bool parseProgram(const std::string &text, const std::string &name, int32_t node, std::vector<Placement> &out,
                  bool &isSet, std::string &error);

#endif /* ZORVANTIK_SIM_PROGRAM_H */
