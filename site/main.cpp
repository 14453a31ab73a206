// vurel-sim: the Vurel web-mail site simulator as a program, for end-to-end
// tests and the demo. Run with --help for the options.

#include "platform/AtomicFile.h"
#include "site/SiteSimulator.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using quill::site::SiteConfig;
using quill::site::SiteSimulator;

namespace {

// Set by SIGINT or SIGTERM; the main thread looks at it between short sleeps
// (a handler may do no more than set such a flag).
volatile std::sig_atomic_t stopRequested = 0;

extern "C" void onStopSignal(int) {
    stopRequested = 1;
}

const char kUsage[] =
    "usage: vurel-sim [options]\n"
    "  --listen ADDRESS:PORT   loopback address and port to listen on (default 127.0.0.1:8080;\n"
    "                          port 0 picks a free one)\n"
    "  --user NAME:PASSWORD    a user who may sign in (repeatable)\n"
    "  --mailbox DIR           load the last --user's mail: *.eml files or a Maildir as the\n"
    "                          Inbox, or subdirectories Inbox/, Sent/, Trash/\n"
    "  --page-size N           listing rows per page (default 25)\n"
    "  --redirects N           redirect hops after the login POST (default 2)\n"
    "  --gzip                  gzip answers to clients that accept it\n"
    "  --gzip-members N        ... split into N gzip members (implies --gzip)\n"
    "  --proxy-auth USER:PASS  require this Proxy-authorization on proxy requests\n"
    "  --session-ttl SECONDS   lifetime of a signed-in session (default 43200)\n"
    "  --front-host NAME       host of the front page (default mail.vurel.example)\n"
    "  --login-host NAME       host of the login page (default login.vurel.example)\n"
    "  --mail-host NAME        host the sign-in ends on (default us.mail.vurel.example)\n"
    "  --domain NAME           mail domain of the signed-in title (default vurel.example)\n"
    "  --deliver-local         mail sent to USER@DOMAIN of a --user lands in that Inbox\n"
    "  --direct                front, login and mail host are the listen address (for clients\n"
    "                          that connect to port 80 of it themselves)\n"
    "  --seed N                fixed seed for challenges, cookies and tokens\n"
    "  --port-file FILE        write the port listened on to FILE once listening\n"
    "  --delay PATH:MS[:TIMES] answer requests for paths starting with PATH only after MS\n"
    "                          milliseconds (the first TIMES of them; default all)\n"
    "  --tls                   serve HTTPS: the site's URLs become https://, a connection that\n"
    "                          opens with a TLS handshake gets TLS, and CONNECT to one of the\n"
    "                          site's hosts is answered and served over TLS (native build only)\n"
    "  --ca-file FILE          with --tls: write the test CA that signed the made certificate\n"
    "                          to FILE (PEM), for clients to trust (SSL_CERT_FILE=FILE)\n"
    "  --cert CERT KEY         with --tls: serve this certificate chain and key (PEM) instead\n"
    "                          of made ones (of the faults only tls1.0 goes with it)\n"
    "  --tls-fault KIND        with --tls: other-ca, expired, wrong-name or tls1.0 (a server that\n"
    "                          speaks TLS 1.0 only)\n"
    "  --log                   print one line per request\n"
    "  --help                  this text\n";

std::pair<std::string, std::string> splitPair(const std::string& text, const char* option) {
    std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) {
        throw std::runtime_error(std::string(option) + " wants NAME:VALUE, got '" + text + "'");
    }
    return {text.substr(0, colon), text.substr(colon + 1)};
}

long number(const std::string& text, const char* option, long low, long high) {
    std::size_t used = 0;
    long v = 0;
    try {
        v = std::stol(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || v < low || v > high) {
        throw std::runtime_error(std::string(option) + " wants a number from " +
                                 std::to_string(low) + " to " + std::to_string(high) + ", got '" +
                                 text + "'");
    }
    return v;
}

} // namespace

