#pragma once
// The options dialog on a text console, for hosts without a window system.
// It keeps the dialog's controls in a table of its own, prints each control
// with its id, value and state, and reads one command per line:
//   <id>=<text>   type <text> into edit field <id> (empty text clears it)
//   <id>          click control <id>: toggle a check box, select a radio
//                 button, or press OK (1) / Cancel (2)
//   ok, cancel    press OK / Cancel
//   show, help    print the controls / the commands again
// Disabled controls refuse edits and clicks, as their windows would. The end
// of the input counts as Cancel.

#include "net/ServiceSettings.h"
#include "ui/OptionsControls.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace quill {

class OptionsConsole : public OptionsControls {
public:
    OptionsConsole();

    // Runs the dialog over `values`. Returns true on OK with `values` replaced
    // by what the dialog read; false on Cancel or end of input, `values` untouched.
    bool run(std::istream& in, std::ostream& out, SettingsValues& values);

    void setCaption(const std::string& text) override { caption_ = text; }
    void setText(int id, const std::string& text) override;
    std::string text(int id) const override;
    void setChecked(int id, bool checked) override;
    int checkState(int id) const override;
    void setEnabled(int id, bool enabled) override;

    enum class Kind { Button, Edit, Password, Check, Radio, Label };
    struct Control {
        int id;
        Kind kind;
        const char* caption;
        std::string text;
        bool checked;
        bool enabled;
    };

    // Prints the caption and every control, one per line.
    void show(std::ostream& out) const;

private:
    Control* find(int id);
    const Control* find(int id) const;

    std::string caption_;
    std::vector<Control> controls_;
};

} // namespace quill
