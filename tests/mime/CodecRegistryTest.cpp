#include "mime/CodecRegistry.h"

#include "mime/Base64Codec.h"
#include "mime/MimeTestUtil.h"
#include "mime/QuotedPrintableCodec.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace quill {
namespace {

TEST(CodecRegistry, ChoosesByNameWithoutCase) {
    struct Case {
        const char* name;
        std::string decodedFrom, expect;
    } cases[] = {
        {"base64", "aGk=", "hi"},    {"BASE64", "aGk=", "hi"}, {"Quoted-Printable", "=41", "A"},
        {"7bit", "=41", "=41"},      {"8bit", "aGk=", "aGk="}, {"binary", "=41", "=41"},
        {"base-64", "aGk=", "aGk="}, {"", "=41", "=41"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        auto c = CodecRegistry::codecFor(cases[i].name);
        ASSERT_TRUE(c) << "case " << i;
        EXPECT_EQ(test::runCodec(*c, cases[i].decodedFrom, MimeCodec::Direction::Decode),
                  cases[i].expect)
            << "case " << i;
    }
    EXPECT_TRUE(CodecRegistry::codecFor("base64")->mode());            // line breaks on
    EXPECT_FALSE(CodecRegistry::codecFor("quoted-printable")->mode()); // text form
}

TEST(CodecRegistry, ReRegisteringReplacesAndLookupsAreThreadSafe) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                if (t == 0)
                    CodecRegistry::registerCodec("x-test", []() -> std::unique_ptr<MimeCodec> {
                        return std::make_unique<Base64Codec>();
                    });
                EXPECT_TRUE(CodecRegistry::codecFor("x-test"));
                EXPECT_TRUE(CodecRegistry::codecFor("base64"));
            }
        });
    for (auto& t : threads)
        t.join();
    CodecRegistry::registerCodec("X-TEST", []() -> std::unique_ptr<MimeCodec> {
        return std::make_unique<QuotedPrintableCodec>();
    });
    auto c = CodecRegistry::codecFor("x-test");
    EXPECT_EQ(test::runCodec(*c, "=41", MimeCodec::Direction::Decode), "A");
}

} // namespace
} // namespace quill
