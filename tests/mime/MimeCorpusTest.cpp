// Compares our parse of messages made by Python's email package with what
// Python itself reads back from them (the corpus and its expectations are
// written by corpus/make_corpus.py into the directory named by the
// environment variable QUILL_MIME_CORPUS).
//
// Where the two legitimately differ the comparison normalises, and says why:
// - we keep folds (CR LF and the white space after it) in field values, and a
//   value folded right after the colon starts with the fold's white space;
//   Python unfolds and starts at the first word: compare without CR LF and
//   leading white space;
// - our subtype keeps its letter case; Python lowers it (its generator writes
//   lower case, but one message has a subtype in capitals, compared as ours);
// - Python's multipart preamble lacks the CR LF in front of the first
//   delimiter, which belongs to our preamble: the expectation adds it.

#include "mime/MimeMessage.h"
#include "smtp/OutgoingMessage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace quill {
namespace {

std::string unhex(const std::string& h) {
    if (h == "-")
        return {};
    std::string out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string unfolded(const std::string& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\r' && i + 1 < v.size() && v[i + 1] == '\n') {
            ++i;
            continue;
        }
        out += v[i];
    }
    std::size_t start = out.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : out.substr(start);
}

const MimeBody* partAt(const MimeBody& root, const std::string& path) {
    const MimeBody* p = &root;
    std::istringstream s(path);
    std::string step;
    std::getline(s, step, '.'); // the root "0"
    while (p && std::getline(s, step, '.'))
        p = p->child(static_cast<std::size_t>(std::stoul(step)));
    return p;
}

std::string corpusDir() {
    const char* d = std::getenv("QUILL_MIME_CORPUS");
    return d ? d : "";
}

std::vector<std::string> corpusNames() {
    std::vector<std::string> names;
    std::ifstream index(corpusDir() + "/index.txt");
    for (std::string line; std::getline(index, line);)
        if (!line.empty())
            names.push_back(line);
    return names;
}

TEST(MimeCorpus, HasMessages) {
    ASSERT_FALSE(corpusDir().empty()) << "QUILL_MIME_CORPUS is not set";
    EXPECT_GE(corpusNames().size(), 60u);
}

TEST(MimeCorpus, ParseMatchesPython) {
    std::size_t checkedParts = 0, checkedValues = 0;
    for (const std::string& name : corpusNames()) {
        const std::string text = readFile(corpusDir() + "/" + name + ".eml");
        std::ifstream expect(corpusDir() + "/" + name + ".expect");
        ASSERT_FALSE(text.empty()) << name;
        MimeMessage m;
        const std::ptrdiff_t used = m.load(text.data(), text.size());
        std::string epilogue;
        std::map<std::string, std::string> outgoing;
        for (std::string line; std::getline(expect, line);) {
            std::istringstream rec(line);
            std::string kind, path;
            rec >> kind;
            if (kind == "epilogue") {
                std::string value;
                rec >> value;
                epilogue = unhex(value);
                continue;
            }
            if (kind == "out") {
                std::string key, value;
                rec >> key >> value;
                outgoing[key] = unhex(value);
                continue;
            }
            rec >> path;
            const std::string where = name + " " + path + " " + kind;
            const MimeBody* p = partAt(m, path);
            ASSERT_NE(p, nullptr) << where;
            if (kind == "part") {
                int code, kids, has;
                std::string sub, content;
                rec >> code >> sub >> kids >> has >> content;
                EXPECT_EQ(static_cast<int>(p->mediaType()), code) << where;
                EXPECT_EQ(p->subtype(), unhex(sub)) << where;
                EXPECT_EQ(p->childCount(), static_cast<std::size_t>(kids)) << where;
                EXPECT_EQ(p->hasContent(), has != 0) << where;
                EXPECT_TRUE(p->contentView() == unhex(content)) << where;
                ++checkedParts;
            } else if (kind == "names") {
                std::vector<std::string> want;
                for (std::string n; rec >> n;)
                    if (n != "-")
                        want.push_back(unhex(n));
                std::vector<std::string> got;
                for (const auto& f : p->fields())
                    got.push_back(f.name());
                EXPECT_EQ(got, want) << where;
            } else if (kind == "value") {
                std::string field, value;
                rec >> field >> value;
                const MimeField* f = p->findField(unhex(field));
                ASSERT_NE(f, nullptr) << where;
                EXPECT_EQ(unfolded(f->value()), unhex(value)) << where << " " << unhex(field);
                ++checkedValues;
            } else if (kind == "param") {
                std::string field, param, value;
                rec >> field >> param >> value;
                EXPECT_EQ(p->fieldParameter(unhex(field), unhex(param)), unhex(value))
                    << where << " " << unhex(param);
            }
        }

        // Loading consumes everything up to the closing delimiter line; the
        // epilogue after it is not ours.
        EXPECT_EQ(used, static_cast<std::ptrdiff_t>(text.size() - epilogue.size())) << name;

        // The analysis, on the message as the SMTP session hands it over.
        std::string submitted = text;
        if (submitted.size() >= 2 && submitted.compare(submitted.size() - 2, 2, "\r\n") == 0)
            submitted.resize(submitted.size() - 2);
        OutgoingMessage out(submitted);
        EXPECT_EQ(unfolded(out.to()), outgoing["to"]) << name;
        EXPECT_EQ(unfolded(out.cc()), outgoing["cc"]) << name;
        EXPECT_EQ(unfolded(out.bcc()), outgoing["bcc"]) << name;
        EXPECT_EQ(unfolded(out.subject()), outgoing["subject"]) << name;
        EXPECT_TRUE(out.body() == outgoing["body"]) << name;
        EXPECT_EQ(out.format(), outgoing["format"]) << name;
    }
    EXPECT_GT(checkedParts, 100u);
    EXPECT_GT(checkedValues, 100u);
}

} // namespace
} // namespace quill
