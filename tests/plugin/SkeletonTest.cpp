#include <gtest/gtest.h>
#include <thread>
#include <zlib.h>
TEST(Skeleton, Builds) { std::thread t([]{}); t.join(); EXPECT_STRNE(zlibVersion(), ""); }
