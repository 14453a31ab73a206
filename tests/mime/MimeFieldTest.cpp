#include "mime/MimeField.h"

#include "mime/MimeTestUtil.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(MimeField, LoadsTable) {
    struct Case {
        std::string in;
        std::size_t used;
        std::string name, value, charset;
    } cases[] = {
        {"Subject: hi\r\n", 13, "Subject", "hi", ""},
        {"Subject:   three\r\n", 18, "Subject", "three", ""},
        {"Subject:\tx\r\nTo: y\r\n", 12, "Subject", "x", ""},
        {"Subject: a\r\n\tb\r\n c\r\nX: y\r\n", 20, "Subject", "a\r\n\tb\r\n c", ""},
        {"no colon here\r\n", 15, "", "no colon here", ""},
        {"Subject: =?u?B?aGk=?=\r\n", 23, "Subject", "hi", "u"},
        {"X: trailing  \r\n", 15, "X", "trailing  ", ""},
        {"\tstray\r\nA: b\r\n", 14, "A", "b", ""}, // a stray continuation line is skipped
        {"A:\r\n", 4, "A", "", ""},
        {"A: b\r\n\t", 0, "", "", ""}, // the fold has no CR LF: no field
        {"A: no end", 0, "", "", ""},
        {"\r\nA: b\r\n", 0, "", "", ""}, // the header has ended
        {"\tstray only", 0, "", "", ""},
        {"", 0, "", "", ""},
        {"A: b\r", 0, "", "", ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        MimeField f;
        std::size_t used = f.load(cases[i].in.data(), cases[i].in.size());
        EXPECT_EQ(used, cases[i].used) << "case " << i;
        if (used) {
            EXPECT_EQ(f.name(), cases[i].name) << "case " << i;
            EXPECT_EQ(f.value(), cases[i].value) << "case " << i;
            EXPECT_EQ(f.charset(), cases[i].charset) << "case " << i;
        }
    }
}

TEST(MimeField, MainValueAndParameters) {
    struct Case {
        std::string value, param;
        bool found;
        std::string out;
    } cases[] = {
        {"multipart/mixed; boundary=\"a b;c\"", "boundary", true, "a b;c"},
        {"multipart/mixed;boundary=abc.def", "boundary", true, "abc"}, // token ends at a special
        {"multipart/mixed;BOUNDARY=x\xE9\x7Fy z", "boundary", true, "x\xE9\x7Fy"},
        {"multipart/mixed; xboundary=no; boundary=yes", "boundary", true, "yes"},
        {"multipart/mixed; boundaryx=no", "boundary", false, ""},
        {"multipart/mixed; boundary = spaced", "boundary", true, ""}, // value starts at a space
        {"multipart/mixed; boundary=\"open", "boundary", true, ""},   // never closed: empty
        {"multipart/mixed; boundary=\"\"", "boundary", true, ""},
        {"text/plain", "charset", false, ""},
        {"text/plain; charset", "charset", false, ""},
        {"text/plain;\r\n\tcharset=utf-8", "charset", true, "utf-8"},
        {"a; name=\"x\"; charset=y", "charset", true, "y"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        MimeField f("Content-Type", cases[i].value);
        std::string out = "stale";
        EXPECT_EQ(f.getParameter(cases[i].param, out), cases[i].found) << "case " << i;
        EXPECT_EQ(out, cases[i].out) << "case " << i;
    }
    EXPECT_EQ(MimeField("A", "text/html \t; x=y").mainValue(), "text/html");
    EXPECT_EQ(MimeField("A", "text/html\r\n\t").mainValue(), "text/html");
    EXPECT_EQ(MimeField("A", "").mainValue(), "");
}

TEST(MimeField, StoresWithinCapacity) {
    MimeField f("Subject", "hello");
    ASSERT_EQ(f.storedLength(), 16u);
    char buf[32];
    ASSERT_EQ(f.store(buf, sizeof buf), 16u);
    EXPECT_EQ(std::string(buf, 16), "Subject: hello\r\n");
    EXPECT_EQ(f.store(buf, 10), 0u); // smaller than name + 4
    std::string small(13, '#');
    std::size_t n = f.store(&small[0], 12);
    EXPECT_EQ(n, 12u);
    EXPECT_EQ(small, "Subject: h\r\n#"); // the value is cut, the line still ends

    MimeField enc("Subject", "\xC3\xA9t\xC3\xA9", "utf-8");
    std::string out(enc.storedLength(), '\0');
    out.resize(enc.store(&out[0], out.size()));
    EXPECT_EQ(out, "Subject: =?utf-8?B?w6l0w6k=?=\r\n");
    MimeField back;
    ASSERT_EQ(back.load(out.data(), out.size()), out.size());
    EXPECT_EQ(back.value(), enc.value());
    EXPECT_EQ(back.charset(), "utf-8");
}

} // namespace
} // namespace quill
