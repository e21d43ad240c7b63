/*
 * id_area.h - the board's identification area (unit 1 of QAL_puRead).
 *
 * A list of entries packed from offset 0, each: tag (16-bit LE), data size
 * n (16-bit LE), n data bytes. The board writes its 0x0610 entry with one
 * extra data byte whenever n is not 18, and readers must skip n + 1 then.
 * The area is 128 bytes of flash; what the entries leave free stays erased
 * (0xFF), and so does everything beyond the area.
 */
#ifndef ZORVANTIK_SIM_ID_AREA_H
#define ZORVANTIK_SIM_ID_AREA_H

#include "board_config.h"

#include <cstdint>
#include <vector>

constexpr uint32_t kIdAreaSize = 128;
constexpr uint16_t kIdTagPrefix = 0x0610; /* manufacturing entry, first in the area */
constexpr uint16_t kIdTagEnd = 0x00FF;    /* closes the list */

/* Offsets inside the board's own entry, counted from its header. */
constexpr uint32_t kIdSubmodules = 4; /* 8-bit submodule code */
constexpr uint32_t kIdClock = 5;      /* 16-bit LE clock in MHz, unaligned */
constexpr uint32_t kIdCpuMask = 20;   /* 16-bit LE processor presence mask */
constexpr uint32_t kIdX5 = 24;        /* 8-bit connector X5 type */
constexpr uint32_t kIdX6 = 25;        /* 8-bit connector X6 type */
constexpr uint32_t kIdBoardDataSize = 22;

/* The 128 bytes of the area as this board's configuration writes them. */
std::vector<uint8_t> buildIdArea(const BoardConfig &cfg);

#endif /* ZORVANTIK_SIM_ID_AREA_H */
