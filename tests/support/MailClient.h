#pragma once
// The mail client's side of a conversation with a local service over
// loopback (20 s time-outs): one command line, then its reply line.
//
// Threads: the test's thread only.

#include "net/CBlockSocket.h"
#include "webmail/SocketStream.h"

#include <exception>
#include <string>

namespace quill {

class MailClient {
public:
    explicit MailClient(int port) : socket_(20, 20) { socket_.connect("127.0.0.1", port); }
    MailClient(const MailClient&) = delete;
    MailClient& operator=(const MailClient&) = delete;

    std::string line() { return stream_.readLine(); }
    std::string command(const std::string& text) {
        stream_.writeLine(text);
        stream_.flush();
        return line();
    }
    // The reply line, or "closed" when the service ends the conversation
    // without one.
    std::string tryCommand(const std::string& text) {
        try {
            return command(text);
        } catch (const std::exception&) {
            return "closed";
        }
    }
    // A POP3 multi-line reply's status line; the rest up to "." is read off.
    std::string multiLine(const std::string& text) {
        const std::string status = tryCommand(text);
        if (status.compare(0, 3, "+OK") == 0) {
            while (line() != ".") {
            }
        }
        return status;
    }
    // A POP3 multi-line reply whole: its status line, then each line up to
    // "." with its CR LF (still byte-stuffed); the status line alone when it
    // is not "+OK".
    std::string retrieve(const std::string& text) {
        std::string reply = tryCommand(text);
        if (reply.compare(0, 3, "+OK") == 0) {
            for (std::string next = line(); next != "."; next = line()) {
                reply += "\r\n" + next;
            }
        }
        return reply;
    }
    void send(const std::string& bytes) {
        stream_.write(bytes);
        stream_.flush();
    }
    // Ends the client's side in order: the service reads the end of the stream.
    void endInput() { socket_.shutdownSend(); }
    // True when the service closes (or resets) without sending anything more.
    bool closedSilently() {
        try {
            return stream_.readToEnd().empty();
        } catch (const CBlockSocket::Error&) {
            return true;
        }
    }

private:
    CBlockSocket socket_;
    SocketStream stream_{socket_};
};

} // namespace quill
