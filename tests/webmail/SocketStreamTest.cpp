#include "webmail/SocketStream.h"

#include "net/CBlockSocket.h"
#include "support/FailureOf.h"
#include "support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace quill {
namespace {

using Chunks = std::vector<std::string>;

std::shared_ptr<ScriptedPeer> channel(Chunks chunks, std::size_t slice = 1u << 30,
                                      ScriptedPeer::AtEnd atEnd = ScriptedPeer::AtEnd::Close) {
    return std::make_shared<ScriptedPeer>(std::move(chunks), slice, atEnd);
}

// Reads every line until the stream ends, as a session does.
std::vector<std::string> allLines(SocketStream& stream) {
    std::vector<std::string> lines;
    for (;;) {
        try {
            lines.push_back(stream.readLine());
        } catch (const SocketStream::PeerClosed&) {
            return lines;
        }
    }
}

TEST(SocketStream, LinesAreTheSameHoweverTheInputIsSliced) {
    const std::string input = "USER a\r\nPASS b\r\n\r\nlong line with \r inside\r\nlast";
    const std::vector<std::string> expected = {"USER a", "PASS b", "", "long line with \r inside",
                                               "last"};
    for (std::size_t slice = 1; slice <= input.size() + 1; ++slice) {
        SocketStream stream(channel({input}, slice));
        EXPECT_EQ(allLines(stream), expected) << "slice " << slice;
    }
}

TEST(SocketStream, ReadUntilSplitDelimiter) {
    // The delimiter arrives split over receives at every possible point.
    const std::string delimiter = "\r\n.\r\n";
    const std::string message = "Subject: x\r\n\r\nbody\r\n..dot\r\n";
    for (std::size_t slice = 1; slice <= 8; ++slice) {
        SocketStream stream(channel({message + delimiter + "QUIT\r\n"}, slice));
        EXPECT_EQ(stream.readUntil(delimiter), message + delimiter) << "slice " << slice;
        EXPECT_EQ(stream.readLine(), "QUIT") << "slice " << slice;
    }
}

TEST(SocketStream, EndOfStream) {
    const struct {
        Chunks chunks;
        std::vector<std::string> lines; // then SocketStream::PeerClosed
    } cases[] = {
        {{}, {}},
        {{"x"}, {}},         // one byte left: fails
        {{"ab"}, {"ab"}},    // two bytes: the last line
        {{"a\r\nb"}, {"a"}}, // then one byte: fails
        {{"a\r\n\r"}, {"a"}},
        {{"a\r\n", "bc\r"}, {"a", "bc\r"}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SocketStream stream(channel(cases[i].chunks));
        EXPECT_EQ(allLines(stream), cases[i].lines) << "case " << i;
        // Once ended, reads stay ended and never return the same bytes twice.
        EXPECT_THROW(stream.readLine(), SocketStream::PeerClosed) << "case " << i;
        EXPECT_EQ(stream.readUntil("\r\n"), "") << "case " << i;
        EXPECT_EQ(stream.readToEnd(), "") << "case " << i;
    }
}

TEST(SocketStream, ReadUntilAtEndReturnsWhatCame) {
    SocketStream stream(channel({"DATA without", " terminator\r\n"}, 3));
    EXPECT_EQ(stream.readUntil("\r\n.\r\n"), "DATA without terminator\r\n");
    EXPECT_EQ(stream.buffered(), 0u);
}

TEST(SocketStream, FlushSendsAllAndDiscardsUnreadInput) {
    auto peer = channel({"line one\r\nline two\r\n", "line three\r\n"});
    SocketStream stream(peer);
    EXPECT_EQ(stream.readLine(), "line one");
    stream.flush(); // nothing written: nothing sent, nothing discarded
    EXPECT_EQ(peer->writes(), 0);
    EXPECT_EQ(stream.readLine(), "line two");
    EXPECT_EQ(stream.readLine(), "line three");

    auto second = channel({"one\r\ntwo\r\n", "three\r\n"});
    SocketStream other(second);
    EXPECT_EQ(other.readLine(), "one");
    other.write("+OK");
    other.write(std::string(" ready"));
    other.write("\0x", 2);
    other.writeLine("");
    other.writeLine("+OK again");
    EXPECT_EQ(second->writes(), 0) << "nothing goes out before flush";
    other.flush();
    EXPECT_EQ(second->writes(), 1) << "one flush, one send";
    EXPECT_EQ(second->written(), std::string("+OK ready\0x\r\n+OK again\r\n", 24));
    EXPECT_EQ(other.readLine(), "three") << "the buffered second line was discarded";
}

TEST(SocketStream, ReadToEndCollectsEverything) {
    std::string big;
    for (int i = 0; i < 100000; ++i) {
        big += static_cast<char>('a' + i % 26);
    }
    SocketStream stream(channel({"head\r\n", big.substr(0, 50000), big.substr(50000)}, 7000));
    EXPECT_EQ(stream.readLine(), "head");
    EXPECT_EQ(stream.readToEnd(), big);
}

TEST(SocketStream, FailureAtEveryOperation) {
    // Each receive and the flush's write in turn fails; the failure surfaces as
    // the socket error of that operation, never as data.
    const std::string input = "a\r\nbb\r\nccc\r\n";
    for (int failing = 1; failing <= 6; ++failing) {
        auto peer = channel({input}, 2);
        peer->failAt(failing);
        SocketStream stream(peer);
        std::vector<std::string> lines;
        const std::string error = failureOf([&] {
            lines.push_back(stream.readLine());
            lines.push_back(stream.readLine());
            stream.writeLine("reply");
            stream.flush();
            lines.push_back(stream.readLine());
        });
        const int operationsBeforeFlush = 4; // "a\r" "\nb" "b\r" "\n..."
        if (failing <= operationsBeforeFlush) {
            EXPECT_EQ(error, "receive") << "operation " << failing;
        } else if (failing == operationsBeforeFlush + 1) {
            EXPECT_EQ(error, "write") << "operation " << failing;
        } else {
            EXPECT_EQ(error, "receive") << "operation " << failing;
        }
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i], i == 0 ? "a" : "bb") << "operation " << failing;
        }
    }
}

