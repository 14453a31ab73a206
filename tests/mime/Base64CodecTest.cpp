#include "mime/Base64Codec.h"

#include "mime/MimeTestUtil.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

using test::runCodec;
using D = MimeCodec::Direction;

TEST(Base64Codec, DecodesTable) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"aGVsbG8=", "hello"},
        {"aGVs\r\nbG8=", "hello"}, // line breaks inside the stream
        {"aGVsbG8", "hello"},      // partial final group
        {"aGVsbA==", "hell"},
        {"aGVsbG8=aGVsbG8=", "hello"}, // decoding stops at the first padding
        {"aGV sbG8=", "he"},           // ...and at any other foreign byte
        {"YQ", "a"},
        {"Y", ""},
        {"", ""},
        {"/+/+", "\xFF\xEF\xFE"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Base64Codec c;
        EXPECT_EQ(runCodec(c, cases[i].in, D::Decode), cases[i].out) << "case " << i;
    }
}

TEST(Base64Codec, EncodesWithAndWithoutLineBreaks) {
    Base64Codec c;
    EXPECT_EQ(runCodec(c, "hello", D::Encode), "aGVsbG8=\r\n");
    EXPECT_EQ(runCodec(c, "", D::Encode), "");
    std::string in(57, 'x'); // exactly 76 characters: one break, none extra
    std::string e = runCodec(c, in, D::Encode);
    EXPECT_EQ(e.size(), 78u);
    EXPECT_EQ(e.substr(76), "\r\n");
    c.setMode(false);
    EXPECT_EQ(runCodec(c, "hell", D::Encode), "aGVsbA==");
}

TEST(Base64Codec, RandomRoundTripsWithinBound) {
    test::TestRandom rnd(3);
    for (int round = 0; round < 300; ++round) {
        std::string in = rnd.bytes(rnd.below(500));
        for (bool breaks : {true, false}) {
            Base64Codec enc;
            enc.setMode(breaks);
            bool held = false;
            std::string e = runCodec(enc, in, D::Encode, &held);
            EXPECT_TRUE(held) << "round " << round;
            Base64Codec dec;
            bool decHeld = false;
            EXPECT_EQ(runCodec(dec, e, D::Decode, &decHeld), in) << "round " << round;
            EXPECT_TRUE(decHeld);
        }
    }
}

TEST(Base64Codec, PiecesDecodeAsTheWhole) {
    // However the input is cut, its pieces decoded in turn give what the whole
    // gives: partial groups, line breaks and a stop carry over.
    test::TestRandom rnd(8);
    for (int round = 0; round < 300; ++round) {
        Base64Codec encoder;
        std::string text = runCodec(encoder, rnd.bytes(rnd.below(200)), D::Encode);
        if (round % 3 == 0)
            text.insert(rnd.below(static_cast<std::uint32_t>(text.size() + 1)), "=");
        const auto* data = reinterpret_cast<const unsigned char*>(text.data());
        std::string whole(text.size(), '\0');
        whole.resize(Base64Codec::decodeSpan(data, text.size(), &whole[0], whole.size()));
        std::string pieces;
        Base64Codec::DecodeState state;
        std::size_t at = 0;
        while (at < text.size() && !state.stopped) {
            const std::size_t n = std::min<std::size_t>(1 + rnd.below(9), text.size() - at);
            std::string room(n / 4 * 3 + 3, '\0');
            std::size_t consumed = 0;
            room.resize(
                Base64Codec::decodePiece(data + at, n, &room[0], room.size(), state, consumed));
            pieces += room;
            at += consumed;
        }
        EXPECT_EQ(at, std::min(text.find('='), text.size())) << "round " << round;
        char last[2];
        pieces.append(last, Base64Codec::finishPieces(state, last, sizeof last));
        EXPECT_EQ(pieces, whole) << "round " << round;
    }
}

TEST(Base64Codec, NeverWritesPastCapacity) {
    std::string in = "aGVsbG8gd29ybGQ=";
    for (std::size_t cap = 0; cap < 12; ++cap) {
        std::string out(cap + 4, '#');
        std::size_t n = Base64Codec::decodeSpan(reinterpret_cast<const unsigned char*>(in.data()),
                                                in.size(), &out[0], cap);
        EXPECT_LE(n, cap);
        EXPECT_EQ(out.substr(cap), "####") << "capacity " << cap;
        EXPECT_EQ(out.substr(0, n), std::string("hello world").substr(0, n));
    }
}

} // namespace
} // namespace quill
