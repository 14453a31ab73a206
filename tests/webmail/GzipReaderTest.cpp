#include "webmail/GzipReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
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
    const char* expected; // the output of a whole stream
    const char* fault;    // empty for a whole stream
};

// Inputs made by the gzip program and Python's gzip and zlib modules.
const Vector kVectors[] = {
#include "GzipVectors.inc"
};

const Vector& named(const std::string& name) {
    for (const Vector& v : kVectors) {
        if (name == v.name) {
            return v;
        }
    }
    throw std::invalid_argument(name);
}

// The fault decode names, or "" with out set to what it decoded.
std::string faultOf(const char* data, std::size_t length, std::string* out = nullptr) {
    try {
        const std::string decoded = GzipReader::decode(data, length);
        if (out != nullptr) {
            *out = decoded;
        }
        return "";
    } catch (const GzipReader::Corrupt& e) {
        return e.what();
    }
}
std::string faultOf(const std::string& input, std::string* out = nullptr) {
    return faultOf(input.data(), input.size(), out);
}

TEST(GzipReader, DecodesWhatRealToolsMakeWholeOrNamesTheFault) {
    for (std::size_t i = 0; i < std::size(kVectors); ++i) {
        const Vector& v = kVectors[i];
        std::string out;
        EXPECT_EQ(faultOf(fromHex(v.input), &out), v.fault) << i << ": " << v.name;
        if (*v.fault == '\0') {
            EXPECT_TRUE(out == fromHex(v.expected)) << i << ": " << v.name;
        }
    }
}

TEST(GzipReader, EveryCutFailsButOneBetweenMembers) {
    const Vector& two = named("two members, gzip program");
    const std::string input = fromHex(two.input);
    const std::size_t second = input.find("\x1f\x8b", 2);
    ASSERT_NE(second, std::string::npos);
    for (std::size_t cut = 0; cut < input.size(); ++cut) {
        std::string out;
        const std::string fault = faultOf(input.data(), cut, &out);
        if (cut == second) {
            // A whole first member is a whole stream: no reader can tell.
            EXPECT_EQ(fault, "") << "cut " << cut;
            EXPECT_EQ(out, "Hello, gzip!\r\n");
        } else {
            EXPECT_EQ(fault, "gzip answer cut short") << "cut " << cut;
        }
    }
}

TEST(GzipReader, AWrongLengthFailsWhateverItAnnounces) {
    // The trailer's length also sizes the output's room up front: an absurd
    // one must fail like any other, without a reservation to match.
    const Vector& single = named("python module");
    const std::size_t size = fromHex(single.expected).size();
    for (std::uint32_t announced : {0u, 1u, static_cast<std::uint32_t>(size - 1),
                                    static_cast<std::uint32_t>(size + 1), 0xFFFFFFFFu}) {
        std::string input = fromHex(single.input);
        for (int i = 0; i < 4; ++i) {
            input[input.size() - 4 + i] = static_cast<char>((announced >> (8 * i)) & 0xFF);
        }
        EXPECT_EQ(faultOf(input), "gzip length mismatch") << announced;
    }
}

TEST(GzipReader, GarbageAndNothing) {
    EXPECT_EQ(faultOf(nullptr, 0), "gzip answer cut short");
    EXPECT_EQ(faultOf(std::string()), "gzip answer cut short");
    EXPECT_EQ(faultOf("not gzip at all"), "gzip header invalid");
    std::string noise = "\x1f\x8b\x08";
    noise += std::string(10, '\0');
    for (int i = 0; i < 300; ++i) {
        noise += static_cast<char>(i * 37 + 11);
    }
    EXPECT_NE(faultOf(noise), "");
}

} // namespace
} // namespace quill
