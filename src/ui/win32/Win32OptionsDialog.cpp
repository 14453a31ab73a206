// The options dialog as a modal Win32 dialog from template 131.
#include "ui/OptionsFrontEnd.h"

#include "ui/OptionsDialog.h"
#include "ui/win32/ResourceModule.h"
#include "ui/win32/resource.h"

#include <windows.h>

#include <string>

namespace quill {

static_assert(
    OptionsDialog::Pop3Port == IDC_POP3_PORT && OptionsDialog::SmtpPort == IDC_SMTP_PORT &&
        OptionsDialog::ProxyServer == IDC_PROXY_SERVER &&
        OptionsDialog::ProxyPort == IDC_PROXY_PORT && OptionsDialog::Inbox == IDC_INBOX &&
        OptionsDialog::Bulk == IDC_BULK && OptionsDialog::ProxyUser == IDC_PROXY_USER &&
        OptionsDialog::ProxyPassword == IDC_PROXY_PASSWORD &&
        OptionsDialog::EmptyTrash == IDC_EMPTY_TRASH && OptionsDialog::Popup == IDC_POPUP &&
        OptionsDialog::SaveCookie == IDC_SAVE_COOKIE && OptionsDialog::SaveSent == IDC_SAVE_SENT &&
        OptionsDialog::NoProxy == IDC_NO_PROXY && OptionsDialog::HttpProxy == IDC_HTTP_PROXY &&
        OptionsDialog::Socks4 == IDC_SOCKS4 && OptionsDialog::Socks5 == IDC_SOCKS5 &&
        OptionsDialog::About == IDC_ABOUT && OptionsDialog::Ok == IDOK &&
        OptionsDialog::Cancel == IDCANCEL,
    "the dialog logic and the template must use the same control ids");

namespace {

// The controls of one open dialog window.
class WindowControls : public OptionsControls {
public:
    explicit WindowControls(HWND dialog) : dialog_(dialog) {}

    void setCaption(const std::string& text) override { SetWindowTextA(dialog_, text.c_str()); }
    void setText(int id, const std::string& text) override {
        SetDlgItemTextA(dialog_, id, text.c_str());
    }
    std::string text(int id) const override {
        HWND item = GetDlgItem(dialog_, id);
        int length = item ? GetWindowTextLengthA(item) : 0;
        if (length <= 0)
            return std::string();
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        int got = GetWindowTextA(item, &text[0], length + 1);
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return text;
    }
    void setChecked(int id, bool checked) override {
        CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    int checkState(int id) const override {
        return static_cast<int>(IsDlgButtonChecked(dialog_, id));
    }
    void setEnabled(int id, bool enabled) override {
        if (HWND item = GetDlgItem(dialog_, id))
            EnableWindow(item, enabled ? TRUE : FALSE);
    }

private:
    HWND dialog_;
};

// Lives on the stack of runOptionsDialog for the whole modal loop.
struct DialogState {
    SettingsValues values;
    WindowControls* controls = nullptr;
    OptionsDialog* dialog = nullptr;
    bool confirmed = false;
};

INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(window, DWLP_USER));
    try {
        switch (message) {
        case WM_INITDIALOG: {
            state = reinterpret_cast<DialogState*>(lParam);
            SetWindowLongPtrA(window, DWLP_USER, lParam);
            state->controls = new WindowControls(window);
            state->dialog = new OptionsDialog(*state->controls);
            state->dialog->open(state->values);
            return TRUE; // the system sets the initial focus
        }
        case WM_COMMAND: {
            if (!state || !state->dialog)
                return FALSE;
            int id = LOWORD(wParam);
            if (id == IDOK) {
                state->values = state->dialog->ok();
                state->confirmed = true;
                EndDialog(window, IDOK);
            } else if (id == IDCANCEL) {
                EndDialog(window, IDCANCEL);
            } else if (HIWORD(wParam) == BN_CLICKED) {
                state->dialog->clicked(id);
            }
            return TRUE;
        }
        case WM_DESTROY:
            if (state) {
                delete state->dialog;
                delete state->controls;
                state->dialog = nullptr;
                state->controls = nullptr;
            }
            return FALSE;
        default:
            return FALSE;
        }
    } catch (...) {
        // Out of memory while copying a text: the dialog closes as if cancelled.
        if (state)
            state->confirmed = false;
        EndDialog(window, IDCANCEL);
        return TRUE;
    }
}

} // namespace

bool runOptionsDialog(SettingsValues& values) noexcept {
    try {
        DialogState state;
        state.values = values;
        INT_PTR result = DialogBoxParamA(resourceModule(), MAKEINTRESOURCEA(IDD_OPTIONS), nullptr,
                                         dialogProc, reinterpret_cast<LPARAM>(&state));
        if (result != IDOK || !state.confirmed)
            return false;
        values = state.values;
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace quill
