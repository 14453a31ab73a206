// A minimal SMTP server that accepts and discards every message: the baseline
// the bridge's submission time is measured against. It speaks just enough for
// curl (EHLO, AUTH LOGIN, MAIL, RCPT, DATA, RSET, QUIT) and reads each message
// to its terminator with the same stream the bridge uses.
//
// Usage: smtp-sink [PORT]   (0 or none: an ephemeral port). Prints
// "listening on PORT" and serves one connection after another until killed.

#include "net/CBlockSocket.h"
#include "webmail/SocketStream.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

bool startsWithNoCase(const std::string& line, const char* word) {
    for (std::size_t i = 0; word[i] != '\0'; ++i) {
        if (i >= line.size() || (line[i] | 0x20) != (word[i] | 0x20)) {
            return false;
        }
    }
    return true;
}

void serve(const quill::CBlockSocket& connection) {
    quill::SocketStream stream(connection);
    auto reply = [&](const char* text) {
        stream.writeLine(text);
        stream.flush();
    };
    reply("220 sink ready");
    for (;;) {
        const std::string line = stream.readLine(64 * 1024);
        if (startsWithNoCase(line, "EHLO")) {
            stream.writeLine("250-sink");
            reply("250 AUTH LOGIN");
        } else if (startsWithNoCase(line, "AUTH")) {
            if (line.find(' ', 5) == std::string::npos) {
                reply("334 VXNlcm5hbWU6");
                stream.readLine(64 * 1024);
            }
            reply("334 UGFzc3dvcmQ6");
            stream.readLine(64 * 1024);
            reply("235 ok");
        } else if (startsWithNoCase(line, "DATA")) {
            reply("354 go ahead");
            const std::string message = stream.readUntil("\r\n.\r\n");
            if (message.size() < 5 || message.compare(message.size() - 5, 5, "\r\n.\r\n") != 0) {
                return;
            }
            reply("250 discarded");
        } else if (startsWithNoCase(line, "QUIT")) {
            reply("221 bye");
            return;
        } else {
            reply("250 ok");
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    try {
        quill::CBlockSocket listener(120, 120);
        listener.listenAt(argc > 1 ? std::atoi(argv[1]) : 0);
        std::printf("listening on %d\n", listener.localPort());
        std::fflush(stdout);
        for (;;) {
            quill::CBlockSocket connection = listener.accept();
            try {
                serve(connection);
            } catch (const std::exception&) {
                // the client went away: serve the next one
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "smtp-sink: %s\n", e.what());
        return 1;
    }
}
