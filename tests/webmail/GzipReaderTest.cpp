#include "webmail/GzipReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quill {
namespace {

std::string fromHex(const char* hex) {
    std::string out;
    for (const char* p = hex; p[0] != '\0' && p[1] != '\0'; p += 2) {
        out += static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16));
    }
    return out;
}

struct Vector {
    const char* name;
    const char* input;
    const char* expected;
    bool exact; // false: the result need only be a prefix of expected
};

// Inputs made by the gzip program and Python's gzip and zlib modules.
const Vector kVectors[] = {
#include "GzipVectors.inc"
};

TEST(GzipReader, DecodesWhatRealToolsMake) {
    for (std::size_t i = 0; i < std::size(kVectors); ++i) {
        const Vector& v = kVectors[i];
        const std::string input = fromHex(v.input);
        const std::string expected = fromHex(v.expected);
        const std::string out = GzipReader::decode(input);
        if (v.exact) {
            EXPECT_EQ(out.size(), expected.size()) << i << ": " << v.name;
            EXPECT_TRUE(out == expected) << i << ": " << v.name;
        } else {
            EXPECT_LT(out.size(), expected.size()) << i << ": " << v.name;
            EXPECT_EQ(expected.compare(0, out.size(), out), 0) << i << ": " << v.name;
        }
    }
}

TEST(GzipReader, EveryTruncationGivesAPrefix) {
    // Cut a two-member input at every length: never a crash, always a prefix.
    const Vector* twoMembers = nullptr;
    for (const Vector& v : kVectors) {
        if (std::string(v.name) == "two members, gzip program") {
            twoMembers = &v;
        }
    }
    ASSERT_NE(twoMembers, nullptr);
    const std::string input = fromHex(twoMembers->input);
    const std::string expected = fromHex(twoMembers->expected);
    const std::size_t second = input.find("\x1f\x8b", 2);
    ASSERT_NE(second, std::string::npos);
    for (std::size_t cut = 0; cut <= input.size(); ++cut) {
        const std::string out = GzipReader::decode(input.data(), cut);
        if (cut == second + 1) {
            // One byte after a whole member does not start another: copied.
            EXPECT_EQ(out, expected.substr(0, out.size() - 1) + "\x1f");
            continue;
        }
        ASSERT_LE(out.size(), expected.size()) << "cut " << cut;
        ASSERT_EQ(expected.compare(0, out.size(), out), 0) << "cut " << cut;
    }
    EXPECT_EQ(GzipReader::decode(input), expected);
}

TEST(GzipReader, AWrongAnnouncedSizeChangesNothing) {
    // The trailer's size field is only a hint for the output's room: too
    // small, too large or absurd, the output is the same.
    const Vector* single = nullptr;
    for (const Vector& v : kVectors) {
        const std::string input = fromHex(v.input);
        const std::size_t expected = fromHex(v.expected).size();
        if (v.exact && input.size() >= 4 && expected > 100 &&
            input.compare(input.size() - 4, 4,
                          std::string(reinterpret_cast<const char*>(&expected), 4)) == 0) {
            single = &v;
        }
    }
    ASSERT_NE(single, nullptr) << "no single-member vector";
    const std::string expected = fromHex(single->expected);
    for (std::uint32_t announced : {0u, 1u, static_cast<std::uint32_t>(expected.size() - 1),
                                    static_cast<std::uint32_t>(expected.size() + 1), 0xFFFFFFFFu}) {
        std::string input = fromHex(single->input);
        for (int i = 0; i < 4; ++i) {
            input[input.size() - 4 + i] = static_cast<char>((announced >> (8 * i)) & 0xFF);
        }
        EXPECT_TRUE(GzipReader::decode(input) == expected) << announced;
    }
}

TEST(GzipReader, GarbageAndNothing) {
    EXPECT_EQ(GzipReader::decode(nullptr, 0), "");
    EXPECT_EQ(GzipReader::decode(std::string()), "");
    EXPECT_EQ(GzipReader::decode("not gzip at all"), "");
    std::string noise = "\x1f\x8b\x08";
    noise += std::string(10, '\0');
    for (int i = 0; i < 300; ++i) {
        noise += static_cast<char>(i * 37 + 11);
    }
    const std::string out = GzipReader::decode(noise); // any result, no crash
    EXPECT_LE(out.size(), 1u << 20);
}

} // namespace
} // namespace quill
