#pragma once
// The site simulator with one user ("ann", password "secret") and one service
// of the plug-in, POP3 or SMTP, that reaches it as its HTTP proxy, both on
// ephemeral loopback ports: the services end to end. The conversations report
// to a RecordingWindow (whose Cancel ends the one in flight), keep their
// sign-ins in a jar of their own, and write the diagnostic log to the
// fixture.
//
// Threads: made, used and destroyed on the test's thread; the service and the
// simulator run on their own.

#include "net/DiagnosticLog.h"
#include "pop3/Pop3Server.h"
#include "site/SiteSimulator.h"
#include "smtp/SmtpServer.h"
#include "webmail/CookieJar.h"

#include "support/FixedSettings.h"
#include "support/MailClient.h"
#include "support/RecordingWindow.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace quill {

// The web-mail bounds of the fixture's service, far below the client's own
// so that an endless listing or a gzip bomb ends within a second: a listing
// reads 50 pages at most, a gzip body inflates to 8 MiB at most.
constexpr int kFixtureListPages = 50;
constexpr std::size_t kFixtureInflatedBytes = 8u << 20;
// An exchange fails below 64 bytes/s over half the web-mail time-out, or
// after one and a half times it, so that a dripping site fails a row within
// two seconds.
constexpr std::size_t kFixtureLowSpeedBytes = 64;

namespace faults {

// A fault made by set, for the next matching request (times: how many of
// them; -1, all).
template <class Set> site::Fault make(Set set, int times = 1) {
    site::Fault f;
    f.times = times;
    set(f);
    return f;
}
// No fault at all (for rows whose trouble lies elsewhere).
inline site::Fault none() {
    return make([](site::Fault&) {}, 0);
}
inline site::Fault status(int code) {
    return make([=](site::Fault& f) { f.status = code; });
}
inline site::Fault cut(long bytes) {
    return make([=](site::Fault& f) { f.closeAfterBytes = bytes; });
}
inline site::Fault reset(long bytes) {
    return make([=](site::Fault& f) {
        f.closeAfterBytes = bytes;
        f.reset = true;
    });
}
inline site::Fault malformed() {
    return make([](site::Fault& f) { f.malformed = true; });
}
inline site::Fault stall(std::chrono::milliseconds delay) {
    return make([=](site::Fault& f) { f.delay = delay; });
}
// A body that inflates 1 MiB past the fixture's bound.
inline site::Fault gzipBomb() {
    return make([](site::Fault& f) { f.gzipBombBytes = kFixtureInflatedBytes + (1u << 20); });
}
// A gzip body cut in half (no Content-Length), or one with a wrong CRC-32.
inline site::Fault gzipDamage(site::Fault::GzipDamage damage) {
    return make([=](site::Fault& f) { f.gzipDamage = damage; });
}
// The answer a byte every 100 ms: too slow, though never silent long enough
// for the receive time-out.
inline site::Fault drip() {
    return make([](site::Fault& f) { f.dripEvery = std::chrono::milliseconds(100); });
}
// The answer 16 bytes every 50 ms: fast enough, but it outlasts the exchange
// time.
inline site::Fault longDrip() {
    return make([](site::Fault& f) {
        f.dripEvery = std::chrono::milliseconds(50);
        f.dripBytes = 16;
    });
}
// Every matching request redirects to itself.
inline site::Fault loop() {
    return make([](site::Fault& f) { f.redirectLoop = true; }, -1);
}
// Every listing page claims one more page.
inline site::Fault endlessListing() {
    return make([](site::Fault& f) { f.endlessCounter = true; }, -1);
}

} // namespace faults

// The test name of a table row: its name with '_' for all but letters and digits.
template <class Row> std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name;
    for (const char* c = info.param.name; *c; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    }
    return name;
}

class SiteService {
public:
    enum class Kind { Pop3, Smtp };

