#pragma once
// One SMTP conversation between the local mail client and the bridge: the
// greeting, EHLO, AUTH LOGIN, RSET, MAIL, RCPT, DATA and QUIT. The user name
// and password of AUTH are the web-mail account's; each message read with DATA
// is analysed and posted through the site's compose form.
//
// Replies: "250 OK" after DATA is sent only once the site has answered that the
// message was sent; a refusal is "554 Cannot send message.". A network failure
// or a Cancel during sign-in or sending ends the conversation without a reply.
//
// Threads: run() and everything it calls belong to the SMTP service thread;
// abort() is the one call from another thread (the Cancel button) and only
// closes sockets.

#include "webmail/MailConversation.h"
#include "webmail/SmtpWebmail.h"

#include <cstddef>
#include <memory>
#include <set>
#include <string>

namespace quill {

class SmtpSession : public MailConversation<SmtpWebmail> {
public:
    // A command line longer than this without its CR LF is answered
    // "500 Line too long" and ends the conversation (a DATA line has no bound):
    // a real client's command line is well under 1 KiB, and the bound keeps a
    // peer that never sends a line end from filling memory.
    static constexpr std::size_t kMaxCommandLine = 64 * 1024;

    // connection: the accepted connection (or a scripted one in tests);
    // webmail: this conversation's web-mail client; settings: read one value
    // at a time at each use, so it must outlive the session.
    SmtpSession(std::shared_ptr<ByteChannel> connection, std::unique_ptr<SmtpWebmail> webmail,
                const ServiceSettings& settings);
    ~SmtpSession() override;

    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    void run() override;

private:
    enum class State { Greeted, Authenticated, Closed };
    using Handler = void (SmtpSession::*)(const std::string& line);
    using Command = MailConversation::Command<Handler>;
    static const Command kGreetedCommands[];
    static const Command kAuthenticatedCommands[];

    std::string readCommandLine();
    std::string readAuthAnswer(const char* prompt);

    void onEhlo(const std::string& line);
    void onGreetedRset(const std::string& line);
    void onAuth(const std::string& line);
    void onQuit(const std::string& line);
    void onRset(const std::string& line);
    void onMail(const std::string& line);
    void onRcpt(const std::string& line);
    void onData(const std::string& line);

    // Reads the message after "354 OK" up to the terminator, un-stuffed and
    // without its final line end. False when the client closed first.
    bool readMessage(std::string& text);
    void sendWithRetry(const std::string& to, const std::string& cc, const std::string& bcc,
                       const std::string& subject, const std::string& body,
                       const std::string& format);

    // Per run; service thread only.
    State state_ = State::Greeted;
    std::string user_;
    std::string password_;
    bool savedSession_ = false;
    std::set<std::string> recipients_;
};

} // namespace quill
