// Drives the real options dialog (template 131) through window messages, the
// way a user's clicks and typing reach it. The dialog runs modally on a thread
// of its own; the test finds it there and works its controls.
#include "ui/OptionsFrontEnd.h"

#include "ui/OptionsDialog.h"
#include "ui/win32/UiTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace quill {
namespace {

using D = OptionsDialog;
using namespace uitest;

SettingsValues defaults() {
    SettingsValues v;
    v.inbox = v.emptyTrash = v.popup = v.saveCookie = v.saveSent = true;
    return v;
}

// One modal run of the dialog on its own thread.
class RunningDialog {
public:
    explicit RunningDialog(SettingsValues start) : values_(start) {
        thread_ = std::thread([this] {
            threadId_ = GetCurrentThreadId();
            result_ = runOptionsDialog(values_);
            finished_ = true;
        });
        waitUntil([this] { return threadId_ != 0 && (finished_ || findDialog(threadId_)); });
        window_ = threadId_ ? findDialog(threadId_) : nullptr;
        // The dialog is fully initialised once its caption is set.
        waitUntil([this] { return window_ && windowText(window_) == "Quillmere 1.64"; });
    }
    ~RunningDialog() {
        if (!finished_ && window_)
            PostMessageA(window_, WM_COMMAND, IDCANCEL, 0);
        thread_.join();
    }

    HWND window() const { return window_; }
    HWND item(int id) const { return GetDlgItem(window_, id); }
    void click(int id) const { SendMessageA(item(id), BM_CLICK, 0, 0); }
    void type(int id, const char* text) const { SetDlgItemTextA(window_, id, text); }
    bool checked(int id) const { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }
    bool enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }

    // Presses a button that ends the dialog and waits for it to end.
    bool finishWith(int button) {
        click(button);
        return waitUntil([this] { return finished_.load(); });
    }
    bool finished() const { return finished_; }
    bool result() const { return result_; }
    const SettingsValues& values() const { return values_; }

private:
    SettingsValues values_;
    std::thread thread_;
    std::atomic<DWORD> threadId_{0};
    std::atomic<bool> finished_{false};
    bool result_ = false;
    HWND window_ = nullptr;
};

TEST(Win32OptionsDialogTest, OpensWithTheDefaultsShown) {
    RunningDialog d(defaults());
    ASSERT_NE(d.window(), nullptr);
    EXPECT_EQ(itemText(d.window(), D::Pop3Port), "5110");
    EXPECT_EQ(itemText(d.window(), D::SmtpPort), "5025");
    EXPECT_TRUE(d.checked(D::NoProxy));
    for (int r : {D::HttpProxy, D::Socks4, D::Socks5})
        EXPECT_FALSE(d.checked(r)) << r;
    for (int f : {D::ProxyServer, D::ProxyPort, D::ProxyUser, D::ProxyPassword})
        EXPECT_FALSE(d.enabled(f)) << f;
    for (int box : {D::Inbox, D::EmptyTrash, D::Popup, D::SaveCookie, D::SaveSent})
        EXPECT_TRUE(d.checked(box)) << box;
    EXPECT_FALSE(d.checked(D::Bulk));
    EXPECT_FALSE(d.enabled(D::Bulk));
    EXPECT_EQ(itemText(d.window(), D::About).rfind("Quillmere 1.64 (July 7th, 2004)\n", 0), 0u);
    // No system menu; the password is masked.
    EXPECT_EQ(GetWindowLongA(d.window(), GWL_STYLE) & WS_SYSMENU, 0);
    EXPECT_NE(SendMessageA(d.item(D::ProxyPassword), EM_GETPASSWORDCHAR, 0, 0), 0);
    EXPECT_TRUE(d.finishWith(IDCANCEL));
    EXPECT_FALSE(d.result());
}

TEST(Win32OptionsDialogTest, RadioClicksEnableTheProxyFields) {
    struct Step {
        int radio;
        bool serverAndPort, userAndPassword;
    } steps[] = {
        {D::Socks4, true, false},   {D::Socks5, true, true},  {D::NoProxy, false, false},
        {D::HttpProxy, true, true}, {D::Socks4, true, false}, {D::NoProxy, false, false},
    };
    RunningDialog d(defaults());
    ASSERT_NE(d.window(), nullptr);
    for (std::size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        d.click(steps[i].radio);
        EXPECT_TRUE(d.checked(steps[i].radio)) << "step " << i;
        EXPECT_EQ(d.enabled(D::ProxyServer), steps[i].serverAndPort) << "step " << i;
        EXPECT_EQ(d.enabled(D::ProxyPort), steps[i].serverAndPort) << "step " << i;
        EXPECT_EQ(d.enabled(D::ProxyUser), steps[i].userAndPassword) << "step " << i;
        EXPECT_EQ(d.enabled(D::ProxyPassword), steps[i].userAndPassword) << "step " << i;
    }
    EXPECT_TRUE(d.finishWith(IDCANCEL));
}

