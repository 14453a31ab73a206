#include "platform/DynamicLibrary.h"
#include "platform/HostSymbols.h"
#include "platform/ModulePath.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace quill::platform;

// Exported by this test program, as the host exports its services.
extern "C" int quill_host_probe() {
    return 7;
}

namespace {
std::string stem(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}
} // namespace

TEST(DynamicLibrary, LoadsAndResolvesExports) {
    DynamicLibrary lib;
    ASSERT_TRUE(lib.open(QUILL_TEST_LIBRARY)) << lib.error();
    auto answer = reinterpret_cast<int (*)()>(lib.symbol("quill_test_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(lib.symbol("no_such_export"), nullptr);

    // The library sees its own file, not the program that loaded it.
    auto pathOf = reinterpret_cast<const char* (*)()>(lib.symbol("quill_test_module_path"));
    ASSERT_NE(pathOf, nullptr);
    EXPECT_EQ(stem(pathOf()), stem(QUILL_TEST_LIBRARY));

    DynamicLibrary moved(std::move(lib));
    EXPECT_FALSE(lib.isOpen());
    EXPECT_TRUE(moved.isOpen());
    moved.close();
    EXPECT_FALSE(moved.isOpen());
    EXPECT_EQ(moved.symbol("quill_test_answer"), nullptr);
}

TEST(DynamicLibrary, MissingFileIsReported) {
    DynamicLibrary lib;
    EXPECT_FALSE(lib.open("no-such-library-here.bin"));
    EXPECT_FALSE(lib.isOpen());
    EXPECT_FALSE(lib.error().empty());
}

TEST(ModulePath, NamesTheProgramThatHoldsTheCode) {
    const std::string path = modulePath();
    EXPECT_EQ(stem(path), "quill_platform_test") << path;
    EXPECT_TRUE(std::filesystem::path(path).is_absolute()) << path;
}

TEST(HostSymbols, FindsTheProgramsExports) {
    void* host = hostModule();
    ASSERT_NE(host, nullptr);
    auto probe = reinterpret_cast<int (*)()>(hostSymbol(host, "quill_host_probe"));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe(), 7);
    EXPECT_EQ(hostSymbol(host, "BKA_NoSuchService"), nullptr);
    EXPECT_EQ(hostSymbol(nullptr, "quill_host_probe"), nullptr);
}
