#include <gtest/gtest.h>

#include "engine/app_info.h"
#include "support/fake_platform.h"

using namespace quintalis;

TEST(AppInfo, FactsFromTheBundleAndTheHost) {
    quintalis::testing::FakeBundleInfo bundle;
    quintalis::testing::FakeHostEnvironment host;
    AppInfo info(bundle, host);
    EXPECT_EQ(info.version(), "dev");
    bundle.values["CFBundleShortVersionString"] = "1.2";
    EXPECT_EQ(info.version(), "1.2");
    bundle.values["QuintalisVersion"] = "1.2.3";
    EXPECT_EQ(info.version(), "1.2.3");

    EXPECT_EQ(info.macName(), "Test Computer");
    host.name.reset();
    EXPECT_EQ(info.macName(), "this computer");
}
