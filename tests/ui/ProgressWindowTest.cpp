#include "ui/ProgressWindow.h"

#include "net/Session.h"
#include "support/Gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quill {
namespace {

// Records every back-end call as one text, in order.
class RecordingBackEnd : public WindowBackEnd {
public:
    void show() override { add("show"); }
    void hide() override { add("hide"); }
    void setCaption(const std::string& text) override { add("caption " + text); }
    void setDetail(const std::string& text) override { add("detail " + text); }

    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        out.swap(calls_);
        return out;
    }

private:
    void add(std::string call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

class CountingSession : public Session {
public:
    void run() override {}
    void abort() noexcept override { ++aborts; }
    std::atomic<int> aborts{0};
};

using Calls = std::vector<std::string>;

struct ProgressWindowTest : ::testing::Test {
    ProgressWindowTest() {
        window.attach(backEnd);
        backEnd->take();
    }
    std::shared_ptr<RecordingBackEnd> backEnd = std::make_shared<RecordingBackEnd>();
    ProgressWindow window{"POP3"};
};

TEST_F(ProgressWindowTest, PopupOffNeverShowsButKeepsTextsCurrent) {
    window.setPopup(false);
    window.setStatus("Logging to Vurel server ...");
    window.setDetail("http://mail.vurel.example/");
    window.setStatus("Fetching messages from Inbox ...");
    window.hide();
    window.cancel();
    EXPECT_FALSE(window.shown());
    EXPECT_EQ(window.caption(), "Fetching messages from Inbox ...");
    EXPECT_EQ(window.detail(), "http://mail.vurel.example/");
    EXPECT_EQ(backEnd->take(),
              (Calls{"caption Logging to Vurel server ...", "detail http://mail.vurel.example/",
                     "caption Fetching messages from Inbox ..."}));
}

TEST_F(ProgressWindowTest, PopupOnShowsAtFirstStatusOnlyAndHidesAtEnd) {
    for (int conversation = 0; conversation < 2; ++conversation) {
        window.setPopup(true);
        window.setStatus("one");
        window.setStatus("two");
        EXPECT_TRUE(window.shown()) << conversation;
        window.hide();
        window.hide();
        EXPECT_FALSE(window.shown()) << conversation;
        EXPECT_EQ(backEnd->take(), (Calls{"show", "caption one", "caption two", "hide"}))
            << conversation;
    }
}

TEST_F(ProgressWindowTest, PopupSwitchedOffMidConversationKeepsWindowDownUntilSwitchedOn) {
    // The order a POP3 conversation uses: empty STAT hides and blocks the
    // window, QUIT allows it again for the deletion.
    window.setPopup(true);
    window.setStatus("Fetching messages from Inbox ...");
    window.hide();
    window.setPopup(false);
    window.setStatus("Retrieving mail header ...");
    EXPECT_FALSE(window.shown());
    window.setPopup(true);
    window.setStatus("Deleting mail ...");
    EXPECT_TRUE(window.shown());
    EXPECT_EQ(backEnd->take(),
              (Calls{"show", "caption Fetching messages from Inbox ...", "hide",
                     "caption Retrieving mail header ...", "show", "caption Deleting mail ..."}));
}

TEST_F(ProgressWindowTest, HideWithPopupOffLeavesAShownWindowUp) {
    window.setPopup(true);
    window.setStatus("a");
    window.setPopup(false);
    window.hide();
    EXPECT_TRUE(window.shown());
    EXPECT_EQ(backEnd->take(), (Calls{"show", "caption a"}));
}

TEST_F(ProgressWindowTest, CancelWithoutConversationOnlyHides) {
    window.setPopup(true);
    window.cancel();
    EXPECT_EQ(backEnd->take(), Calls{});
    window.setStatus("a");
    window.cancel();
    EXPECT_FALSE(window.shown());
    EXPECT_EQ(backEnd->take(), (Calls{"show", "caption a", "hide"}));
}

TEST_F(ProgressWindowTest, CancelAbortsTheTargetOnceAndHides) {
    CountingSession session;
    window.setCancelTarget(&session);
    EXPECT_EQ(window.cancelTarget(), &session);
    window.setPopup(true);
    window.setStatus("a");
    window.cancel();
    EXPECT_EQ(session.aborts.load(), 1);
    EXPECT_FALSE(window.shown());
    window.setCancelTarget(nullptr);
    window.cancel();
    EXPECT_EQ(session.aborts.load(), 1);
    // The window serves the next conversation as before.
    window.setStatus("b");
    EXPECT_TRUE(window.shown());
}

TEST_F(ProgressWindowTest, ClearingTheTargetWaitsForAnAbortInProgress) {
    class SlowSession : public Session {
    public:
        void run() override {}
        void abort() noexcept override {
            gate.enterAndWait();
            finished = true;
        }
        Gate gate;
        std::atomic<bool> finished{false};
    } session;
    window.setCancelTarget(&session);
    std::thread ui([&] { window.cancel(); });
    EXPECT_TRUE(session.gate.waitEntered());
    std::atomic<bool> finishedWhenCleared{false};
    std::thread service([&] {
        window.setCancelTarget(nullptr);
        finishedWhenCleared = session.finished.load();
    });
    session.gate.release();
    service.join();
    ui.join();
    EXPECT_TRUE(finishedWhenCleared.load());
}

TEST_F(ProgressWindowTest, ServiceAndUserInterfaceThreadsMayRace) {
    CountingSession session;
    window.setCancelTarget(&session);
    window.setPopup(true);
    std::thread service([&] {
        for (int i = 0; i < 2000; ++i) {
            window.setStatus("s");
            window.setDetail("d");
            window.setPopup(i % 3 != 0);
            window.hide();
        }
    });
    for (int i = 0; i < 2000; ++i) {
        window.cancel();
        (void)window.shown();
        (void)window.caption();
    }
    service.join();
    window.setCancelTarget(nullptr);
    EXPECT_EQ(session.aborts.load(), 2000);
    // Every show is matched by at most one hide, in order.
    int up = 0;
    for (const std::string& call : backEnd->take()) {
        if (call == "show") {
            ASSERT_EQ(up, 0);
            up = 1;
        } else if (call == "hide") {
            ASSERT_EQ(up, 1);
            up = 0;
        }
    }
}

TEST_F(ProgressWindowTest, AttachBringsTheNewBackEndUpToDateAndDetachStopsCalls) {
    window.setPopup(true);
    window.setStatus("Sending mail ...");
    window.setDetail("http://m/vm/Compose");
    window.attach(nullptr);
    window.setStatus("ignored by the old back-end");
    EXPECT_EQ(backEnd->take(),
              (Calls{"show", "caption Sending mail ...", "detail http://m/vm/Compose"}));
    auto fresh = std::make_shared<RecordingBackEnd>();
    window.attach(fresh);
    EXPECT_EQ(fresh->take(),
              (Calls{"caption ignored by the old back-end", "detail http://m/vm/Compose", "show"}));
}

TEST_F(ProgressWindowTest, WithoutBackEndOperationsOnlyKeepState) {
    ProgressWindow bare("SMTP");
    bare.setPopup(true);
    bare.setStatus("x");
    bare.setDetail("y");
    EXPECT_TRUE(bare.shown());
    bare.cancel();
    EXPECT_FALSE(bare.shown());
    EXPECT_EQ(bare.caption(), "x");
    EXPECT_EQ(bare.detail(), "y");
}

TEST(ProgressWindowAccessors, OneWindowPerServiceForTheWholeProcess) {
    ProgressWindow* pop3 = nullptr;
    ProgressWindow* smtp = nullptr;
    std::thread a([&] { pop3 = &pop3Progress(); });
    std::thread b([&] { smtp = &smtpProgress(); });
    a.join();
    b.join();
    EXPECT_EQ(pop3, &pop3Progress());
    EXPECT_EQ(smtp, &smtpProgress());
    EXPECT_NE(pop3, smtp);
    EXPECT_EQ(pop3->name(), "POP3");
    EXPECT_EQ(smtp->name(), "SMTP");
    EXPECT_FALSE(pop3->popup());
    EXPECT_FALSE(pop3->shown());
    EXPECT_EQ(pop3->cancelTarget(), nullptr);
}

} // namespace
} // namespace quill
