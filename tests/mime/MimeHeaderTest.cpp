#include "mime/MimeHeader.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(MimeHeader, LoadsFieldsUpToTheEmptyLine) {
    const std::string h = "To: a\r\ncontent-type: Text/Plain; charset=x\r\nTo: b\r\n"
                          "Subject: s\r\n folded\r\n\r\nbody";
    MimeHeader hd;
    EXPECT_EQ(hd.load(h.data(), h.size()), static_cast<std::ptrdiff_t>(h.size() - 4));
    ASSERT_EQ(hd.fieldCount(), 4u);
    EXPECT_EQ(hd.findField("TO")->value(), "a"); // the first of two
    EXPECT_EQ(hd.findField("Content-Type")->value(), "Text/Plain; charset=x");
    EXPECT_EQ(hd.findField("subject")->value(), "s\r\n folded");
    EXPECT_EQ(hd.findField("Cc"), nullptr);
    EXPECT_EQ(hd.mediaTypeName(), "Text");
    EXPECT_EQ(hd.fieldParameter("Content-Type", "charset"), "x");
    EXPECT_EQ(hd.fieldParameter("X", "charset"), "");
    EXPECT_EQ(hd.contentTransferEncoding(), nullptr);
}

TEST(MimeHeader, LastFieldWithoutCrLfIsLostAndReportsZero) {
    const std::string h = "To: a\r\nCc: b\r\nSubject: no end";
    MimeHeader hd;
    EXPECT_EQ(hd.load(h.data(), h.size()), 0);
    ASSERT_EQ(hd.fieldCount(), 2u);
    EXPECT_EQ(hd.fields()[1].name(), "Cc");
}

TEST(MimeHeader, EndsAtTheBufferEnd) {
    // No empty line: the header stops at the end and never counts past it.
    const std::string h = "To: a\r\n";
    MimeHeader hd;
    EXPECT_EQ(hd.load(h.data(), h.size()), 7);
    MimeHeader empty;
    EXPECT_EQ(empty.load("", 0), 0);
    EXPECT_EQ(empty.load("\r\n", 2), 2);
    EXPECT_EQ(empty.mediaTypeName(), "text");
}

TEST(MimeHeader, StoresAndRoundTrips) {
    MimeHeader hd;
    hd.addField("To", "a@b");
    hd.addField("Subject",
                "Gr\xFC\xDF"
                "e",
                "iso-8859-1");
    hd.setField("to", "c@d");
    std::string out(hd.storedLength(), '\0');
    std::ptrdiff_t n = hd.store(&out[0], out.size());
    ASSERT_GT(n, 0);
    out.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(out, "To: c@d\r\nSubject: =?iso-8859-1?B?R3L832U=?=\r\n\r\n");
    MimeHeader back;
    EXPECT_EQ(back.load(out.data(), out.size()), n);
    ASSERT_EQ(back.fieldCount(), 2u);
    EXPECT_EQ(back.fields()[1].value(), "Gr\xFC\xDF"
                                        "e");
    EXPECT_EQ(back.fields()[1].charset(), "iso-8859-1");
    EXPECT_EQ(hd.store(&out[0], 5), 0); // a field that does not fit
    EXPECT_EQ(hd.removeField("TO"), 1u);
    EXPECT_EQ(hd.fieldCount(), 1u);
}

} // namespace
} // namespace quill
