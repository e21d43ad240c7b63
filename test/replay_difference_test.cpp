// How replay tells the program's call from the recorded one: the words
// of the divergence line, for each way a call can differ.
#include "qal_api.h"
#include "replay.h"
#include "trace_format.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using qtrace::Buffer;
using qtrace::Call;
using qtrace::Storage;

Buffer inline_(uint8_t arg, std::vector<uint8_t> bytes, bool out = false) {
    Buffer b;
    b.arg = arg;
    b.out = out;
    b.size = uint32_t(bytes.size());
    b.bytes = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    return b;
}

Buffer digestOf(uint8_t arg, std::vector<uint8_t> bytes) {
    Buffer b;
    b.arg = arg;
    b.storage = Storage::Digest;
    b.size = uint32_t(bytes.size());
    b.digest = qtrace::digest(bytes.data(), bytes.size());
    return b;
}

/* QAL_writeDPRAM(board 1, node 0, offset 16, buf, 4): its input is argument 3. */
Call writeDpram(std::vector<Buffer> buffers, int32_t offset = 16) {
    Call c;
    c.function = qalapi::fWriteDPRAM;
    c.args = {1, 0, offset, 1, 4};
    c.buffers = std::move(buffers);
    return c;
}

TEST(ReplayDifference, EachWayACallDiffersIsToldInItsOwnWords) {
    const std::vector<uint8_t> bytes{1, 2, 3, 4}, other{1, 2, 3, 5};
    Call recorded = writeDpram({inline_(3, bytes)});
    Call readBack = recorded;
    readBack.function = qalapi::fReadDPRAM;
    Call withOutput = writeDpram({inline_(3, bytes), inline_(3, other, true)});
    Call shorter = writeDpram({inline_(3, {1, 2, 3})});
    shorter.buffers[0].size = 3;

    struct Case {
        const char *what;
        Call program, recorded;
        std::string told;
    } cases[] = {
        {"the same call", writeDpram({inline_(3, bytes)}), recorded, ""},
        {"another function", readBack, recorded, "other call"},
        {"another argument", writeDpram({inline_(3, bytes)}, 20), recorded, "other call"},
        {"one argument fewer", [&] {
             Call c = recorded;
             c.args.pop_back();
             return c;
         }(), recorded, "other call"},
        {"another last input byte", writeDpram({inline_(3, other)}), recorded, "other bytes in 'buf'"},
        {"a shorter input", shorter, recorded, "other bytes in 'buf'"},
        {"no input where one was recorded", writeDpram({}), recorded, "other input"},
        {"an input recorded by its digest, the same", writeDpram({digestOf(3, bytes)}),
         writeDpram({digestOf(3, bytes)}), ""},
        {"an input recorded by its digest, another", writeDpram({digestOf(3, other)}),
         writeDpram({digestOf(3, bytes)}), "other bytes in 'buf'"},
        {"the digest against the bytes", writeDpram({digestOf(3, bytes)}), recorded, "other bytes in 'buf'"},
        {"the recorded outputs play no part", writeDpram({inline_(3, bytes)}), withOutput, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(callDifference(c.program, c.recorded), c.told) << c.what;
}

} // namespace
