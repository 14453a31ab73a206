#pragma once
// Progress window back-end for a console host: every change becomes one line
// on standard error, labelled with the service's name, for example
//   POP3 status: Logging to Vurel server ...
//   POP3 detail: http://login.vurel.example/config/login
//   POP3 shown / POP3 hidden
// Lines are written whole in one call, so the two services' lines never mix
// within a line. Status and detail lines are printed whether or not the
// window counts as popped up: a console has nothing to pop up.

#include "ui/WindowBackEnd.h"

#include <functional>
#include <string>

namespace quill {

class ConsoleWindowBackEnd : public WindowBackEnd {
public:
    // Receives each finished line, ending in "\n". May be called from any
    // thread; the default writes to standard error.
    using Sink = std::function<void(const std::string& line)>;

    explicit ConsoleWindowBackEnd(std::string serviceName, Sink sink = Sink());

    void show() override;
    void hide() override;
    void setCaption(const std::string& text) override;
    void setDetail(const std::string& text) override;

private:
    void emit(const char* what, const std::string& text);

    const std::string name_;
    const Sink sink_;
};

} // namespace quill
