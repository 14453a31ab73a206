#include "pop3/Pop3Session.h"

#include "net/CBlockSocket.h"
#include "net/ServiceSettings.h"
#include "net/ServiceWindow.h"
#include "pop3/Pop3Text.h"
#include "webmail/CVurelClient.h"
#include "webmail/Pop3Webmail.h"
#include "webmail/SocketStream.h"

#include <algorithm>
#include <utility>

namespace quill {

namespace {

const char* const kGreeting = "+OK Quillmere POP3 service ready";
const char* const kUserAccepted = "+OK User name accepted, password please";
const char* const kPasswordAccepted = "+OK User password accepted";
const char* const kBadLogin = "-ERR Bad Login.";
const char* const kSigningOff = "+OK VUREL POP3 Server signing off";
const char* const kUnknown = "-ERR Unknown POP3 command";
const char* const kNoSuchMessage = "-ERR no such message";
const char* const kRetrieveError = "-ERR retrieve mail header error";
const char* const kNotRemoved = "-ERR some deleted messages not removed";
const char* const kDeleted = "+OK message deleted";
const char* const kRightHere = "+OK right here";
const char* const kOk = "+OK";
const char* const kTerminator = ".";
const char* const kLineTooLong = "-ERR line too long";

// Bytes of a message reply gathered before they are sent: half of what the
// stream's output buffer keeps across a flush, so that one buffer, sized once,
// carries every piece (with the status line before the first).
const std::size_t kSendPiece = SocketStream::kKeptOutput / 2;

} // namespace

// Looked up without regard to letter case, in the order given. A word found
// in neither table (USER and PASS in the transaction state among them) gets
// "-ERR Unknown POP3 command".
const Pop3Session::Command Pop3Session::kAuthorizationCommands[] = {
    {"USER", &Pop3Session::onUser},
    {"PASS", &Pop3Session::onPass},
    {"QUIT", &Pop3Session::onAuthorizationQuit},
};

const Pop3Session::Command Pop3Session::kTransactionCommands[] = {
    {"STAT", &Pop3Session::onStat}, {"LIST", &Pop3Session::onList}, {"UIDL", &Pop3Session::onUidl},
    {"TOP", &Pop3Session::onTop},   {"RETR", &Pop3Session::onRetr}, {"DELE", &Pop3Session::onDele},
    {"NOOP", &Pop3Session::onNoop}, {"RSET", &Pop3Session::onRset}, {"QUIT", &Pop3Session::onQuit},
};

Pop3Session::Pop3Session(std::shared_ptr<ByteChannel> connection,
                         std::unique_ptr<Pop3Webmail> webmail, const ServiceSettings& settings,
                         ServiceWindow& window)
    : MailConversation(std::move(connection), std::move(webmail), settings), window_(window) {}

Pop3Session::~Pop3Session() = default;

void Pop3Session::run() {
    stream_.reset(new SocketStream(connection_));
    state_ = State::Authorization;
    user_.clear();
    mailbox_.clear();
    marked_.clear();

    reply(kGreeting);

    applyProxySettings();

    while (state_ != State::Ended) {
        const std::string line = readCommandLine();
        std::size_t pos = 0;
        const std::string word = pop3text::nextWord(line, pos);
        const Handler handler = state_ == State::Authorization
                                    ? lookUp(kAuthorizationCommands, word)
                                    : lookUp(kTransactionCommands, word);
        if (handler != nullptr) {
            (this->*handler)(line.substr(pos));
        } else {
            reply(kUnknown);
        }
    }
    stream_.reset();
}

std::string Pop3Session::readCommandLine() {
    return MailConversation::readCommandLine(kMaxCommandLine, kLineTooLong);
}

// --- authorization ---------------------------------------------------------

void Pop3Session::onUser(const std::string& args) {
    std::size_t pos = 0;
    const std::string name = pop3text::nextWord(args, pos);
    if (!name.empty()) {
        user_ = name; // a USER without a name keeps the earlier one
    }
    reply(kUserAccepted);
}

void Pop3Session::onPass(const std::string& args) {
    std::size_t pos = 0;
    const std::string password = pop3text::nextWord(args, pos);
    if (user_.empty() || password.empty()) {
        reply(kBadLogin);
        return;
    }
    try {
        signIn(password);
    } catch (const CVurelClient::Error& e) {
        logFailure("sign-in and listing", e);
        mailbox_.clear();
        reply(kBadLogin);
        return;
    } catch (const CBlockSocket::Error& e) {
        logFailure("sign-in and listing", e);
        state_ = State::Ended; // the site is unreachable or Cancel was pressed
        return;
    }
    reply(kPasswordAccepted);
    state_ = State::Transaction;
}

void Pop3Session::signIn(const std::string& password) {
    mailbox_.clear();
    if (webmail_->adoptSaved(user_, password)) {
        if (settings_.inbox()) {
            try {
                mailbox_ = webmail_->listInbox();
            } catch (const CVurelClient::InvalidCookie& e) {
                logFailure("the saved session", e);
                webmail_->login(user_, password);
                mailbox_ = webmail_->listInbox();
            }
        }
        return;
    }
    webmail_->login(user_, password);
    if (settings_.inbox()) {
        mailbox_ = webmail_->listInbox();
    }
}

void Pop3Session::onAuthorizationQuit(const std::string&) {
    reply(kSigningOff);
    state_ = State::Ended;
}

// --- transaction -----------------------------------------------------------

const MessageRef* Pop3Session::messageArgument(const std::string& args, std::size_t& pos) {
    unsigned long number = 0;
    if (!pop3text::parseNumber(pop3text::nextWord(args, pos), number) || number < 1 ||
        number > mailbox_.size()) {
        reply(kNoSuchMessage);
        return nullptr;
    }
    return &mailbox_[number - 1];
}

void Pop3Session::onStat(const std::string&) {
    // The count, then the total size: clients read both numbers (RFC 1939),
    // and a reply with the count alone makes them fail.
    long long total = 0;
    for (const MessageRef& message : mailbox_) {
        total += message.size() > 0 ? message.size() : 0;
    }
    reply("+OK " + std::to_string(mailbox_.size()) + " " + std::to_string(total));
    if (mailbox_.empty()) {
        // Nothing to fetch: keep the window down for the rest of the conversation.
        window_.hide();
        window_.setPopup(false);
    }
}

// With a message number, LIST and UIDL answer for that message alone on one
// line (RFC 1939): clients that ask so read a single line, and a multi-line
// answer would be taken for the replies to their next commands.
void Pop3Session::onList(const std::string& args) {
    std::size_t pos = 0;
    if (!pop3text::nextWord(args, pos).empty()) {
        pos = 0;
        if (const MessageRef* message = messageArgument(args, pos)) {
            reply("+OK " + std::to_string(message - mailbox_.data() + 1) + " " +
                  std::to_string(message->size()));
        }
        return;
    }
    stream_->writeLine("+OK " + std::to_string(mailbox_.size()) + " messages");
    for (std::size_t i = 0; i < mailbox_.size(); ++i) {
        stream_->writeLine(std::to_string(i + 1) + " " + std::to_string(mailbox_[i].size()));
    }
    reply(kTerminator);
}

void Pop3Session::onUidl(const std::string& args) {
    std::size_t pos = 0;
    if (!pop3text::nextWord(args, pos).empty()) {
        pos = 0;
        if (const MessageRef* message = messageArgument(args, pos)) {
            reply("+OK " + std::to_string(message - mailbox_.data() + 1) + " " +
                  std::string(message->id()));
        }
        return;
    }
    stream_->writeLine(kOk);
    for (std::size_t i = 0; i < mailbox_.size(); ++i) {
        stream_->writeLine(std::to_string(i + 1) + " " + std::string(mailbox_[i].id()));
    }
    reply(kTerminator);
}

void Pop3Session::onTop(const std::string& args) {
    std::size_t pos = 0;
    const MessageRef* message = messageArgument(args, pos);
    if (message == nullptr) {
        return;
    }
    const bool first = message == &mailbox_[0];
    // The body lines asked for: none unless a positive line count is given.
    unsigned long lines = 0;
    if (!pop3text::parseNumber(pop3text::nextWord(args, pos), lines)) {
        lines = 0;
    }
    try {
        // Line ends are made CR LF before the header is closed and the lines
        // are counted, so that the size announced is the size sent.
        std::string rawHeader;
        std::string text;
        webmail_->fetchMessage(mailbox_, static_cast<std::size_t>(message - mailbox_.data()),
                               lines > 0, rawHeader, text);
        const std::string header = pop3text::closeHeader(pop3text::withCrLf(rawHeader));
        std::string body;
        if (lines > 0) {
            body = pop3text::withCrLf(pop3text::firstLines(text, lines));
        }
        stream_->writeLine("+OK " + std::to_string(header.size() + body.size()));
        writeMessage(header, body);
        stream_->flush();
    } catch (const CVurelClient::Error& e) {
        logFailure("TOP", e);
        reply(kRetrieveError);
    } catch (const CBlockSocket::Error& e) {
        logFailure("TOP", e);
        state_ = State::Ended; // no reply: the connection or the site is gone
        return;
    }
    if (first) {
        // The mail client peeks at the headers: keep the window down.
        window_.hide();
        window_.setPopup(false);
    }
}

void Pop3Session::onRetr(const std::string& args) {
    std::size_t pos = 0;
    const MessageRef* message = messageArgument(args, pos);
    if (message == nullptr) {
        return;
    }
    std::string header;
    std::string text;
    try {
        // Both parts at once; nothing goes out unless both came whole. The
        // text's bare LFs become CR LF as it is stuffed, without a copy.
        webmail_->fetchMessage(mailbox_, static_cast<std::size_t>(message - mailbox_.data()), true,
                               header, text);
        header = pop3text::closeHeader(pop3text::withCrLf(header));
    } catch (const CVurelClient::Error& e) {
        logFailure("RETR", e);
        reply(kRetrieveError);
        return;
    } catch (const CBlockSocket::Error& e) {
        logFailure("RETR", e);
        reply(kRetrieveError);
        return;
    }
    stream_->writeLine(kOk);
    writeMessage(header, text);
    stream_->flush();
}

void Pop3Session::writeMessage(const std::string& header, const std::string& text) {
    SocketStream& stream = *stream_;
    // A large message goes out in pieces, so the output buffer never holds a
    // second copy of it: the memory and the copying stay bounded by kSendPiece,
    // however long a run without a dot-stuffed line is.
    stream.reserveOutput(SocketStream::kKeptOutput);
    std::size_t pending = 0;
    pop3text::DotStuffer stuffer([&stream, &pending](const char* bytes, std::size_t length) {
        while (length > 0) {
            const std::size_t n = std::min(length, kSendPiece - pending);
            stream.write(bytes, n);
            bytes += n;
            length -= n;
            pending += n;
            if (pending == kSendPiece) {
                stream.flush();
                pending = 0;
            }
        }
    });
    stuffer.feed(header);
    stuffer.feed(text);
    if (!stuffer.endsWithLineEnd()) {
        stream.write("\r\n", 2); // the terminator must begin a line of its own
    }
    stream.writeLine(kTerminator);
}

void Pop3Session::onDele(const std::string& args) {
    std::size_t pos = 0;
    const MessageRef* message = messageArgument(args, pos);
    if (message == nullptr) {
        return;
    }
    marked_.push_back(*message); // stays in the mailbox until QUIT
    reply(kDeleted);
}

void Pop3Session::onNoop(const std::string&) {
    reply(kRightHere);
}

void Pop3Session::onRset(const std::string&) {
    marked_.clear();
    reply(kOk);
}

void Pop3Session::onQuit(const std::string&) {
    window_.setPopup(settings_.popup()); // the deletion may show again
    if (!marked_.empty()) {
        try {
            webmail_->deleteMessages(marked_);
            if (settings_.emptyTrash()) {
                webmail_->emptyTrash();
            }
        } catch (const CVurelClient::Error& e) {
            logFailure("deleting at QUIT", e);
            stream_->writeLine(kNotRemoved);
        } catch (const CBlockSocket::Error& e) {
            logFailure("deleting at QUIT", e);
            stream_->writeLine(kNotRemoved);
        }
    }
    reply(kSigningOff);
    state_ = State::Ended;
}

} // namespace quill
