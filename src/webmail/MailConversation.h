#pragma once
// What a POP3 and an SMTP conversation share: the mail client's connection,
// the conversation's web-mail side (Pop3Webmail or SmtpWebmail), the settings,
// the stream over the connection while run() is in progress, the command
// table lookup and the reply helper.
//
// Threads: abort() is the one call from another thread (the Cancel button) and
// only closes sockets; the rest belongs to the service thread.

#include "codec/TextCase.h"
#include "net/ByteChannel.h"
#include "net/DiagnosticLog.h"
#include "net/ServiceSettings.h"
#include "net/Session.h"
#include "webmail/SocketStream.h"

#include <cstddef>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace quill {

template <class Webmail> class MailConversation : public Session {
public:
    void abort() noexcept override {
        // The mail client's connection goes first: once the site call fails,
        // the handler's reply must find it closed, or the conversation would
        // go on answering after a Cancel.
        connection_->close();
        webmail_->abort();
    }

protected:
    // settings: read one value at a time at each use, so it must outlive the
    // conversation.
    MailConversation(std::shared_ptr<ByteChannel> connection, std::unique_ptr<Webmail> webmail,
                     const ServiceSettings& settings)
        : connection_(std::move(connection)), webmail_(std::move(webmail)), settings_(settings) {}

    // One entry of a session's command table.
    template <class Handler> struct Command {
        const char* word;
        Handler handler;
    };

    // The handler that table gives for word (letter case ignored, the first
    // entry that matches), or null when the word is not in the table.
    template <class Handler, std::size_t N>
    static Handler lookUp(const Command<Handler> (&table)[N], const std::string& word) {
        for (const Command<Handler>& entry : table) {
            if (equalsNoCase(word, entry.word)) {
                // The word only: arguments (a user name, a password) never
                // reach the log.
                logEvent(std::string("command ") + entry.word);
                return entry.handler;
            }
        }
        logEvent("unknown command");
        return nullptr;
    }

    // One command line of the mail client, without its CR LF. A line past
    // maxLength is answered with tooLong before the conversation ends
    // (SocketStream::LineTooLong is thrown on).
    std::string readCommandLine(std::size_t maxLength, const char* tooLong) {
        try {
            return stream_->readLine(maxLength);
        } catch (const SocketStream::LineTooLong&) {
            reply(tooLong);
            connection_->finish();
            throw;
        }
    }

    // One reply line, sent at once.
    void reply(const char* text) {
        stream_->writeLine(text);
        stream_->flush();
        if (logEnabled())
            logReply(text);
    }
    void reply(const std::string& text) { reply(text.c_str()); }

    // Logs what failed and why, before the session turns it into its reply.
    static void logFailure(const char* operation, const std::exception& cause) {
        if (logEnabled())
            logEvent(std::string(operation) + " failed: " + describeException(cause));
    }

    // Logs the status of a reply line: "+OK" or "-ERR", or an SMTP code (three
    // digits, then a hyphen, a space before a non-digit, or the end). Lines of
    // a listing ("12 3456") and of a text are not statuses and are not logged.
    static void logReply(const char* text) {
        const std::string_view line(text);
        if (line.rfind("+OK", 0) == 0 || line.rfind("-ERR", 0) == 0) {
            logEvent("reply " + std::string(line.substr(0, line[0] == '+' ? 3 : 4)));
            return;
        }
        auto digit = [&](std::size_t i) {
            return i < line.size() && line[i] >= '0' && line[i] <= '9';
        };
        if (line.size() >= 3 && line[0] >= '2' && line[0] <= '5' && digit(1) && digit(2) &&
            (line.size() == 3 || line[3] == '-' || (line[3] == ' ' && !digit(4)))) {
            logEvent("reply " + std::string(line.substr(0, 3)));
        }
    }

    // The conversation's requests go through the configured HTTP proxy (proxy
    // type 1) and go direct for every other type.
    void applyProxySettings() {
        if (settings_.proxyType() == kHttpProxy) {
            const std::string host = settings_.proxy();
            const int port = settings_.proxyPort();
            const std::string user = settings_.username();
            const std::string password = settings_.password();
            webmail_->useProxy(host, port, user, password);
        } else {
            webmail_->useDirect();
        }
    }

    std::shared_ptr<ByteChannel> connection_;
    std::unique_ptr<Webmail> webmail_;
    const ServiceSettings& settings_;
    // Per run; service thread only.
    std::unique_ptr<SocketStream> stream_;

private:
    static constexpr int kHttpProxy = 1;
};

} // namespace quill
