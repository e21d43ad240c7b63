// The run's identity: a version-4 UUID, well formed and new each time.
#include "run/run_id.h"

#include <gtest/gtest.h>

#include <set>

TEST(RunId, FreshIdsAreWellFormedVersion4AndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        std::string id = makeRunId();
        ASSERT_TRUE(isRunId(id)) << id;
        EXPECT_EQ(id[14], '4') << id;
        EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(RunId, ShapeCheckRefusesNearMisses) {
    const struct {
        const char *text;
        bool ok;
    } cases[] = {
        {"3f2a0c1e-5b7d-4e8f-9a0b-1c2d3e4f5a6b", true},
        {"3F2A0C1E-5B7D-4E8F-9A0B-1C2D3E4F5A6B", false},  // uppercase
        {"3f2a0c1e-5b7d-4e8f-9a0b-1c2d3e4f5a6", false},   // one short
        {"3f2a0c1e-5b7d-4e8f-9a0b-1c2d3e4f5a6bb", false}, // one long
        {"3f2a0c1e5b7d-4e8f-9a0b-1c2d3e4f5a6b-", false},  // dash misplaced
        {"3f2a0c1e-5b7d-4e8f-9a0b-1c2d3e4f5a6g", false},  // not hex
        {"", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(isRunId(c.text), c.ok) << c.text;
}
