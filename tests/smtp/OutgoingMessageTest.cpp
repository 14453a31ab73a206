#include "smtp/OutgoingMessage.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

struct Expect {
    std::string to, cc, bcc, subject, body, format;
};

void check(const OutgoingMessage& m, const Expect& e, std::size_t i) {
    EXPECT_EQ(m.to(), e.to) << "case " << i;
    EXPECT_EQ(m.cc(), e.cc) << "case " << i;
    EXPECT_EQ(m.bcc(), e.bcc) << "case " << i;
    EXPECT_EQ(m.subject(), e.subject) << "case " << i;
    EXPECT_EQ(m.body(), e.body) << "case " << i;
    EXPECT_EQ(m.format(), e.format) << "case " << i;
}

const std::string kAlternative =
    "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
    "--alt\r\nContent-Type: text/plain\r\n\r\nplain text\r\n"
    "--alt\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
    "<p>caf=C3=A9</p>\r\n--alt--";

TEST(OutgoingMessage, AnalysesTable) {
    struct Case {
        std::string text;
        Expect e;
    } cases[] = {
        // Field names in any case; only the first field of a name counts.
        {"to: a@x\r\nCc: b@x\r\nbcc: c@x\r\nTO: second@x\r\nSubject: Hi\r\n\r\nbody",
         {"a@x", "b@x", "c@x", "Hi", "body", ""}},
        // A folded To loses its CR LF but keeps the TAB; the Subject keeps both.
        {"To: a@x,\r\n\tb@x\r\nSubject: one\r\n\ttwo\r\n\r\nx",
         {"a@x,\tb@x", "", "", "one\r\n\ttwo", "x", ""}},
        // An encoded Subject gives its raw bytes; the charset is dropped.
        {"Subject: =?ISO-8859-1?B?R3L832U=?=\r\n\r\n",
         {"", "", "",
          "Gr\xFC\xDF"
          "e",
          "", ""}},
        {"Content-Type: text/html; charset=utf-8\r\n\r\n<b>x</b>",
         {"", "", "", "", "<b>x</b>", "html"}},
        // The subtype comparison is exact: text/HTML is sent as plain text.
        {"Content-Type: text/HTML\r\n\r\n<b>x</b>", {"", "", "", "", "<b>x</b>", ""}},
        {kAlternative, {"", "", "", "", "<p>caf\xC3\xA9</p>", "html"}},
        // Only one alternative: nothing is chosen.
        {"Content-Type: multipart/alternative; boundary=a\r\n\r\n--a\r\n\r\nonly\r\n--a--",
         {"", "", "", "", "", ""}},
        // mixed: the first part, searched down; the attachment is dropped.
        {"Subject: s\r\nContent-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\n" + kAlternative +
             "\r\n--m\r\nContent-Type: application/pdf\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n--m--",
         {"", "", "", "s", "<p>caf\xC3\xA9</p>", "html"}},
        // A mixed message without parts gives no body.
        {"Content-Type: multipart/mixed; boundary=m\r\n\r\npreamble only",
         {"", "", "", "", "", ""}},
        // A first part that is an image gives its decoded bytes.
        {"Content-Type: multipart/related; boundary=r\r\n\r\n--r\r\nContent-Type: image/gif\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\nR0lGODlh\r\n--r--",
         {"", "", "", "", "GIF89a", ""}},
        {"Content-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\naGVsbG8=",
         {"", "", "", "", "hello", ""}},
        {"Content-Transfer-Encoding: quoted-printable\r\n\r\nsoft=\r\nbreak=3D",
         {"", "", "", "", "softbreak=", ""}},
        // Header lines only: the last one lost its CR LF with the terminator.
        {"To: a@x\r\nSubject: kept", {"a@x", "", "", "kept", "", ""}},
        {"", {"", "", "", "", "", ""}},
        {"garbage without any structure", {"", "", "", "", "", ""}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        check(OutgoingMessage(cases[i].text), cases[i].e, i);
        check(OutgoingMessage(std::string(cases[i].text)), cases[i].e, i); // a text given away
    }
}

// A message whose header cannot be read must not be posted at all.
TEST(OutgoingMessage, TellsWhetherTheMessageCouldBeAnalysed) {
    const struct {
        const char* text;
        bool analysed;
    } cases[] = {
        {"", true},           {"To: a@x\r\n\r\nbody", true},
        {"Subject: s", true}, {"garbage", true},
        {" \t", false},       {" x\r\n", false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(OutgoingMessage(std::string_view(cases[i].text)).analysed(), cases[i].analysed)
            << "case " << i;
    }
}

TEST(OutgoingMessage, EmptyByDefaultAndIndependentOfTheInput) {
    OutgoingMessage none;
    check(none, {}, 0);
    std::string text = "To: a@x\r\n\r\nbody";
    OutgoingMessage m(text);
    text.assign(text.size(), 'Z');
    check(m, {"a@x", "", "", "", "body", ""}, 1);
}

} // namespace
} // namespace quill
