// identify.h - board identification and the board's description.
#ifndef ZORVANTIK_IDENTIFY_H
#define ZORVANTIK_IDENTIFY_H

#include <cstdint>
#include <string>

constexpr std::uint16_t kZorvantikModel = 0x5366; // board model, also the tag of its own entry
constexpr int kNotThisBoard = -5;                 // identifyBoard: another board model

constexpr int kIdAreaReadBytes = 128;                     // bytes read from the identification area
constexpr int kIdAreaWalkLimit = 256;                     // the walk looks for tags below this offset
constexpr int kIdAreaBufferBytes = kIdAreaWalkLimit + 32; // room for an entry read at the limit

// "Модуль ZORVANTIK v.<major>.<minor>" from the board type word.
std::string boardTitle(std::uint32_t boardType);

// Offset of the first entry tagged `tag` in the identification area, or -1.
// `area` holds kIdAreaBufferBytes bytes.
int findIdTag(const std::uint8_t *area, std::uint16_t tag);

// Identifies the board behind `handle`, prints its description and fills
// the board description of runState. Returns 0, or kNotThisBoard (nothing
// printed) when the board is not a ZORVANTIK. An area without the board's
// entry, or an entry that shows none of P1..P7, is reported after the
// description and counted as one error.
int identifyBoard(std::int32_t handle);

#endif // ZORVANTIK_IDENTIFY_H
