// The progress windows as real Win32 dialogs: the test's main thread is the
// user-interface thread that owns them and pumps their messages; service
// threads report to them as a conversation would.
#include "ui/win32/Win32ProgressWindow.h"

#include "net/Session.h"
#include "ui/ProgressWindow.h"
#include "ui/ProgressWindows.h"
#include "ui/win32/UiTestSupport.h"
#include "ui/win32/resource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace quill {
namespace {

using namespace uitest;

class CountingSession : public Session {
public:
    void run() override {}
    void abort() noexcept override { ++aborts; }
    std::atomic<int> aborts{0};
};

// A ProgressWindow with its own Win32 dialog, as BKC_OnMenuInit makes them.
struct Fixture {
    Fixture() : logic("POP3"), window(Win32ProgressWindow::create(logic)) {
        if (window)
            logic.attach(window);
    }
    ~Fixture() {
        logic.attach(nullptr);
        if (window)
            window->destroy();
    }
    HWND hwnd() const { return window ? window->handle() : nullptr; }
    bool visible() const { return IsWindowVisible(hwnd()) != FALSE; }
    // Runs `report` on a service thread and waits for it to return without
    // pumping: the service side must never wait for the window thread.
    template <class F> void fromServiceThread(F report) {
        std::thread service(report);
        service.join();
    }

