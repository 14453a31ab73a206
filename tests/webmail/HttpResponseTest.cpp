#include "webmail/HttpResponse.h"

#include <gtest/gtest.h>

#include <string>

namespace quill {
namespace {

// "Hello, gzip!\r\n" as the gzip program compresses it.
const std::string kGzipHello(
#include "GzipSmall.inc"
    , sizeof(
#include "GzipSmall.inc"
          ) -
          1);
const std::string kHello = "Hello, gzip!\r\n";

TEST(HttpResponse, SplitsHeaderAndBody) {
    const struct {
        std::string raw, header, body;
    } cases[] = {
        {"HTTP/1.0 200 OK\r\n\r\nabc", "HTTP/1.0 200 OK\r\n\r\n", "abc"},
        {"HTTP/1.0 200 OK\r\nA: b\r\n", "HTTP/1.0 200 OK\r\nA: b\r\n", ""},
        {"HTTP/1.0 200 OK\r\n\r\n\r\n\r\nx", "HTTP/1.0 200 OK\r\n\r\n", "\r\n\r\nx"},
        {"", "", ""},
        {"\r\n\r\n", "\r\n\r\n", ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const HttpResponse response(cases[i].raw);
        EXPECT_EQ(response.header(), cases[i].header) << "case " << i;
        EXPECT_EQ(response.body(), cases[i].body) << "case " << i;
    }
}

TEST(HttpResponse, StatusCode) {
    const struct {
        std::string raw;
        int status;
    } cases[] = {
        {"HTTP/1.1 302 Found\r\n\r\n", 302},
        {"HTTP/1.0 200 OK\r\n\r\nabc", 200},
        {"HTTP/1.0 404\r\nServer: x\r\n\r\n", 404}, // second blank on a later line
        {"HTTP/1.0 abc def\r\n\r\n", 0},
        {"HTTP/1.0 200\r\n\r\n", -1},
        {"", -1},
        {"garbage", -1},
        {"HTTP/1.0 99999999999999999999 x\r\n\r\n", 2147483647},
        {std::string("\0\x01\xff 5\x80 \xfe", 8), 5},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(HttpResponse(cases[i].raw).statusCode(), cases[i].status) << "case " << i;
    }
}

TEST(HttpResponse, HeaderValue) {
    const HttpResponse response("HTTP/1.1 302 Found\r\nLocation: http://h/next\r\n"
                                "X-Empty: \r\nContent-Type: text/html\r\n\r\nLocation: body\r\n");
    EXPECT_EQ(response.headerValue("Location: "), "http://h/next");
    EXPECT_EQ(response.headerValue("X-Empty: "), "");
    EXPECT_EQ(response.headerValue("Content-Type: "), "text/html");
    EXPECT_EQ(response.headerValue("Server: "), "");
    EXPECT_EQ(response.headerValue("location: "), "");
    EXPECT_EQ(response.headerValue("HTTP/1.1 "), ""); // the status line never matches
    // The last line of a header without its empty line has no CR LF after it.
    EXPECT_EQ(HttpResponse("HTTP/1.0 200 OK\r\nLocation: x").headerValue("Location: "), "");
}

TEST(HttpResponse, SetCookiePairs) {
    const struct {
        std::string header, pairs;
    } cases[] = {
        {"HTTP/1.0 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2; path=/\r\n\r\n",
         "a=1; b=2; "},
        {"HTTP/1.0 200 OK\r\nSet-cookie: a=1; path=/\r\n\r\n", ""},
        {"HTTP/1.0 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: a=3;\r\n\r\n", "a=1; a=3; "},
        {"HTTP/1.0 200 OK\r\n\r\n", ""},
        // A cookie without attributes ends at its line; the next line is not
        // swallowed into the pair.
        {"HTTP/1.0 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2; path=/\r\n\r\n", "a=1; b=2; "},
        {"HTTP/1.0 200 OK\r\nSet-Cookie: a=1\r\nX: y; z\r\n\r\n", "a=1; "},
        {"HTTP/1.0 200 OK\r\nSet-Cookie: a=1", "a=1; "},
        {"HTTP/1.0 200 OK\r\nSet-Cookie: ;x\r\n\r\n", "; "},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string pairs = HttpResponse(cases[i].header).setCookiePairs();
        EXPECT_EQ(pairs, cases[i].pairs) << "case " << i;
        EXPECT_EQ(pairs.find_first_of("\r\n"), std::string::npos) << "case " << i;
    }
}

TEST(HttpResponse, GzipBodyOnlyWhenTheHeaderSaysGzip) {
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n";
    const struct {
        std::string encodingLine, body, expected;
    } cases[] = {
        {"Content-Encoding: gzip\r\n", kGzipHello, kHello},
        {"Content-Encoding: gzip\r\nContent-Length: 0\r\n", "", ""},
        {"Content-Encoding: deflate\r\n", kGzipHello, kGzipHello},
        {"Content-Encoding: x-gzip\r\n", kGzipHello, kGzipHello},
        {"", kGzipHello, kGzipHello},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const HttpResponse response(head + cases[i].encodingLine + "\r\n" + cases[i].body);
        EXPECT_EQ(response.body(), cases[i].expected) << "case " << i;
        EXPECT_EQ(response.statusCode(), 200) << "case " << i;
    }
}

// A gzip body short of one whole stream (GzipReaderTest has every fault)
// fails the answer with the fault named, as the sessions' error; it is never
// taken for the body.
TEST(HttpResponse, AGzipBodyIsWholeOrAnError) {
    std::string badCrc = kGzipHello;
    badCrc[badCrc.size() - 8] ^= 0x01; // first byte of the stored CRC-32
    const struct {
        std::string body, fault;
    } cases[] = {
        {kGzipHello.substr(0, 8), "gzip answer cut short"},
        {"", "gzip answer cut short"},
        {badCrc, "gzip CRC mismatch"},
        {"junk before the magic" + kGzipHello, "gzip header invalid"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        try {
            HttpResponse("HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + cases[i].body);
            ADD_FAILURE() << "case " << i << ": no error";
        } catch (const WebmailError& e) {
            EXPECT_EQ(e.what(), cases[i].fault) << "case " << i;
        }
    }
}

// One reading of Content-Length decides both rules: a cut answer (cutShort)
// and an answer whose end is known without the stream's (wholeByLength, the
// rule for TLS without close_notify). An unreadable length is no length for
// the first and "not known whole" for the second.
TEST(HttpResponse, ContentLengthVariants) {
    using L = HttpResponse::Length;
    const std::string body(10, 'x');
    const struct {
        std::string field;
        L kind;
        std::size_t length;
    } cases[] = {
        {"Content-Length: 10", L::Known, 10},
        {"Content-Length:  10", L::Known, 10},
        {"Content-Length:10", L::Known, 10},
        {"Content-Length:\t10\t", L::Known, 10},
        {"Content-Length: 10  ", L::Known, 10},
        {"content-length: 10", L::Known, 10},
        {"CONTENT-LENGTH: 20", L::Known, 20},
        {"Content-Length: 0010", L::Known, 10},
        {"Content-Length: 10\r\nContent-Length: 10", L::Known, 10},
        {"Content-Length: +10", L::Unreadable, 0},
        {"Content-Length: -10", L::Unreadable, 0},
        {"Content-Length: 1O", L::Unreadable, 0},
        {"Content-Length: 10 5", L::Unreadable, 0},
        {"Content-Length: 0x10", L::Unreadable, 0},
        {"Content-Length: ", L::Unreadable, 0},
        {"Content-Length: 99999999999999999999999999", L::Unreadable, 0},
        {"Content-Length: 10\r\ncontent-length: 20", L::Unreadable, 0},
        {"Content-Length : 10", L::Absent, 0},
        {"X-Content-Length: 10", L::Absent, 0},
        {"Server: x", L::Absent, 0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string header = "HTTP/1.0 200 OK\r\n" + cases[i].field + "\r\n\r\n";
        std::size_t length = 99;
        EXPECT_EQ(HttpResponse::contentLength(header, length), cases[i].kind) << "case " << i;
        EXPECT_EQ(length, cases[i].length) << "case " << i;
        const bool known = cases[i].kind == L::Known;
        const bool shortBody = known && cases[i].length > body.size();
        EXPECT_EQ(HttpResponse::cutShort(header + body), shortBody) << "case " << i;
        EXPECT_EQ(HttpResponse::wholeByLength(header + body), known && !shortBody) << "case " << i;
    }
    // The status line is never a field, and a header without its end is cut.
    std::size_t length = 0;
    EXPECT_EQ(HttpResponse::contentLength("Content-Length: 5\r\n\r\n", length), L::Absent);
    EXPECT_TRUE(HttpResponse::cutShort("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n"));
    EXPECT_FALSE(HttpResponse::wholeByLength("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n"));
}

} // namespace
} // namespace quill
