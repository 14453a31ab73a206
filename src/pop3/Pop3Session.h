#pragma once
// One POP3 conversation between the local mail client and the bridge. The
// mailbox is the web-mail inbox, listed once at sign-in; STAT, LIST and UIDL
// are answered from that listing, TOP and RETR fetch the message from the
// site's print view, DELE only marks, and QUIT deletes the marked messages on
// the site (and empties its trash when the EmptyTrash setting is on).
//
// Command words are matched without regard to letter case (RFC 1939); each
// reply is flushed before the next command is read, and a flush discards any
// input that was sent ahead. A message reply goes out in pieces of 512 KiB. A
// command line longer than kMaxCommandLine without its CR LF is answered
// "-ERR line too long" and ends the conversation.
//
// Errors: run() returns after QUIT or when the connection fails during
// sign-in or TOP; every other failure (reading a command, sending a reply)
// leaves run() as an exception for the listener to catch.
//
// Threads: run() and everything it calls belong to the POP3 service thread;
// abort() is the one call from another thread (the Cancel button) and only
// closes sockets.

#include "webmail/MailConversation.h"
#include "webmail/MessageList.h"
#include "webmail/Pop3Webmail.h"

#include <cstddef>
#include <memory>
#include <string>

namespace quill {

class ServiceWindow;

class Pop3Session : public MailConversation<Pop3Webmail> {
public:
    // A real client's command line is well under 1 KiB; the bound keeps a
    // peer that never sends a line end from filling memory.
    static constexpr std::size_t kMaxCommandLine = 64 * 1024;

    // connection: the accepted connection (or a scripted one in tests);
    // webmail: this conversation's web-mail client; settings and window must
    // outlive the session (settings are read one value at a time at each use).
    Pop3Session(std::shared_ptr<ByteChannel> connection, std::unique_ptr<Pop3Webmail> webmail,
                const ServiceSettings& settings, ServiceWindow& window);
    ~Pop3Session() override;

    Pop3Session(const Pop3Session&) = delete;
    Pop3Session& operator=(const Pop3Session&) = delete;

    void run() override;

private:
    // The next command line; an over-long one is answered, then throws
    // SocketStream::LineTooLong.
    std::string readCommandLine();

    enum class State { Authorization, Transaction, Ended };
    // args: the command line after the command word.
    using Handler = void (Pop3Session::*)(const std::string& args);
    using Command = MailConversation::Command<Handler>;
    static const Command kAuthorizationCommands[];
    static const Command kTransactionCommands[];

    // The message named by the first argument, or null (after replying
    // "-ERR no such message") when it is missing or out of range.
    const MessageRef* messageArgument(const std::string& args, std::size_t& pos);

    void onUser(const std::string& args);
    void onPass(const std::string& args);
    void onAuthorizationQuit(const std::string& args);
    void onStat(const std::string& args);
    void onList(const std::string& args);
    void onUidl(const std::string& args);
    void onTop(const std::string& args);
    void onRetr(const std::string& args);
    void onDele(const std::string& args);
    void onNoop(const std::string& args);
    void onRset(const std::string& args);
    void onQuit(const std::string& args);

    // Sign-in at PASS: adopts a saved session or signs in, then lists the
    // inbox. Throws what the web-mail side throws.
    void signIn(const std::string& password);
    // Appends header and text, byte-stuffed, and the terminator line.
    void writeMessage(const std::string& header, const std::string& text);

    ServiceWindow& window_;

    // Per run; service thread only.
    State state_ = State::Authorization;
    std::string user_;
    MessageList mailbox_;
    MessageList marked_;
};

} // namespace quill