    // Starts the site, then the service, whose exchanges with the site time
    // out after webmailTimeoutMs (and fail by the fixture's exchange limits). Throws
    // std::runtime_error when the service does not listen.
    // configure, when given, adjusts the site's configuration before it starts.
    explicit SiteService(Kind kind, int webmailTimeoutMs = 20000,
                         const std::function<void(site::SiteConfig&)>& configure = nullptr)
        : sim(annOnly(configure)) {
        DiagnosticLog::instance().openSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            log_.push_back(line);
        });
        settings.v.pop3Port = 0; // any free port
        settings.v.smtpPort = 0;
        settings.v.inbox = true;
        settings.v.saveSent = true;
        settings.v.proxyType = 1;
        settings.v.proxy = "127.0.0.1";
        settings.v.proxyPort = sim.start();
        ListenerService::Options options;
        options.receiveTimeoutMs = 20000;
        options.sendTimeoutMs = 20000;
        options.webmail.timeoutMs = webmailTimeoutMs;
        options.webmail.listPages = kFixtureListPages;
        options.webmail.inflatedBytes = kFixtureInflatedBytes;
        options.webmail.lowSpeedBytesPerSecond = kFixtureLowSpeedBytes;
        options.webmail.lowSpeedMs = webmailTimeoutMs / 2;
        options.webmail.exchangeMs = webmailTimeoutMs * 3 / 2;
        if (kind == Kind::Pop3) {
            service = makePop3Server(settings, window, jar, options);
        } else {
            service = makeSmtpServer(settings, window, jar, options);
        }
        service->start();
        if (service->waitUntilReady() != ListenerService::State::Listening) {
            throw std::runtime_error("the service does not listen");
        }
    }
    ~SiteService() {
        service->stop();
        sim.stop();
        DiagnosticLog::instance().close();
    }
    SiteService(const SiteService&) = delete;
    SiteService& operator=(const SiteService&) = delete;

    std::unique_ptr<MailClient> connect() const {
        return std::make_unique<MailClient>(service->boundPort());
    }

    // Besides a fault: nothing, the site down (it stops; its port then refuses
    // connections), Cancel pressed while the faulty request is in flight (the
    // site holds it, its answer delayed), or Cancel pressed as the request's
    // URL is shown, before it goes out.
    enum class Twist { None, SiteDown, Cancel, CancelAsSent };

    // Applies fault to the requests whose path begins with prefix, with its
    // twist, and returns what ask (the mail client's command) got, or
    // "Cancel not pressed" when a Cancel found no request to cancel.
    template <class Ask>
    std::string underFault(const std::string& prefix, const site::Fault& fault, Twist twist,
                           Ask ask) {
        sim.site().clearRequests();
        sim.site().setFault(prefix, fault);
        if (twist == Twist::SiteDown) {
            sim.stop();
        } else if (twist == Twist::CancelAsSent) {
            window.cancelOnDetail(prefix);
        }
        std::future<bool> pressed;
        if (twist == Twist::Cancel) {
            pressed = std::async(std::launch::async, [&] { return cancelOnceReceived(prefix); });
        }
        const std::string reply = ask();
        return pressed.valid() && !pressed.get() ? "Cancel not pressed" : reply;
    }
    // Ends the fault and its twist: a stopped site starts again on a new port
    // that the service is pointed at, keeping what it holds.
    void endFault() {
        sim.site().clearFaults();
        window.cancelOnDetail("");
        if (!sim.running()) {
            const int port = sim.start();
            settings.change([port](SettingsValues& v) { v.proxyPort = port; });
        }
    }

    // True when a line of the diagnostic log holds text.
    bool logged(const std::string& text) const {
        std::lock_guard<std::mutex> lock(logMutex_);
        for (const std::string& line : log_) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    // True when a line of the log names parameter (".crumb=", "YY=") with a
    // value of its own, not the ellipsis that stands for it: a token given away.
    bool loggedValueOf(const std::string& parameter) const {
        std::lock_guard<std::mutex> lock(logMutex_);
        for (const std::string& line : log_) {
            for (std::size_t at = line.find(parameter); at != std::string::npos;
                 at = line.find(parameter, at + 1)) {
                if (line.compare(at + parameter.size(), 3, "\xE2\x80\xA6") != 0) {
                    return true;
                }
            }
        }
        return false;
    }

    site::SiteSimulator sim;
    FixedSettings settings;
    RecordingWindow window;
    CookieJar jar;
    std::unique_ptr<ListenerService> service;

private:
    // Presses Cancel once the site has received a request (since the fault
    // was set) whose path begins with prefix. False when none came within
    // 20 s or no conversation was running.
    bool cancelOnceReceived(const std::string& prefix) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (std::size_t n = 1;; ++n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (!sim.site().waitForRequests(n, left)) {
                return false;
            }
            if (sim.site().requests()[n - 1].path.compare(0, prefix.size(), prefix) == 0) {
                return window.cancel();
            }
        }
    }

    static site::SiteConfig annOnly(const std::function<void(site::SiteConfig&)>& configure) {
        site::SiteConfig config;
        config.users = {{"ann", "secret"}};
        if (configure) {
            configure(config);
        }
        return config;
    }

    mutable std::mutex logMutex_;
    std::vector<std::string> log_;
};

} // namespace quill
