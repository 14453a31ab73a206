#include "ui/console/OptionsConsole.h"

#include "ui/OptionsDialog.h"

#include <istream>
#include <ostream>

namespace quill {

namespace {

using D = OptionsDialog;
using Kind = OptionsConsole::Kind;

// The dialog's controls with ids, in its tab order.
const OptionsConsole::Control initialControls[] = {
    {D::Ok, Kind::Button, "OK", "", false, true},
    {D::Cancel, Kind::Button, "Cancel", "", false, true},
    {D::Pop3Port, Kind::Edit, "POP3 port", "", false, true},
    {D::SmtpPort, Kind::Edit, "SMTP port", "", false, true},
    {D::Inbox, Kind::Check, "Inbox", "", false, true},
    {D::Bulk, Kind::Check, "Bulk", "", false, false},
    {D::EmptyTrash, Kind::Check, "Empty trash after quit", "", false, true},
    {D::NoProxy, Kind::Radio, "No Proxy", "", false, true},
    {D::HttpProxy, Kind::Radio, "HTTP", "", false, true},
    {D::Socks4, Kind::Radio, "SOCK4", "", false, true},
    {D::Socks5, Kind::Radio, "SOCK5", "", false, true},
    {D::ProxyServer, Kind::Edit, "Proxy server", "", false, true},
    {D::ProxyPort, Kind::Edit, "Proxy port", "", false, true},
    {D::ProxyUser, Kind::Edit, "Username", "", false, true},
    {D::ProxyPassword, Kind::Password, "Password", "", false, true},
    {D::Popup, Kind::Check, "Popup Log window", "", false, true},
    {D::SaveCookie, Kind::Check, "Save cookies to disk, expires in 8 hours", "", false, true},
    {D::SaveSent, Kind::Check, "Save a copy of sent mail to Sent folder", "", false, true},
    {D::About, Kind::Label, "", "", false, true},
};

const char helpText[] =
    "Commands: <id>=<text> types into an edit field, <id> clicks a control,\n"
    "\"ok\" or \"cancel\" closes the dialog, \"show\" lists the controls again.\n";

} // namespace

OptionsConsole::OptionsConsole()
    : controls_(std::begin(initialControls), std::end(initialControls)) {}

OptionsConsole::Control* OptionsConsole::find(int id) {
    for (Control& c : controls_)
        if (c.id == id)
            return &c;
    return nullptr;
}

const OptionsConsole::Control* OptionsConsole::find(int id) const {
    return const_cast<OptionsConsole*>(this)->find(id);
}

void OptionsConsole::setText(int id, const std::string& text) {
    if (Control* c = find(id))
        c->text = text;
}

std::string OptionsConsole::text(int id) const {
    const Control* c = find(id);
    return c ? c->text : std::string();
}

void OptionsConsole::setChecked(int id, bool checked) {
    if (Control* c = find(id))
        c->checked = checked;
}

int OptionsConsole::checkState(int id) const {
    const Control* c = find(id);
    return c && c->checked ? 1 : 0;
}

void OptionsConsole::setEnabled(int id, bool enabled) {
    if (Control* c = find(id))
        c->enabled = enabled;
}

void OptionsConsole::show(std::ostream& out) const {
    out << caption_ << "\n";
    for (const Control& c : controls_) {
        out << "  " << c.id << "\t";
        switch (c.kind) {
        case Kind::Button:
            out << "[" << c.caption << "]";
            break;
        case Kind::Edit:
            out << c.caption << ": \"" << c.text << "\"";
            break;
        case Kind::Password:
            out << c.caption << ": \"" << std::string(c.text.size(), '*') << "\"";
            break;
        case Kind::Check:
            out << (c.checked ? "[x] " : "[ ] ") << c.caption;
            break;
        case Kind::Radio:
            out << (c.checked ? "(*) " : "( ) ") << c.caption;
            break;
        case Kind::Label:
            for (char ch : c.text)
                out << (ch == '\n' ? std::string("\n  \t") : std::string(1, ch));
            break;
        }
        if (!c.enabled)
            out << " (disabled)";
        out << "\n";
    }
}

bool OptionsConsole::run(std::istream& in, std::ostream& out, SettingsValues& values) {
    OptionsDialog dialog(*this);
    dialog.open(values);
    show(out);
    out << helpText;

    std::string line;
    while (out << "options> " << std::flush, std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == "ok" || line == "cancel" || line == "show" || line == "help") {
            if (line == "ok" || line == "cancel") {
                if (line == "ok")
                    values = dialog.ok();
                return line == "ok";
            }
            if (line == "show")
                show(out);
            else
                out << helpText;
            continue;
        }

        std::size_t eq = line.find('=');
        std::string idText = line.substr(0, eq);
        std::size_t digits = 0;
        while (digits < idText.size() && idText[digits] >= '0' && idText[digits] <= '9')
            ++digits;
        Control* c =
            digits > 0 && digits == idText.size() && digits < 6 ? find(std::stoi(idText)) : nullptr;
        if (!c) {
            out << "? no such control or command: " << line << "\n";
            continue;
        }
        if (!c->enabled) {
            out << "? control " << c->id << " is disabled\n";
            continue;
        }
        if (eq != std::string::npos) {
            if (c->kind != Kind::Edit && c->kind != Kind::Password) {
                out << "? control " << c->id << " is not an edit field\n";
                continue;
            }
            c->text = line.substr(eq + 1);
            continue;
        }
        switch (c->kind) {
        case Kind::Button:
            if (c->id == OptionsDialog::Ok)
                values = dialog.ok();
            return c->id == OptionsDialog::Ok;
        case Kind::Check:
            c->checked = !c->checked;
            break;
        case Kind::Radio:
            for (Control& other : controls_)
                if (other.kind == Kind::Radio)
                    other.checked = &other == c;
            break;
        case Kind::Edit:
        case Kind::Password:
        case Kind::Label:
            out << "? control " << c->id << " cannot be clicked\n";
            continue;
        }
        dialog.clicked(c->id);
    }
    out << "\n";
    return false;
}

} // namespace quill
