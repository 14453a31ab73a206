// Soak run: many conversations in a row through the POP3 and SMTP services as
// the plug-in runs them (listener, session, web-mail client over loopback)
// against the site simulator in process. Each POP3 conversation signs in
// (adopting the saved session after the first), lists, retrieves a message
// and quits; every tenth conversation is also a send over SMTP.
//
// After the first hundred conversations it samples the open descriptors, the
// threads and the resident memory, and again at the end: descriptors and
// threads must not grow at all, resident memory by at most 8 MiB (allocator
// noise). Exit status 1 when one grew. Built in an AddressSanitizer tree
// (-DQUILL_BENCH=ON with the asan preset) the leak check runs at exit
// instead of the resident memory check: the sanitizer's quarantine holds
// freed memory on purpose, so resident memory grows there by design.
//
// The test command runs it as SoakTest with 300 conversations in every Linux
// tree, so the sanitizer trees check those for leaks and races.
//
// Usage: soak_bench [conversations]    (default 10000)

#include "codec/Base64.h"
#include "net/CBlockSocket.h"
#include "net/ServiceWindow.h"
#include "pop3/Pop3Server.h"
#include "site/SiteSimulator.h"
#include "smtp/SmtpServer.h"
#include "tests/support/FixedSettings.h"
#include "webmail/CookieJar.h"
#include "webmail/SocketStream.h"

#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using namespace quill;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCheckResident = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kCheckResident = false;
#else
constexpr bool kCheckResident = true;
#endif
#else
constexpr bool kCheckResident = true;
#endif

class QuietWindow : public ServiceWindow {
public:
    void setStatus(const std::string&) override {}
    void setDetail(const std::string&) override {}
    void hide() override {}
    void setPopup(bool) override {}
    bool popup() const override { return false; }
    void setCancelTarget(Session*) override {}
};

struct Sample {
    long descriptors = 0;
    long threads = 0;
    long residentKb = 0;
};

long statusField(const char* name) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(name) + ":";
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) == 0) {
            return std::atol(line.c_str() + key.size());
        }
    }
    return -1;
}

Sample sample() {
    Sample s;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) {
            ++s.descriptors;
        }
        closedir(dir);
    }
    s.threads = statusField("Threads");
    s.residentKb = statusField("VmRSS");
    return s;
}

// The end of a conversation is seen by the client before the service and
// the simulator have closed their side and the simulator's connection thread
// has ended, so the final sample is taken again, for up to two seconds, until
// it is back at the first one: only what stays counts as growth.
Sample settledSample(const Sample& first) {
    Sample s = sample();
    for (int tries = 0;
         tries < 100 && (s.descriptors > first.descriptors || s.threads > first.threads); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        s = sample();
    }
    return s;
}

class Client {
public:
    explicit Client(int port) : socket_(20, 20), stream_(socket_) {
        socket_.connect("127.0.0.1", port);
    }
    std::string line() { return stream_.readLine(); }
    std::string command(const std::string& text) {
        stream_.writeLine(text);
        stream_.flush();
        return line();
    }
    void expect(const std::string& text, const char* prefix) {
        const std::string reply = command(text);
        if (reply.compare(0, std::string(prefix).size(), prefix) != 0) {
            throw std::runtime_error(text + " -> " + reply);
        }
    }
    void readToDot() {
        while (line() != ".") {
        }
    }

private:
    CBlockSocket socket_;
    SocketStream stream_;
};

std::string b64(const std::string& text) {
    Base64Coder coder;
    coder.encode(text.data(), text.size());
    return std::string(coder.result(), coder.size());
}

void pop3Conversation(int port) {
    Client c(port);
    c.line();
    c.expect("USER ann", "+OK");
    c.expect("PASS secret", "+OK");
    c.expect("STAT", "+OK 1 ");
    c.expect("RETR 1", "+OK");
    c.readToDot();
    c.expect("QUIT", "+OK");
}

void smtpConversation(int port) {
    Client c(port);
    c.line();
    c.expect("AUTH LOGIN " + b64("ann"), "334");
    c.expect(b64("secret"), "235");
    c.expect("MAIL FROM:<ann@vurel.example>", "250");
    c.expect("RCPT TO:<bob@x.example>", "250");
    c.expect("DATA", "354");
    c.expect("To: bob@x.example\r\nSubject: soak\r\n\r\nbody\r\n.", "250");
    c.expect("QUIT", "221");
}

} // namespace

int main(int argc, char** argv) {
    const int total = argc > 1 ? std::atoi(argv[1]) : 10000;
    site::SiteConfig config;
    config.users = {{"ann", "secret"}};
    site::SiteSimulator sim(config);
    sim.site().addMessage("ann", "Inbox",
                          "Subject: one\r\n\r\n" + std::string(20000, 'x') + "\r\n");
    FixedSettings settings;
    settings.v.inbox = true;
    settings.v.pop3Port = 0;
    settings.v.smtpPort = 0;
    settings.v.proxyType = 1;
    settings.v.proxy = "127.0.0.1";
    settings.v.proxyPort = sim.start();
    QuietWindow pop3Window;
    QuietWindow smtpWindow;
    CookieJar jar;
    auto pop3 = makePop3Server(settings, pop3Window, jar);
    auto smtp = makeSmtpServer(settings, smtpWindow, jar);
    pop3->start();
    smtp->start();
    if (pop3->waitUntilReady() != ListenerService::State::Listening ||
        smtp->waitUntilReady() != ListenerService::State::Listening) {
        std::fprintf(stderr, "services did not start\n");
        return 2;
    }

    Sample first;
    int failed = 0;
    for (int i = 0; i < total; ++i) {
        try {
            pop3Conversation(pop3->boundPort());
            if (i % 10 == 0) {
                smtpConversation(smtp->boundPort());
            }
        } catch (const std::exception& e) {
            if (++failed <= 5) {
                std::fprintf(stderr, "conversation %d: %s\n", i, e.what());
            }
        }
        sim.site().clearRequests(); // the simulator's own log is not ours to count
        if (i + 1 == 100) {
            first = sample();
        }
    }
    const Sample last = settledSample(first);
    pop3->stop();
    smtp->stop();
    sim.stop();

    std::printf("conversations %d (+%d sends), failed %d\n", total, (total + 9) / 10, failed);
    std::printf("after 100: descriptors %ld threads %ld resident %ld KiB\n", first.descriptors,
                first.threads, first.residentKb);
    std::printf("at the end: descriptors %ld threads %ld resident %ld KiB\n", last.descriptors,
                last.threads, last.residentKb);
    const bool grew = last.descriptors > first.descriptors || last.threads > first.threads ||
                      (kCheckResident && last.residentKb > first.residentKb + 8192);
    std::printf("%s\n", grew ? "GREW" : "steady");
    return grew || failed > 0 ? 1 : 0;
}