    ProgressWindow logic;
    std::shared_ptr<Win32ProgressWindow> window;
};

TEST(Win32ProgressWindowTest, IsCreatedHiddenFromTheTemplateWithIconAndClip) {
    Fixture f;
    ASSERT_NE(f.hwnd(), nullptr);
    EXPECT_FALSE(f.visible());
    EXPECT_EQ(GetParent(f.hwnd()), nullptr); // a top-level window on the desktop
    LONG style = GetWindowLongA(f.hwnd(), GWL_STYLE);
    EXPECT_NE(style & WS_SYSMENU, 0);
    EXPECT_NE(style & WS_MINIMIZEBOX, 0);
    EXPECT_EQ(windowText(f.hwnd()), "");
    EXPECT_EQ(itemText(f.hwnd(), IDCANCEL), "&Cancel");
    EXPECT_NE(SendMessageA(f.hwnd(), WM_GETICON, ICON_BIG, 0), 0);
    // Without ACS_CENTER the animation control takes the size of the clip it
    // opened (80 x 32 pixels): proof that clip 3007 was found and read.
    RECT clip;
    GetWindowRect(GetDlgItem(f.hwnd(), IDC_PROGRESS_ANIMATION), &clip);
    EXPECT_EQ(clip.right - clip.left, 80);
    EXPECT_EQ(clip.bottom - clip.top, 32);
}

TEST(Win32ProgressWindowTest, StatusPopsUpAndBothTextsFollow) {
    Fixture f;
    ASSERT_NE(f.hwnd(), nullptr);
    f.fromServiceThread([&] {
        f.logic.setPopup(true);
        f.logic.setStatus("Logging to Vurel server ...");
        f.logic.setDetail("http://login.vurel.example/config/login");
    });
    EXPECT_TRUE(pumpUntil([&] {
        return f.visible() && windowText(f.hwnd()) == "Logging to Vurel server ..." &&
               itemText(f.hwnd(), IDC_PROGRESS_DETAIL) == "http://login.vurel.example/config/login";
    }));
    f.fromServiceThread([&] { f.logic.setStatus("Fetching messages from Inbox ..."); });
    EXPECT_TRUE(
        pumpUntil([&] { return windowText(f.hwnd()) == "Fetching messages from Inbox ..."; }));
    f.fromServiceThread([&] { f.logic.hide(); });
    EXPECT_TRUE(pumpUntil([&] { return !f.visible(); }));
    EXPECT_TRUE(IsWindow(f.hwnd()));
}

TEST(Win32ProgressWindowTest, WithPopupOffTheTextsChangeButTheWindowStaysDown) {
    Fixture f;
    ASSERT_NE(f.hwnd(), nullptr);
    f.fromServiceThread([&] {
        f.logic.setPopup(false);
        f.logic.setStatus("Sending mail ...");
        f.logic.setDetail("http://mail.vurel.example/compose");
    });
    EXPECT_TRUE(pumpUntil([&] {
        return windowText(f.hwnd()) == "Sending mail ..." &&
               itemText(f.hwnd(), IDC_PROGRESS_DETAIL) == "http://mail.vurel.example/compose";
    }));
    EXPECT_FALSE(f.visible());
}

TEST(Win32ProgressWindowTest, ManyReportsWhileTheWindowThreadIsBusyArriveInOrder) {
    Fixture f;
    ASSERT_NE(f.hwnd(), nullptr);
    // The window thread does not pump while the service thread reports: a
    // report that waited for it would hang here.
    f.fromServiceThread([&] {
        f.logic.setPopup(true);
        for (int i = 0; i < 500; ++i) {
            f.logic.setStatus("step " + std::to_string(i));
            f.logic.setDetail("http://h/" + std::to_string(i));
            if (i == 250)
                f.logic.hide();
        }
    });
    // hide() at 250, and the next status popped it up again.
    EXPECT_TRUE(pumpUntil([&] {
        return f.visible() && windowText(f.hwnd()) == "step 499" &&
               itemText(f.hwnd(), IDC_PROGRESS_DETAIL) == "http://h/499";
    }));
}

TEST(Win32ProgressWindowTest, CancelEscapeAndTheCloseBoxAbortAndHideButNeverDestroy) {
    Fixture f;
    ASSERT_NE(f.hwnd(), nullptr);
    CountingSession session;
    f.logic.setCancelTarget(&session);
    HWND cancel = GetDlgItem(f.hwnd(), IDCANCEL);

    // Installs the keyboard hook on this thread, as the plug-in does.
    auto popUp = [&] {
        f.fromServiceThread([&] {
            f.logic.setPopup(true);
            f.logic.setStatus("Fetching messages from Inbox ...");
        });
        return pumpUntil([&] { return f.visible(); });
    };
    struct Way {
        const char* name;
        std::function<void()> press;
    } ways[] = {
        {"button", [&] { SendMessageA(cancel, BM_CLICK, 0, 0); }},
        {"close box", [&] { SendMessageA(f.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"dialog message", [&] { SendMessageA(f.hwnd(), WM_COMMAND, IDCANCEL, 0); }},
    };
    int expectedAborts = 0;
    for (const Way& way : ways) {
        ASSERT_TRUE(popUp()) << way.name;
        way.press();
        ++expectedAborts;
        EXPECT_TRUE(pumpUntil([&] { return !f.visible(); })) << way.name;
        EXPECT_EQ(session.aborts.load(), expectedAborts) << way.name;
        EXPECT_TRUE(IsWindow(f.hwnd())) << way.name;
        EXPECT_FALSE(f.logic.shown()) << way.name;
    }
    // With no conversation, Cancel calls nothing and only hides.
    f.logic.setCancelTarget(nullptr);
    ASSERT_TRUE(popUp());
    SendMessageA(cancel, BM_CLICK, 0, 0);
    EXPECT_TRUE(pumpUntil([&] { return !f.visible(); }));
    EXPECT_EQ(session.aborts.load(), expectedAborts);
}

TEST(Win32ProgressWindowTest, ScreenshotOfThePoppedUpWindowHasTheTemplatesSize) {
    Fixture f;
    ASSERT_NE(f.hwnd(), nullptr);
    f.fromServiceThread([&] {
        f.logic.setPopup(true);
        f.logic.setStatus("Retrieving mail body ...");
        f.logic.setDetail("http://mail.vurel.example/print?id=1");
    });
    ASSERT_TRUE(pumpUntil([&] { return f.visible(); }));
    RedrawWindow(f.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    pumpUntil([] { return false; }, 200); // let the animation draw a frame or two

    const ClientSize size = clientInDialogUnits(f.hwnd(), 250, 86);
    EXPECT_EQ(size.actual.cx, size.expected.cx);
    EXPECT_EQ(size.actual.cy, size.expected.cy);

    std::string path = screenshotPath("progress-window.bmp");
    ASSERT_TRUE(captureWindow(f.hwnd(), path));
    BmpInfo shot = readBmp(path);
    ASSERT_TRUE(shot.valid);
    EXPECT_EQ(shot.width, size.frame.cx);
    EXPECT_EQ(shot.height, size.frame.cy);
    EXPECT_GT(shot.distinctColours, 2);
}

TEST(Win32ProgressWindowTest, TheProcessWindowsOpenOncePerPairAndCloseMidConversation) {
    DWORD self = GetCurrentThreadId();
    int before = countDialogs(self);
    ASSERT_TRUE(ProgressWindows::open());
    EXPECT_TRUE(ProgressWindows::isOpen());
    ASSERT_TRUE(ProgressWindows::open()); // a second menu initialisation
    EXPECT_EQ(countDialogs(self), before + 2);

    // Escape reaches a modeless dialog through the thread's message hook,
    // whatever the host's message loop does.
    CountingSession session;
    pop3Progress().setCancelTarget(&session);
    pop3Progress().setPopup(true);
    pop3Progress().setStatus("Deleting mail ...");
    HWND pop3 = nullptr;
    ASSERT_TRUE(pumpUntil([&] {
        pop3 = FindWindowA("#32770", "Deleting mail ...");
        return pop3 && IsWindowVisible(pop3);
    }));
    PostMessageA(GetDlgItem(pop3, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(pumpUntil([&] { return session.aborts.load() == 1 && !IsWindowVisible(pop3); }));
    pop3Progress().setCancelTarget(nullptr);

    // The SMTP window, found by a caption of its own (the windows and their
    // texts outlive a test, so an earlier repetition's texts are cleared).
    smtpProgress().setPopup(false);
    smtpProgress().setStatus("Connecting for SMTP ...");
    smtpProgress().setDetail("");
    HWND smtp = nullptr;
    ASSERT_TRUE(pumpUntil([&] {
        smtp = FindWindowA("#32770", "Connecting for SMTP ...");
        return smtp && itemText(smtp, IDC_PROGRESS_DETAIL).empty();
    }));

    // A service thread goes on reporting while the windows are torn down.
    std::atomic<bool> stop{false};
    std::atomic<int> reports{0};
    std::thread service([&] {
        for (int i = 0; !stop; ++i) {
            smtpProgress().setPopup(true);
            smtpProgress().setStatus("Sending mail ...");
            smtpProgress().setDetail("http://h/" + std::to_string(i));
            smtpProgress().hide();
            ++reports;
        }
    });
    // Tear down only once the reports reach the window.
    EXPECT_TRUE(pumpUntil(
        [&] { return itemText(smtp, IDC_PROGRESS_DETAIL).compare(0, 9, "http://h/") == 0; }));
    ProgressWindows::close();
    EXPECT_FALSE(ProgressWindows::isOpen());
    EXPECT_FALSE(IsWindow(pop3));
    EXPECT_FALSE(IsWindow(smtp));
    // The service thread reports on to no window, while this thread handles
    // whatever the torn-down windows still had queued.
    int atClose = reports.load();
    EXPECT_TRUE(pumpUntil([&] { return reports.load() >= atClose + 100; }));
    stop = true;
    service.join();
    EXPECT_EQ(countDialogs(self), before);
    EXPECT_EQ(smtpProgress().caption(), "Sending mail ..."); // the texts are still kept
    ProgressWindows::close();                                // closing twice is harmless
}

} // namespace
} // namespace quill
