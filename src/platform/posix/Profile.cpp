#include "platform/Profile.h"

#include "platform/AtomicFile.h"
#include "platform/Files.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace quill::platform {

namespace {

// Read-modify-write of a file must not interleave with another in this
// process (the Windows functions are serialised the same way).
std::mutex profileMutex;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string trim(const std::string& s, std::size_t begin, std::size_t end) {
    while (begin < end && isBlank(s[begin]))
        ++begin;
    while (end > begin && isBlank(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// One line of the file: its text and the line end that followed it.
struct Line {
    std::string text;
    std::string end; // "\r\n", "\n" or "" (last line without one)

    enum Kind { Blank, Section, Key };
    Kind kind = Blank;
    std::string name;  // section or key name
    std::string value; // key value, trimmed
};

void classify(Line& line) {
    const std::string t = trim(line.text, 0, line.text.size());
    if (t.empty()) {
        line.kind = Line::Blank;
        return;
    }
    if (t[0] == '[') {
        std::size_t close = t.rfind(']');
        if (close != std::string::npos && close > 0) {
            line.kind = Line::Section;
            line.name = t.substr(1, close - 1);
            return;
        }
    }
    line.kind = Line::Key;
    std::size_t eq = t.find('=');
    if (eq == std::string::npos) {
        line.name = t;
    } else {
        line.name = trim(t, 0, eq);
        line.value = trim(t, eq + 1, t.size());
    }
}

std::vector<Line> parse(const std::string& bytes) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t nl = bytes.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.text = bytes.substr(pos);
            pos = bytes.size();
        } else {
            std::size_t textEnd = nl;
            if (textEnd > pos && bytes[textEnd - 1] == '\r')
                --textEnd;
            line.text = bytes.substr(pos, textEnd - pos);
            line.end = bytes.substr(textEnd, nl + 1 - textEnd);
            pos = nl + 1;
        }
        classify(line);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<Line> load(const std::string& path) {
    std::string bytes;
    readFile(path, bytes);
    return parse(bytes);
}

// Index of the first section header of that name, or lines.size().
std::size_t findSection(const std::vector<Line>& lines, const std::string& section) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == Line::Section && sameName(lines[i].name, section))
            return i;
    return lines.size();
}

// The section's lines run from after its header to the next header.
std::size_t sectionEnd(const std::vector<Line>& lines, std::size_t header) {
    std::size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != Line::Section)
        ++i;
    return i;
}

// Index of the key line, or npos.
std::size_t findKey(const std::vector<Line>& lines, const std::string& section,
                    const std::string& key) {
    std::size_t header = findSection(lines, section);
    if (header == lines.size())
        return std::string::npos;
    std::size_t end = sectionEnd(lines, header);
    for (std::size_t i = header + 1; i < end; ++i)
        if (lines[i].kind == Line::Key && sameName(lines[i].name, key))
            return i;
    return std::string::npos;
}

std::string unquote(const std::string& v) {
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
        return v.substr(1, v.size() - 2);
    return v;
}

// The value as the Windows reader returns it; false when the key is missing.
bool lookup(const std::string& section, const std::string& key, const std::string& path,
            std::string& value) {
    std::vector<Line> lines;
    {
        std::lock_guard<std::mutex> hold(profileMutex);
        lines = load(path);
    }
    std::size_t i = findKey(lines, section, key);
    if (i == std::string::npos)
        return false;
    value = unquote(lines[i].value);
    return true;
}

std::string serialise(const std::vector<Line>& lines) {
    std::string out;
    for (const Line& l : lines) {
        out += l.text;
        out += l.end;
    }
    return out;
}

} // namespace

int profileInt(const std::string& section, const std::string& key, int defaultValue,
               const std::string& path) {
    std::string v;
    if (!lookup(section, key, path, v) || v.empty())
        return defaultValue;
    std::size_t i = 0;
    bool negative = false;
    if (v[i] == '+' || v[i] == '-') {
        negative = v[i] == '-';
        ++i;
    }
    // 32-bit wrap-around on overflow, as the system reader does.
    std::uint32_t n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i)
        n = n * 10u + static_cast<std::uint32_t>(v[i] - '0');
    if (negative)
        n = 0u - n;
    return static_cast<int>(n);
}

std::string profileString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t size,
                          const std::string& path) {
    if (size == 0)
        return std::string();
    std::string v;
    if (!lookup(section, key, path, v)) {
        v = defaultValue;
        while (!v.empty() && v.back() == ' ')
            v.pop_back();
    }
    if (v.size() > size - 1)
        v.resize(size - 1);
    return v;
}

bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path) {
    std::lock_guard<std::mutex> hold(profileMutex);
    std::vector<Line> lines = load(path);
    const std::string crlf = "\r\n";

    std::size_t i = findKey(lines, section, key);
    if (i != std::string::npos) {
        lines[i].text = lines[i].name + "=" + value;
    } else {
        Line entry;
        entry.text = key + "=" + value;
        entry.end = crlf;
        std::size_t header = findSection(lines, section);
        std::size_t at;
        if (header == lines.size()) {
            Line head;
            head.text = "[" + section + "]";
            head.end = crlf;
            head.kind = Line::Section;
            if (!lines.empty() && lines.back().end.empty())
                lines.back().end = crlf;
            lines.push_back(head);
            at = lines.size();
        } else {
            // After the section's last entry, so blank lines that separate it
            // from the next section stay where they are.
            std::size_t end = sectionEnd(lines, header);
            at = header + 1;
            for (std::size_t j = header + 1; j < end; ++j)
                if (lines[j].kind != Line::Blank)
                    at = j + 1;
            if (lines[at - 1].end.empty())
                lines[at - 1].end = crlf;
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    }
    return writeFileAtomically(path, serialise(lines), true);
}

} // namespace quill::platform