int main(int argc, char** argv) {
    SiteConfig config;
    config.listenPort = 8080;
    std::vector<std::pair<std::string, std::string>> mailboxes;     // user, directory
    std::vector<std::pair<std::string, quill::site::Fault>> delays; // path prefix, delay
    std::string portFile;
    bool direct = false;
    bool log = false;
    bool tls = false;
    quill::site::TlsService::Options tlsOptions;
    try {
        std::vector<std::string> args(argv + 1, argv + argc);
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= args.size()) {
                    throw std::runtime_error(a + " needs a value");
                }
                return args[++i];
            };
            if (a == "--help" || a == "-h") {
                std::cout << kUsage;
                return 0;
            } else if (a == "--listen") {
                std::string v = value();
                std::size_t colon = v.rfind(':');
                if (colon == std::string::npos) {
                    throw std::runtime_error("--listen wants ADDRESS:PORT");
                }
                config.listenAddress = v.substr(0, colon);
                config.listenPort =
                    static_cast<int>(number(v.substr(colon + 1), "--listen port", 0, 65535));
            } else if (a == "--user") {
                auto p = splitPair(value(), "--user");
                config.users.push_back({p.first, p.second});
            } else if (a == "--mailbox") {
                if (config.users.empty()) {
                    throw std::runtime_error("--mailbox must follow the --user it belongs to");
                }
                mailboxes.emplace_back(config.users.back().name, value());
            } else if (a == "--page-size") {
                config.pageSize = static_cast<int>(number(value(), "--page-size", 1, 100000));
            } else if (a == "--redirects") {
                config.redirects = static_cast<int>(number(value(), "--redirects", 0, 100));
            } else if (a == "--gzip") {
                config.gzipMembers = std::max(config.gzipMembers, 1);
            } else if (a == "--gzip-members") {
                config.gzipMembers = static_cast<int>(number(value(), "--gzip-members", 1, 64));
            } else if (a == "--proxy-auth") {
                auto p = splitPair(value(), "--proxy-auth");
                config.proxyUser = p.first;
                config.proxyPassword = p.second;
            } else if (a == "--session-ttl") {
                config.sessionTtlSeconds = number(value(), "--session-ttl", 1, 3650L * 86400);
            } else if (a == "--front-host") {
                config.frontHost = value();
            } else if (a == "--login-host") {
                config.loginHost = value();
            } else if (a == "--mail-host") {
                config.mailHost = value();
            } else if (a == "--domain") {
                config.mailDomain = value();
            } else if (a == "--deliver-local") {
                config.deliverLocally = true;
            } else if (a == "--direct") {
                direct = true;
            } else if (a == "--seed") {
                config.seed = static_cast<std::uint64_t>(number(value(), "--seed", 1, 0x7fffffffL));
            } else if (a == "--port-file") {
                portFile = value();
            } else if (a == "--delay") {
                auto p = splitPair(value(), "--delay");
                std::string ms = p.second, times = "-1";
                if (std::size_t colon = ms.find(':'); colon != std::string::npos) {
                    times = ms.substr(colon + 1);
                    ms = ms.substr(0, colon);
                }
                quill::site::Fault fault;
                fault.delay = std::chrono::milliseconds(number(ms, "--delay", 0, 600000));
                fault.times = static_cast<int>(number(times, "--delay", -1, 1000000));
                delays.emplace_back(p.first, fault);
            } else if (a == "--log") {
                log = true;
            } else if (a == "--tls") {
                tls = true;
            } else if (a == "--ca-file") {
                tlsOptions.authorityFile = value();
            } else if (a == "--cert") {
                tlsOptions.certificateFile = value();
                tlsOptions.keyFile = value();
            } else if (a == "--tls-fault") {
                using Fault = quill::site::TlsService::Fault;
                const std::string kind = value();
                const std::pair<const char*, Fault> kinds[] = {{"other-ca", Fault::OtherAuthority},
                                                               {"expired", Fault::Expired},
                                                               {"wrong-name", Fault::WrongName},
                                                               {"tls1.0", Fault::Tls10Only}};
                auto found = std::find_if(std::begin(kinds), std::end(kinds),
                                          [&](const auto& k) { return kind == k.first; });
                if (found == std::end(kinds)) {
                    throw std::runtime_error("--tls-fault wants other-ca, expired, wrong-name or "
                                             "tls1.0, got '" +
                                             kind + "'");
                }
                tlsOptions.fault = found->second;
            } else {
                throw std::runtime_error("unknown option " + a + " (see --help)");
            }
        }
        if (config.users.empty()) {
            throw std::runtime_error("no --user given: nobody could sign in");
        }
        if (direct) {
            config.frontHost = config.loginHost = config.mailHost = config.listenAddress;
        }
        if (tls) {
            if (!quill::site::TlsService::available()) {
                throw std::runtime_error("--tls: this build of the simulator has no TLS");
            }
            config.scheme = "https";
            tlsOptions.names = {config.frontHost, config.loginHost, config.mailHost,
                                config.listenAddress};
        }
    } catch (const std::exception& e) {
        std::cerr << "vurel-sim: " << e.what() << "\n";
        return 2;
    }

    static std::mutex outputLock; // log lines come from connection threads
    if (log) {
        config.log = [](const std::string& line) {
            std::lock_guard<std::mutex> guard(outputLock);
            std::cout << line << std::endl;
        };
    }

    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    try {
        SiteSimulator sim(config);
        if (tls) {
            sim.setTls(quill::site::TlsService::create(tlsOptions));
        }
        for (const auto& m : mailboxes) {
            int n = sim.site().loadMailbox(m.first, m.second);
            std::cout << "vurel-sim: " << n << " messages for " << m.first << " from " << m.second
                      << "\n";
        }
        for (const auto& d : delays) {
            sim.site().setFault(d.first, d.second);
        }
        int port = sim.start();
        {
            std::lock_guard<std::mutex> guard(outputLock);
            std::cout << "vurel-sim: listening on " << config.listenAddress << ":" << port << "\n"
                      << "front page: " << sim.frontPageUrl() << "\n"
                      << "login page: " << sim.loginPageUrl() << "\n"
                      << "mail host:  " << config.mailHost << "\n"
                      << (tls ? "TLS:        " +
                                    (tlsOptions.authorityFile.empty()
                                         ? std::string("on")
                                         : "test CA in " + tlsOptions.authorityFile) +
                                    "\n"
                              : std::string())
                      << "as a proxy: " << config.listenAddress << ":" << port
                      << (config.proxyUser.empty() ? "" : " (with Proxy-authorization)") << "\n"
                      << std::flush;
        }
        if (!portFile.empty()) {
            // Replaced whole, so a script polling the file never reads half a
            // number, and an old file from an earlier run is overwritten.
            if (!quill::platform::writeFileAtomically(portFile, std::to_string(port) + "\n",
                                                      false)) {
                throw std::runtime_error("cannot write " + portFile);
            }
        }
        while (stopRequested == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        sim.stop();
        std::size_t served = sim.site().requests().size();
        std::lock_guard<std::mutex> guard(outputLock);
        std::cout << "vurel-sim: stopped after " << served << " requests\n";
    } catch (const quill::CBlockSocket::Error& e) {
        std::cerr << "vurel-sim: cannot listen on " << config.listenAddress << ":"
                  << config.listenPort << " (" << e.what() << ")\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "vurel-sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
