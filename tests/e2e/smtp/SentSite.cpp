// The site simulator for the sending checks, driven over standard input so a
// test can ask, at the moment it chooses, what the site has sent.
//
// Usage: smtp-e2e-site USER:PASSWORD [MAX_REQUEST_BYTES] [--tls CA_FILE]
//                      [--cert CERT KEY] [--tls-fault KIND] [--direct ADDRESS]
// --tls serves the site over HTTPS (and CONNECT) with a made test CA written
// to CA_FILE, or with --cert that certificate chain and key (PEM; CA_FILE is
// then not written); --tls-fault other-ca|expired|wrong-name|tls1.0 breaks
// its certificate or protocol (with --cert tls1.0 only); --direct listens on
// port 443 (TLS) or 80 of ADDRESS, which is then every host of the site.
// Prints "port N" once listening on 127.0.0.1 (an ephemeral port), then
// answers one line per command:
//   sent      the sent messages so far, oldest first, as one JSON array of
//             objects {user,to,cc,bcc,subject,body,format,saveCopy}; each byte
//             of a text is one character (U+0000 to U+00FF), so 8-bit bytes
//             survive the trip
//   count     the number of sent messages
//   posts     the number of compose form posts received
//   logins    the number of login form posts received
//   expire    ends every signed-in session (saved cookies stop working)
//   requests  the number of requests the site has answered
//   clear     forgets the recorded requests (long benchmark runs)
// End of input stops the simulator.

#include "site/SiteSimulator.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

using quill::site::SentMessage;
using quill::site::SiteConfig;
using quill::site::SiteSimulator;
using quill::site::TlsService;

namespace {

std::string json(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string json(const SentMessage& m) {
    return "{\"user\":" + json(m.user) + ",\"to\":" + json(m.to) + ",\"cc\":" + json(m.cc) +
           ",\"bcc\":" + json(m.bcc) + ",\"subject\":" + json(m.subject) +
           ",\"body\":" + json(m.body) + ",\"format\":" + json(m.format) +
           ",\"saveCopy\":" + (m.saveCopy ? "true" : "false") + "}";
}

// POST requests whose path begins with prefix.
std::size_t countPosts(const SiteSimulator& sim, const std::string& prefix) {
    std::size_t n = 0;
    for (const auto& r : sim.site().requests()) {
        if (r.method == "POST" && r.path.compare(0, prefix.size(), prefix) == 0) {
            ++n;
        }
    }
    return n;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: smtp-e2e-site USER:PASSWORD [MAX_REQUEST_BYTES]\n";
        return 2;
    }
    const std::string credentials = argv[1];
    const std::size_t colon = credentials.find(':');
    if (colon == std::string::npos) {
        std::cerr << "smtp-e2e-site: USER:PASSWORD wanted\n";
        return 2;
    }
    SiteConfig config;
    config.users.push_back({credentials.substr(0, colon), credentials.substr(colon + 1)});
    config.listenPort = 0;
    config.receiveTimeoutMs = 120000;
    TlsService::Options tls;
    bool secure = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (arg == "--tls") {
            secure = true;
            tls.authorityFile = value;
            ++i;
        } else if (arg == "--cert" && i + 2 < argc) {
            tls.certificateFile = argv[++i];
            tls.keyFile = argv[++i];
        } else if (arg == "--tls-fault") {
            const std::string kind = value;
            tls.fault = kind == "other-ca"     ? TlsService::Fault::OtherAuthority
                        : kind == "expired"    ? TlsService::Fault::Expired
                        : kind == "wrong-name" ? TlsService::Fault::WrongName
                                               : TlsService::Fault::Tls10Only;
            ++i;
        } else if (arg == "--direct") {
            config.listenAddress = value;
            config.frontHost = config.loginHost = config.mailHost = value;
            ++i;
        } else {
            config.maxRequestBytes = std::strtoull(argv[i], nullptr, 10);
        }
    }
    if (config.listenAddress != "127.0.0.1") {
        config.listenPort = secure ? 443 : 80;
    }
    if (secure) {
        config.scheme = "https";
        tls.names = {config.frontHost, config.loginHost, config.mailHost};
    }
    try {
        SiteSimulator sim(config);
        if (secure) {
            sim.setTls(TlsService::create(tls));
        }
        std::cout << "port " << sim.start() << std::endl;
        std::string command;
        while (std::getline(std::cin, command)) {
            if (!command.empty() && command.back() == '\r') {
                command.pop_back();
            }
            if (command == "sent") {
                std::string out = "[";
                for (const SentMessage& m : sim.site().sentMessages()) {
                    out += (out.size() > 1 ? "," : "") + json(m);
                }
                std::cout << out << "]" << std::endl;
            } else if (command == "count") {
                std::cout << sim.site().sentCount() << std::endl;
            } else if (command == "posts") {
                std::cout << countPosts(sim, "/vm/Compose") << std::endl;
            } else if (command == "logins") {
                std::cout << countPosts(sim, "/config/login") << std::endl;
            } else if (command == "expire") {
                sim.site().expireSessions();
                std::cout << "ok" << std::endl;
            } else if (command == "requests") {
                std::cout << sim.site().requests().size() << std::endl;
            } else if (command == "clear") {
                sim.site().clearRequests();
                std::cout << "ok" << std::endl;
            } else {
                std::cout << "unknown command" << std::endl;
            }
        }
        sim.stop();
    } catch (const std::exception& e) {
        std::cerr << "smtp-e2e-site: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
