#include "mime/MimeBody.h"

#include "mime/Base64Codec.h"
#include "mime/MimeMessage.h"
#include "mime/MimeTestUtil.h"
#include "mime/PartFactoryRegistry.h"

#include <gtest/gtest.h>

#include <functional>

namespace quill {
namespace {

std::string content(const MimeBody* b) {
    return b ? std::string(b->contentView()) : "<none>";
}

void expectSameTree(const MimeBody& a, const MimeBody& b, const std::string& where) {
    ASSERT_EQ(a.fieldCount(), b.fieldCount()) << where;
    for (std::size_t i = 0; i < a.fieldCount(); ++i) {
        EXPECT_EQ(a.fields()[i].name(), b.fields()[i].name()) << where;
        EXPECT_EQ(a.fields()[i].value(), b.fields()[i].value()) << where;
    }
    EXPECT_EQ(a.hasContent(), b.hasContent()) << where;
    EXPECT_EQ(a.contentView(), b.contentView()) << where;
    ASSERT_EQ(a.childCount(), b.childCount()) << where;
    for (std::size_t i = 0; i < a.childCount(); ++i)
        expectSameTree(*a.child(i), *b.child(i), where + "/" + std::to_string(i));
}

void decodeEveryBody(MimeBody& b, std::string_view text) {
    std::string own(text);
    EXPECT_TRUE(b.decodeBodyInPlace(own));
    EXPECT_TRUE(b.decodeBody(text));
    EXPECT_EQ(own, b.contentView());
    for (std::size_t i = 0; i < b.childCount(); ++i)
        decodeEveryBody(*b.child(i), text);
}

// load(), checking on the way that loadStructure() and then decodeBody() on
// every entity give the same answer and the same tree (and decodeBodyInPlace()
// the same contents).
std::ptrdiff_t loadAll(MimeBody& m, const std::string& text) {
    const std::ptrdiff_t result = m.load(text.data(), text.size());
    MimeBody located;
    EXPECT_EQ(located.loadStructure(text.data(), text.size()), result);
    decodeEveryBody(located, text);
    expectSameTree(m, located, "located");
    return result;
}

// A compact picture of a tree: type/subtype, content and children.
std::string shape(const MimeBody& b) {
    std::string s = std::to_string(static_cast<int>(b.mediaType())) + "/" + b.subtype();
    if (b.hasContent())
        s += "[" + test::printable(b.contentView()) + "]";
    if (b.childCount()) {
        s += "(";
        for (std::size_t i = 0; i < b.childCount(); ++i)
            s += (i ? "," : "") + shape(*b.child(i));
        s += ")";
    }
    return s;
}

TEST(MimeBody, MediaTypesAndSubtypes) {
    struct Case {
        const char* contentType; // null: no Content-Type field
        MediaType type;
        const char* subtype;
    } cases[] = {
        {nullptr, MediaType::Text, "plain"},
        {"text/html; charset=x", MediaType::Text, "html"},
        {"TEXT/HTML", MediaType::Text, "HTML"},
        {"video/mpeg", MediaType::Video, "mpeg"},
        {"image/png", MediaType::Image, "png"},
        {"audio/x", MediaType::Audio, "x"},
        {"application/pdf", MediaType::Application, "pdf"},
        {"Multipart/Mixed ; boundary=b", MediaType::Multipart, "Mixed"},
        {"message/rfc822", MediaType::Message, "rfc822"},
        {"model/x", MediaType::Other, "x"},
        {"textual/x", MediaType::Text, "x"},  // the name is compared as a prefix
        {"plain", MediaType::Other, "plain"}, // no "/": the whole main value
        {"/html", MediaType::Other, ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        MimeBody b;
        if (cases[i].contentType)
            b.addField("Content-Type", cases[i].contentType);
        EXPECT_EQ(b.mediaType(), cases[i].type) << "case " << i;
        EXPECT_EQ(b.subtype(), cases[i].subtype) << "case " << i;
    }
}

TEST(MimeBody, LoadsTable) {
    struct Case {
        std::string text;
        std::ptrdiff_t result; // -2: the whole length
        std::string shape;
    } cases[] = {
        {"Subject: x\r\n\r\nhello\r\n", -2, "0/plain[hello\\r\\n]"},
        {"Content-Transfer-Encoding: BASE64\r\n\r\naGVs\r\nbG8=\r\n", -2, "0/plain[hello]"},
        {"Content-Transfer-Encoding: quoted-printable\r\n\r\na=3Db=\r\nc", -2, "0/plain[a=bc]"},
        {"Content-Transfer-Encoding: 8bit\r\n\r\n=41", -2, "0/plain[=41]"},
        {"Subject: x\r\n\r\n", -2, "0/plain"}, // no body: no content
        {"Subject: x\r\n", -2, "0/plain"},     // no empty line either
        {"Subject: x", 0, "0/plain"},          // last field without CR LF
        // Preamble becomes the multipart's content (with the CR LF before the
        // delimiter); the epilogue is dropped.
        {"Content-Type: multipart/alternative; boundary=b\r\n\r\npre\r\n--b\r\n\r\none\r\n"
         "--b\r\nContent-Type: text/html\r\n\r\n<p>two</p>\r\n--b--\r\nepilogue",
         -3, "5/alternative[pre\\r\\n](0/plain[one],0/html[<p>two</p>])"},
        // Delimiter right after the empty line: no content of its own;
        // trailing blanks on a delimiter line are ignored.
        {"Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b  \r\n\r\nx\r\n--b--\r\n", -2,
         "5/mixed(0/plain[x])"},
        // No closing delimiter: every part up to the end.
        {"Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx\r\n--b\r\n\r\ny", -2,
         "5/mixed(0/plain[x],0/plain[y])"},
        // Nested multiparts load recursively.
        {"Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\n"
         "Content-Type: multipart/alternative; boundary=i\r\n\r\n--i\r\n\r\na\r\n--i\r\n"
         "Content-Type: text/html\r\n\r\nb\r\n--i--\r\n\r\n--o\r\n"
         "Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\nAAEC\r\n--o--\r\n",
         -2, "5/mixed(5/alternative(0/plain[a],0/html[b]),1/png[\\x00\\x01\\x02])"},
        // A multipart whose boundary never shows is one flat entity.
        {"Content-Type: multipart/mixed; boundary=zz\r\n\r\n--b\r\nx", -2, "5/mixed[--b\\r\\nx]"},
        {"Content-Type: multipart/mixed\r\n\r\n--b\r\nx", -2, "5/mixed[--b\\r\\nx]"},
        // A delimiter line that never ends: the parse stops there.
        {"Content-Type: multipart/mixed; boundary=b\r\n\r\n--b", -2, "5/mixed"},
        // A boundary at the very start of the buffer (no header).
        {"\r\n--b\r\n", -2, "0/plain[--b\\r\\n]"},
        // Empty parts between delimiters.
        {"Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\n--b\r\n\r\n--b--", -2,
         "5/mixed(0/plain,0/plain)"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        MimeMessage m;
        std::ptrdiff_t r = loadAll(m, cases[i].text);
        std::ptrdiff_t want = cases[i].result;
        if (want == -2)
            want = static_cast<std::ptrdiff_t>(cases[i].text.size());
        if (want == -3)
            want = static_cast<std::ptrdiff_t>(cases[i].text.find("epilogue"));
        EXPECT_EQ(r, want) << "case " << i;
        EXPECT_EQ(shape(m), cases[i].shape) << "case " << i;
        if (m.hasContent()) {
            EXPECT_EQ(m.content()[m.contentLength()], '\0') << "case " << i;
        }
    }
}

TEST(MimeBody, DecodeBodyNeedsTheBufferItWasLocatedIn) {
    const std::string text = "Content-Transfer-Encoding: base64\r\n\r\naGVsbG8=";
    MimeBody b;
    ASSERT_GT(b.loadStructure(text.data(), text.size()), 0);
    EXPECT_FALSE(b.hasContent());
    std::string out = "old";
    EXPECT_FALSE(b.decodeBody(std::string_view(text).substr(0, text.size() - 1)));
    EXPECT_FALSE(b.decodeBodyInto(std::string_view(text).substr(0, text.size() - 1), out));
    EXPECT_TRUE(b.decodeBodyInto(text, out));
    EXPECT_EQ(out, "hello");
    EXPECT_FALSE(b.hasContent()); // decoded into out only
    EXPECT_TRUE(b.decodeBody(text));
    EXPECT_TRUE(b.decodeBody(text)); // a second time: the content is still there once
    EXPECT_EQ(b.contentView(), "hello");
}

TEST(MimeBody, SameAnswerForEveryPrefix) {
    // Every prefix of a message loads without reading past its end (the
    // sanitizer builds check the reads) and never reports more than it got.
    const std::string text = "Content-Type: multipart/mixed; boundary=\"q\"\r\n\r\npre\r\n--q\r\n"
                             "Content-Transfer-Encoding: quoted-printable\r\n\r\na=3D=\r\n--q\r\n"
                             "Content-Type: text/plain; x=\"y\r\n\r\n--q--\r\n";
    for (std::size_t n = 0; n <= text.size(); ++n) {
        std::string prefix = text.substr(0, n); // a buffer of exactly n bytes
        std::vector<char> exact(prefix.begin(), prefix.end());
        MimeMessage m;
        std::ptrdiff_t r = m.load(exact.data(), exact.size());
        EXPECT_LE(r, static_cast<std::ptrdiff_t>(n)) << "prefix " << n;
    }
}

TEST(MimeBody, DeepNestingIsLoadedFlatBeyondTheLimit) {
    std::string text;
    const int depth = 5000;
    for (int i = 0; i < depth; ++i)
        text += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "x\r\n\r\n--b" +
                std::to_string(i) + "x\r\n";
    text += "\r\nleaf";
    MimeMessage m;
    EXPECT_EQ(m.load(text.data(), text.size()), static_cast<std::ptrdiff_t>(text.size()));
    int levels = 0;
    const MimeBody* p = &m;
    while (p->childCount()) {
        p = p->child(0);
        ++levels;
    }
    EXPECT_EQ(levels, MimeBody::kMaxDepth);
    EXPECT_EQ(p->mediaType(), MediaType::Multipart);
    EXPECT_TRUE(p->hasContent());
}

TEST(MimeBody, ChildCursorAndClear) {
    MimeMessage m;
    loadAll(m, "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\n1\r\n--b\r\n\r\n2\r\n"
               "--b--\r\n");
    ASSERT_EQ(m.childCount(), 2u);
    EXPECT_EQ(content(m.firstChild()), "1");
    EXPECT_EQ(content(m.nextChild()), "2");
    EXPECT_EQ(m.nextChild(), nullptr);
    EXPECT_EQ(content(m.firstChild()), "1");
    m.clear();
    EXPECT_EQ(m.childCount(), 0u);
    EXPECT_EQ(m.fieldCount(), 0u);
    EXPECT_FALSE(m.hasContent());
    EXPECT_EQ(m.firstChild(), nullptr);
}

std::unique_ptr<MimeBody> leaf(const std::string& type, const std::string& cte,
                               const std::string& bytes) {
    auto b = std::make_unique<MimeBody>();
    b->addField("Content-Type", type);
    if (!cte.empty())
        b->addField("Content-Transfer-Encoding", cte);
    b->setContent(bytes);
    return b;
}

TEST(MimeBody, ComposeThenParseGivesTheSameTree) {
    test::TestRandom rnd(5);
    const char* ctes[] = {"base64", "quoted-printable", "", "Quoted-Printable"};
    for (int round = 0; round < 60; ++round) {
        MimeMessage m;
        m.addField("Subject", "Round " + std::to_string(round) + " \xC3\xA9t\xC3\xA9", "utf-8");
        m.addField("To", "J\xC3\xB6rg <j@example.org>", "utf-8");
        m.addField("Content-Type",
                   "multipart/mixed; boundary=\"=_outer" + std::to_string(round) + "\"");
        if (round % 2)
            m.setContent("preamble text\r\n");
        int parts = 1 + static_cast<int>(rnd.below(4));
        for (int i = 0; i < parts; ++i) {
            std::string cte = ctes[rnd.below(4)];
            // 7bit content: no CR LF followed by the delimiter's dashes.
            std::string bytes =
                cte.empty() ? rnd.bytes(rnd.below(300), "abc XYZ\t.") : rnd.bytes(rnd.below(2000));
            if (i == 1) {
                auto alt = std::make_unique<MimeBody>();
                alt->addField("Content-Type", "multipart/alternative; boundary=inner");
                alt->appendChild(leaf("text/plain", "quoted-printable", bytes));
                alt->appendChild(leaf("text/html", "base64", "<p>" + bytes + "</p>"));
                m.appendChild(std::move(alt));
            } else {
                m.appendChild(leaf("application/octet-stream", cte, bytes));
            }
        }
        std::string out(m.storedLength(), '\0');
        std::ptrdiff_t n = m.store(&out[0], out.size());
        ASSERT_GT(n, 0) << "round " << round;
        out.resize(static_cast<std::size_t>(n));
        MimeMessage back;
        EXPECT_EQ(back.load(out.data(), out.size()), n) << "round " << round;
        expectSameTree(m, back, "round " + std::to_string(round));
    }
}

TEST(MimeBody, LongPartsReadAsTheirOwnText) {
    // A part longer than the parser's search window (256 KiB) is decoded in
    // the pass that finds its end; each part must still read as its own text
    // read alone. The delimiter is put around the window's end, after a stop
    // inside the body, and after parts that are read the ordinary way.
    constexpr std::size_t kWindow = std::size_t(256) << 10;
    test::TestRandom rnd(11);
    Base64Codec encoder;
    const std::string big =
        test::runCodec(encoder, rnd.bytes(kWindow), MimeCodec::Direction::Encode);
    const std::string b64 = "Content-Transfer-Encoding: base64\r\n\r\n";
    const auto straddle = [&](std::size_t end) { return big.substr(0, end - b64.size()); };
    struct Case {
        std::vector<std::pair<std::string, std::string>> parts; // header, body
        bool closed;
    } cases[] = {
        {{{b64, big}, {"\r\n", "small"}}, true},
        {{{b64, big}, {b64, big.substr(0, 300001)}, {"\r\n", "x"}}, true},
        {{{b64, straddle(kWindow - 5)}, {"\r\n", "y"}}, true}, // ends at the window's end
        {{{b64, straddle(kWindow - 4)}, {"\r\n", "y"}}, true},
        {{{b64, straddle(kWindow - 1)}, {"\r\n", "y"}}, true},
        {{{b64, straddle(kWindow)}, {"\r\n", "y"}}, true},
        {{{b64, straddle(kWindow + 1)}, {"\r\n", "y"}}, true},
        {{{b64, big.substr(0, 1000) + "=\r\n" + big}}, false},
        {{{b64, big.substr(0, 5000) + "\r\n--other\r\n" + big}, {b64, big}}, true},
        {{{"Content-Transfer-Encoding: quoted-printable\r\n\r\n", big}}, true},
        {{{"X: " + std::string(kWindow, 'h') + "\r\n" + b64, big}}, true},
        {{{"Content-Type: multipart/mixed; boundary=c\r\n\r\n",
           "--c\r\n" + b64 + big + "\r\n--c--"}},
         true},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::string text = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
        for (const auto& [header, body] : cases[i].parts)
            text += "--b\r\n" + header + body + "\r\n";
        if (cases[i].closed)
            text += "--b--\r\n";
        MimeMessage m;
        EXPECT_EQ(loadAll(m, text), static_cast<std::ptrdiff_t>(text.size())) << "case " << i;
        ASSERT_EQ(m.childCount(), cases[i].parts.size()) << "case " << i;
        for (std::size_t p = 0; p < m.childCount(); ++p) {
            const std::string own = cases[i].parts[p].first + cases[i].parts[p].second;
            MimeBody alone;
            loadAll(alone, own);
            expectSameTree(*m.child(p), alone,
                           "case " + std::to_string(i) + "/" + std::to_string(p));
        }
    }
}

TEST(MimeBody, StoreReportsMissingBoundaryAndCutsAtCapacity) {
    MimeMessage m;
    m.addField("Content-Type", "multipart/mixed");
    m.appendChild(leaf("text/plain", "", "x"));
    std::string out(m.storedLength(), '\0');
    EXPECT_EQ(m.store(&out[0], out.size()), -1);

    MimeMessage ok;
    ok.addField("Content-Type", "multipart/mixed; boundary=b");
    ok.appendChild(leaf("text/plain", "", "x"));
    const std::string whole = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                              "Content-Type: text/plain\r\n\r\nx\r\n--b--\r\n";
    std::string buf(ok.storedLength(), '\0');
    ASSERT_EQ(ok.store(&buf[0], buf.size()), static_cast<std::ptrdiff_t>(whole.size()));
    EXPECT_EQ(buf.substr(0, whole.size()), whole);
    for (std::size_t cap = 0; cap < whole.size(); ++cap) {
        std::string small(cap + 8, '#');
        std::ptrdiff_t r = ok.store(&small[0], cap);
        EXPECT_LE(r, static_cast<std::ptrdiff_t>(cap)) << "capacity " << cap;
        EXPECT_EQ(small.substr(cap), "########") << "capacity " << cap;
    }
}

// Registers a factory for the rest of the process (there is no way back): kept
// last, so that the tests before it read parts as the library's own entities.
class TaggedBody : public MimeBody {};

TEST(MimeBody, PartFactoryRegistryMakesRegisteredEntities) {
    PartFactoryRegistry::registerFactory(
        "IMAGE", []() -> std::unique_ptr<MimeBody> { return std::make_unique<TaggedBody>(); });
    MimeMessage m;
    loadAll(m, "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nt\r\n--b\r\n"
               "Content-Type: image/gif\r\n\r\ng\r\n--b--\r\n");
    ASSERT_EQ(m.childCount(), 2u);
    EXPECT_EQ(dynamic_cast<TaggedBody*>(m.child(0)), nullptr);
    EXPECT_NE(dynamic_cast<TaggedBody*>(m.child(1)), nullptr);
    EXPECT_EQ(content(m.child(1)), "g");
    // Registering the name again replaces the entry.
    PartFactoryRegistry::registerFactory(
        "image", []() -> std::unique_ptr<MimeBody> { return std::make_unique<MimeBody>(); });
    EXPECT_EQ(dynamic_cast<TaggedBody*>(PartFactoryRegistry::create("image").get()), nullptr);
}

} // namespace
} // namespace quill
