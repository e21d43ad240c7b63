// links.h - the internal links test and the external (front-panel) links
// test.
#ifndef ZORVANTIK_LINKS_H
#define ZORVANTIK_LINKS_H

#include <cstdint>
#include <string>

// Status words from P1: anything but kLinkErrorWord is a passed check; the
// error word is followed by the value written and the value read.
constexpr std::uint32_t kLinkErrorWord = 0x87654321;

// Changes the current directory; when that fails, says so on the console
// and waits for a key, then lets the caller go on wherever it is.
void changeDirOrPause(const std::string &path);

// A pair of links as the console names it: each side's processor index
// (0 for P1) and link.
struct LinkEnds {
    int fromCpu, fromLink, toCpu, toLink;
};

// Reads up to `words` status words from P1, each within 1000 ms, printing
// and counting (in runState.errorCount) every fault, and handing it to the
// record with the pair; a missing word, or a missing value after an error
// word (5 s each), ends the reading. Returns the number of faults.
long readLinkStatus(std::int32_t hBoard, int words, const LinkEnds &ends);

// Every internal link pair whose processors are present. Returns 0.
int internalLinksTest(std::int32_t hBoard);
// The front-panel pair P6 link 1 - P7 link 1, with the operator's cable.
// Returns 0.
int externalLinksTest(std::int32_t hBoard);

#endif // ZORVANTIK_LINKS_H
