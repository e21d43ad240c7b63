// digest.cpp - the key of a record that carries no runId (layouts 1 and
// 2): FNV-1a of 128 bits over its bytes, the digest the fleet counts such
// a record once by, so that a run has one key in a folder and in the
// database.
#include "db/load.h"

#include <cstdint>
#include <cstdio>

namespace zdb {

std::string recordDigest(const std::string &bytes) {
    // The 128-bit offset basis and prime 2^88 + 0x13B, in two 64-bit halves.
    std::uint64_t hi = 0x6c62272e07bb0142ULL, lo = 0x62b821756295c58dULL;
    for (unsigned char c : bytes) {
        lo ^= c;
        // (hi, lo) * (2^88 + 0x13B), modulo 2^128.
        std::uint64_t a = (lo & 0xFFFFFFFFULL) * 0x13B, b = (lo >> 32) * 0x13B;
        std::uint64_t low = a + (b << 32);
        std::uint64_t carry = low < a;
        hi = hi * 0x13B + (b >> 32) + carry + (lo << 24);
        lo = low;
    }
    char t[40];
    std::snprintf(t, sizeof t, "%016llx%016llx", static_cast<unsigned long long>(hi),
                  static_cast<unsigned long long>(lo));
    return t;
}

} // namespace zdb
