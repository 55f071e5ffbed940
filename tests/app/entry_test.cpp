#include <gtest/gtest.h>

#include "support/run_program.h"

using namespace quintalis::testing;

TEST(Entry, VersionAndTheRendererUsage) {
    TempDir dir;
    auto version = run("--version", dir);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "Quintalis dev\n");
    auto render = run("--render-steps", dir);
    EXPECT_EQ(render.status, 1);
    EXPECT_EQ(render.err, "usage: QuintalisApp --render-steps <dir> [--image phone.jpg]\n");
}
