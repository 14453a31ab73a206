#include "ui/console/ConsoleWindowBackEnd.h"

#include <cstdio>
#include <utility>

namespace quill {

namespace {

void writeToStandardError(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace

ConsoleWindowBackEnd::ConsoleWindowBackEnd(std::string serviceName, Sink sink)
    : name_(std::move(serviceName)), sink_(sink ? std::move(sink) : Sink(writeToStandardError)) {}

void ConsoleWindowBackEnd::show() {
    emit("shown", std::string());
}

void ConsoleWindowBackEnd::hide() {
    emit("hidden", std::string());
}

// An empty text is what a window shows before anything is reported (the
// attach at start-up passes it on): it makes no line.
void ConsoleWindowBackEnd::setCaption(const std::string& text) {
    if (!text.empty()) {
        emit("status: ", text);
    }
}

void ConsoleWindowBackEnd::setDetail(const std::string& text) {
    if (!text.empty()) {
        emit("detail: ", text);
    }
}

void ConsoleWindowBackEnd::emit(const char* what, const std::string& text) {
    // Texts come from web pages: a line break inside one must not forge a
    // line of its own on the console.
    std::string line = name_ + " " + what;
    line.reserve(line.size() + text.size() + 1);
    for (char c : text) {
        line += (c == '\r' || c == '\n') ? ' ' : c;
    }
    line += '\n';
    sink_(line);
}

} // namespace quill