TEST(Win32OptionsDialogTest, OkReturnsWhatWasTypedAndClicked) {
    RunningDialog d(defaults());
    ASSERT_NE(d.window(), nullptr);
    d.type(D::Pop3Port, ""); // read as 0; the settings store their default
    d.type(D::SmtpPort, "2525");
    d.click(D::HttpProxy);
    d.type(D::ProxyServer, "gate.example");
    d.type(D::ProxyPort, "3128");
    d.type(D::ProxyUser, "joe");
    d.type(D::ProxyPassword, "pw 1");
    d.click(D::NoProxy);
    d.click(D::Inbox);
    d.click(D::Popup);
    ASSERT_TRUE(d.finishWith(IDOK));
    ASSERT_TRUE(d.result());
    const SettingsValues& v = d.values();
    EXPECT_EQ(v.pop3Port, 0);
    EXPECT_EQ(v.smtpPort, 2525);
    EXPECT_EQ(v.proxyType, 0);
    EXPECT_EQ(v.proxy, "gate.example");
    EXPECT_EQ(v.proxyPort, 3128);
    EXPECT_EQ(v.username, "joe");
    EXPECT_EQ(v.password, "pw 1");
    EXPECT_FALSE(v.inbox);
    EXPECT_FALSE(v.popup);
    EXPECT_TRUE(v.emptyTrash && v.saveCookie && v.saveSent);
    EXPECT_FALSE(v.bulk);
}

TEST(Win32OptionsDialogTest, CancelAndTheEscapeKeyLeaveTheValuesAlone) {
    SettingsValues start = defaults();
    start.proxy = "kept";
    for (int way = 0; way < 2; ++way) {
        RunningDialog d(start);
        ASSERT_NE(d.window(), nullptr) << way;
        d.type(D::Pop3Port, "1");
        d.type(D::ProxyServer, "changed");
        if (way == 0) {
            EXPECT_TRUE(d.finishWith(IDCANCEL)) << way;
        } else {
            // Escape in an edit field reaches the dialog manager as IDCANCEL.
            SetForegroundWindow(d.window());
            PostMessageA(d.item(D::SmtpPort), WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageA(d.item(D::SmtpPort), WM_KEYUP, VK_ESCAPE, 0);
            // If the keyboard path is not taken, end the dialog anyway.
            EXPECT_TRUE(waitUntil([&] { return d.finished(); }, 5000))
                << "Escape did not close the dialog";
        }
        EXPECT_FALSE(d.result()) << way;
        EXPECT_EQ(d.values(), start) << way;
    }
}

TEST(Win32OptionsDialogTest, ScreenshotHasTheTemplatesSize) {
    RunningDialog d(defaults());
    ASSERT_NE(d.window(), nullptr);
    SetForegroundWindow(d.window());
    RedrawWindow(d.window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);

    const ClientSize size = clientInDialogUnits(d.window(), 196, 290);
    EXPECT_EQ(size.actual.cx, size.expected.cx);
    EXPECT_EQ(size.actual.cy, size.expected.cy);

    // The dialog paints on its own thread and the display catches up later:
    // take pictures until two in a row agree and show more than a blank face.
    std::string path = screenshotPath("options-dialog.bmp");
    BmpInfo shot;
    std::string previous;
    waitUntil([&] {
        Sleep(100);
        shot = captureWindow(d.window(), path) ? readBmp(path) : BmpInfo();
        std::string now = fileBytes(path);
        bool stable = shot.valid && shot.distinctColours > 2 && now == previous;
        previous = now;
        return stable;
    });
    ASSERT_TRUE(shot.valid);
    EXPECT_EQ(shot.width, size.frame.cx);
    EXPECT_EQ(shot.height, size.frame.cy);
    // A drawn dialog has a face, text, borders and check marks.
    EXPECT_GT(shot.distinctColours, 2);
    EXPECT_TRUE(d.finishWith(IDCANCEL));
}

} // namespace
} // namespace quill
