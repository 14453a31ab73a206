#pragma once
// The site simulator with one user ("ann", password "secret") and one service
// of the plug-in, POP3 or SMTP, that reaches it as its HTTP proxy, both on
// ephemeral loopback ports: the services end to end. The conversations report
// to a RecordingWindow (whose Cancel ends the one in flight), keep their
// sign-ins in a jar of their own, and write the diagnostic log to the fixture. The site faults
// below apply to the next matching request only, unless they say otherwise.
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

#include <chrono>
#include <cstddef>
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

namespace faults {

inline site::Fault once() {
    site::Fault f;
    f.times = 1;
    return f;
}
// No fault at all (for rows whose trouble lies elsewhere).
inline site::Fault none() {
    site::Fault f;
    f.times = 0;
    return f;
}
inline site::Fault status(int code) {
    site::Fault f = once();
    f.status = code;
    return f;
}
inline site::Fault cut(long bytes) {
    site::Fault f = once();
    f.closeAfterBytes = bytes;
    return f;
}
inline site::Fault malformed() {
    site::Fault f = once();
    f.malformed = true;
    return f;
}
// Every matching request redirects to itself.
inline site::Fault loop() {
    site::Fault f;
    f.redirectLoop = true;
    return f;
}
inline site::Fault stall(std::chrono::milliseconds delay) {
    site::Fault f = once();
    f.delay = delay;
    return f;
}
// A body that inflates 1 MiB past the fixture's bound.
inline site::Fault gzipBomb() {
    site::Fault f = once();
    f.gzipBombBytes = kFixtureInflatedBytes + (1u << 20);
    return f;
}
// Every listing page claims one more page.
inline site::Fault endlessListing() {
    site::Fault f;
    f.endlessCounter = true;
    return f;
}

} // namespace faults

class SiteService {
public:
    enum class Kind { Pop3, Smtp };

    // Starts the site, then the service, whose exchanges with the site time
    // out after webmailTimeoutMs. Throws std::runtime_error when the service
    // does not listen.
    explicit SiteService(Kind kind, int webmailTimeoutMs = 20000) : sim(annOnly()) {
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

    // Applies fault to the requests whose path begins with prefix, and forgets
    // the requests so far (cancelOnceReceived looks at those that follow).
    void arm(const std::string& prefix, const site::Fault& fault) {
        sim.site().clearRequests();
        sim.site().setFault(prefix, fault);
    }

    // The site stops (its port then refuses connections; what it holds is
    // kept), and starts again on a new port that the service is pointed at.
    void takeSiteDown() { sim.stop(); }
    void bringSiteBack() {
        if (!sim.running()) {
            const int port = sim.start();
            settings.change([port](SettingsValues& v) { v.proxyPort = port; });
        }
    }

    // Presses Cancel once the site has received a request (since arm) whose
    // path begins with prefix: that request is in flight, its answer held back
    // by a delay. False when none came within 20 s or nothing was running.
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

    site::SiteSimulator sim;
    FixedSettings settings;
    RecordingWindow window;
    CookieJar jar;
    std::unique_ptr<ListenerService> service;

private:
    static site::SiteConfig annOnly() {
        site::SiteConfig config;
        config.users = {{"ann", "secret"}};
        return config;
    }

    mutable std::mutex logMutex_;
    std::vector<std::string> log_;
};

} // namespace quill