TEST(SocketStream, TimeOutAndClose) {
    SocketStream timing(channel({"partial"}, 100, ScriptedPeer::AtEnd::TimeOut));
    EXPECT_EQ(failureOf([&] { timing.readLine(); }), "receive") << "a silent peer ends the read";
    auto peer = channel({"x\r\n"});
    SocketStream closed(peer);
    closed.close();
    EXPECT_TRUE(peer->closed());
    EXPECT_THROW(closed.readLine(), CBlockSocket::Canceled);
    closed.write("y");
    EXPECT_THROW(closed.flush(), CBlockSocket::Canceled);
}

TEST(SocketStream, LineLimit) {
    const std::size_t limit = 65536;
    const std::string atLimit(limit, 'x');
    const struct {
        std::string input;
        bool tooLong;
    } cases[] = {
        {atLimit + "\r\n", false}, {atLimit + "y\r\n", true},
        {atLimit + "\r", false}, // CR LF may still complete: at the end, the last line
        {atLimit + "yy", true},    {std::string(10, 'z') + "\r\n" + atLimit + "\r\n", false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        for (const std::size_t slice : {std::size_t(1000), std::size_t(16384)}) {
            SocketStream stream(channel({cases[i].input}, slice));
            bool tooLong = false;
            try {
                while (true) {
                    stream.readLine(limit);
                }
            } catch (const SocketStream::LineTooLong&) {
                tooLong = true;
            } catch (const SocketStream::PeerClosed&) {
            }
            EXPECT_EQ(tooLong, cases[i].tooLong) << "case " << i << " slice " << slice;
        }
    }
    // A peer that never sends CR LF is cut off at the limit, not buffered for ever.
    auto endless = std::make_shared<ScriptedPeer>(Chunks{}, 16384);
    for (int i = 0; i < 64; ++i) {
        endless->push(std::string(16384, 'n'));
    }
    SocketStream stream(endless);
    EXPECT_THROW(stream.readLine(limit), SocketStream::LineTooLong);
    EXPECT_LE(endless->operations(), 6);
}

} // namespace
} // namespace quill
