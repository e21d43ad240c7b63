// The keys of a stdin that is not a console keyboard: one key a byte, the
// next one read ahead by a look, and the end of the input for good once it
// has come. Driven by a scripted byte source.
#include "platform/key_bytes.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The scripted input: what each look at the input says ('y' a byte is
// there, 'n' not yet, 'e' ended), and the bytes a read gets, in turn;
// reads past the last byte find the end.
struct Script {
    std::string looks;
    std::string bytes;
    std::size_t look = 0, byte = 0, reads = 0;
} gScript;

KeyBytes::Ready scriptedReady() {
    char c = gScript.look < gScript.looks.size() ? gScript.looks[gScript.look++] : 'y';
    return c == 'y' ? KeyBytes::Ready::Yes : c == 'n' ? KeyBytes::Ready::No : KeyBytes::Ready::Ended;
}

bool scriptedRead(unsigned char &c) {
    ++gScript.reads;
    if (gScript.byte >= gScript.bytes.size())
        return false;
    c = static_cast<unsigned char>(gScript.bytes[gScript.byte++]);
    return true;
}

// One call and what it must give: 'w' waiting() (1 true, 0 false), 't'
// take() (the key).
struct Call {
    char what;
    int expected;
};

struct KeyCase {
    const char *name;
    const char *looks;
    std::string bytes;
    std::vector<Call> calls;
    std::size_t reads; // reads of the source in all
};

TEST(KeyBytes, ReadAheadAndEndOfInput) {
    const KeyCase cases[] = {
        {"take waits for each byte", "", "ab", {{'t', 'a'}, {'t', 'b'}, {'t', kKeyEndOfInput}}, 3},
        {"a look reads the byte ahead, the take gets it", "y", "x", {{'w', 1}, {'t', 'x'}}, 1},
        {"looking twice reads once", "yy", "x", {{'w', 1}, {'w', 1}, {'t', 'x'}}, 1},
        {"nothing there yet: no read", "n", "x", {{'w', 0}, {'t', 'x'}}, 1},
        {"a source that says ended is ended for good", "e", "x", {{'w', 0}, {'t', kKeyEndOfInput}, {'w', 0}}, 0},
        {"a failed read ends the input for good", "yy", "", {{'w', 0}, {'w', 0}, {'t', kKeyEndOfInput}}, 1},
        {"the end is never a key waiting", "", "", {{'t', kKeyEndOfInput}, {'w', 0}, {'t', kKeyEndOfInput}}, 1},
        {"bytes above 127 and NUL are keys", "", std::string("\xff\0", 2), {{'t', 0xff}, {'t', 0}}, 2},
        {"Escape is a key like any", "y", "\x1b", {{'w', 1}, {'t', kKeyEscape}}, 1},
    };
    for (const KeyCase &c : cases) {
        SCOPED_TRACE(c.name);
        gScript = Script{c.looks, c.bytes};
        KeyBytes keys(scriptedReady, scriptedRead);
        for (std::size_t i = 0; i < c.calls.size(); ++i) {
            SCOPED_TRACE("call " + std::to_string(i));
            if (c.calls[i].what == 'w')
                EXPECT_EQ(keys.waiting() ? 1 : 0, c.calls[i].expected);
            else
                EXPECT_EQ(keys.take(), c.calls[i].expected);
        }
        EXPECT_EQ(gScript.reads, c.reads);
    }
}

} // namespace
