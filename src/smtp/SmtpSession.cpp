#include "smtp/SmtpSession.h"

#include "codec/Base64.h"
#include "net/CBlockSocket.h"
#include "net/ServiceSettings.h"
#include "smtp/OutgoingMessage.h"
#include "smtp/SmtpText.h"
#include "webmail/CVurelClient.h"
#include "webmail/SmtpWebmail.h"
#include "webmail/SocketStream.h"

#include <cstring>
#include <utility>

namespace quill {

namespace {

const char* const kGreeting = "220 Quillmere SMTP Service Ready";
const char* const kOk = "250 OK";
const char* const kBye = "221 Quillmere SMTP service closing transmission channel";
const char* const kAuthFirst = "530 SMTP authenticate before sending emails.";
const char* const kUnrecognized = "500 Syntax error, command unrecognized";
const char* const kUserPrompt = "334 VXNlcm5hbWU6";
const char* const kPasswordPrompt = "334 UGFzc3dvcmQ6";
const char* const kLoggedIn = "235 Login successful";
const char* const kLoginFailed = "535 authentication failed";
const char* const kStartData = "354 OK";
const char* const kNotSent = "554 Cannot send message.";
const char* const kLineTooLong = "500 Line too long";

// The message ends with a line that holds a single dot.
const char* const kTerminator = "\r\n.\r\n";
const std::size_t kTerminatorLength = 5;

bool endsWith(const std::string& text, const char* tail, std::size_t n) {
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

} // namespace

// Command words are matched without regard to letter case (RFC 5321), in the
// order given. A word found in neither table gets the state's refusal.
const SmtpSession::Command SmtpSession::kGreetedCommands[] = {
    {"EHLO", &SmtpSession::onEhlo},
    {"RSET", &SmtpSession::onGreetedRset},
    {"AUTH", &SmtpSession::onAuth},
    {"QUIT", &SmtpSession::onQuit},
};

const SmtpSession::Command SmtpSession::kAuthenticatedCommands[] = {
    {"RSET", &SmtpSession::onRset}, {"MAIL", &SmtpSession::onMail}, {"RCPT", &SmtpSession::onRcpt},
    {"DATA", &SmtpSession::onData}, {"QUIT", &SmtpSession::onQuit},
};

SmtpSession::SmtpSession(std::shared_ptr<ByteChannel> connection,
                         std::unique_ptr<SmtpWebmail> webmail, const ServiceSettings& settings)
    : MailConversation(std::move(connection), std::move(webmail), settings) {}

SmtpSession::~SmtpSession() = default;

std::string SmtpSession::readCommandLine() {
    return MailConversation::readCommandLine(kMaxCommandLine, kLineTooLong);
}

void SmtpSession::run() {
    stream_ = std::make_unique<SocketStream>(connection_);
    state_ = State::Greeted;
    user_.clear();
    password_.clear();
    recipients_.clear();

    reply(kGreeting);

    applyProxySettings();
    savedSession_ = false;

    while (state_ != State::Closed) {
        const std::string line = readCommandLine();
        const std::string word = smtptext::commandWord(line);
        const bool greeted = state_ == State::Greeted;
        const Handler handler =
            greeted ? lookUp(kGreetedCommands, word) : lookUp(kAuthenticatedCommands, word);
        if (handler != nullptr) {
            (this->*handler)(line);
        } else {
            reply(greeted ? kAuthFirst : kUnrecognized);
        }
    }
    stream_.reset();
}

void SmtpSession::onEhlo(const std::string&) {
    stream_->writeLine("250-Quillmere greets you.");
    stream_->writeLine("250 AUTH LOGIN");
    stream_->flush();
}

void SmtpSession::onGreetedRset(const std::string&) {
    reply(kOk);
}

void SmtpSession::onQuit(const std::string&) {
    reply(kBye);
    state_ = State::Closed;
}

std::string SmtpSession::readAuthAnswer(const char* prompt) {
    reply(prompt);
    return decodeBase64(readCommandLine());
}

void SmtpSession::onAuth(const std::string& line) {
    // "AUTH LOGIN <base64 user name>" carries the user name at once (RFC 4954's
    // initial response); then only the password is asked for. With any other
    // mechanism word the rest of the line is ignored.
    const std::string argument = smtptext::commandArgument(line);
    const std::string mechanism = smtptext::commandWord(argument);
    const std::string initial = smtptext::commandArgument(argument);
    if (equalsNoCase(mechanism, "LOGIN") && !initial.empty()) {
        user_ = decodeBase64(initial);
    } else {
        user_ = readAuthAnswer(kUserPrompt);
    }
    password_ = readAuthAnswer(kPasswordPrompt);

    try {
        if (webmail_->adoptSaved(user_, password_)) {
            savedSession_ = true;
        } else {
            webmail_->login(user_, password_);
        }
    } catch (const CVurelClient::Error& e) {
        logFailure("sign-in", e);
        reply(kLoginFailed);
        return;
    } catch (const CBlockSocket::Error& e) {
        logFailure("sign-in", e);
        state_ = State::Closed; // no reply: the conversation ends at once
        return;
    }
    reply(kLoggedIn);
    recipients_.clear();
    state_ = State::Authenticated;
}

void SmtpSession::onRset(const std::string&) {
    recipients_.clear();
    reply(kOk);
}

void SmtpSession::onMail(const std::string&) {
    // A new transaction: recipients of the previous message must not become
    // blind copies of this one.
    recipients_.clear();
    reply(kOk);
}

void SmtpSession::onRcpt(const std::string& line) {
    const std::string address = smtptext::recipientAddress(line);
    if (!address.empty()) {
        recipients_.insert(address);
    }
    reply(kOk);
}

bool SmtpSession::readMessage(std::string& text) {
    // The line end of the DATA command counts as the CR LF in front of the
    // first line, so a lone "." right after "354 OK" is an empty message.
    // Otherwise the message ends at the first CR LF "." CR LF, and it is read
    // in one piece: the stream then hands over its buffer instead of copying
    // a message of many megabytes.
    text.clear();
    while (stream_->buffered() < 3 && stream_->receiveMore() > 0) {
    }
    if (stream_->buffered() >= 3 && std::memcmp(stream_->unreadData(), ".\r\n", 3) == 0) {
        stream_->readUntil(".\r\n");
        return true; // the lone dot: an empty message
    }
    text = stream_->readUntil(kTerminator);
    if (!endsWith(text, kTerminator, kTerminatorLength)) {
        return false; // the client closed before the terminator
    }
    // Drop the terminator, including the CR LF that ended the last line.
    text.resize(text.size() - kTerminatorLength);
    smtptext::unstuffDots(text);
    return true;
}

void SmtpSession::onData(const std::string&) {
    reply(kStartData);
    std::string text;
    if (!readMessage(text)) {
        // A message the client did not finish is never posted.
        state_ = State::Closed;
        return;
    }
    // A fresh stream gives back the input buffer that grew to the message's
    // size. Nothing is lost: the client waits for our reply, and the reply's
    // flush would discard any unread input anyway.
    stream_ = std::make_unique<SocketStream>(connection_);
    // The text goes to the analysis: a plain text becomes the body where it lies.
    const OutgoingMessage message(std::move(text));
    std::string().swap(text); // whatever it left is not held while the message is posted
    if (!message.analysed()) {
        logEvent("the message could not be analysed; nothing was posted");
        reply(kNotSent); // the client keeps the message; nothing was posted
        return;
    }
    const std::string bcc =
        smtptext::blindCopies(message.to(), message.cc(), message.bcc(), recipients_);
    try {
        sendWithRetry(message.to(), message.cc(), bcc, message.subject(), message.body(),
                      message.format());
    } catch (const CVurelClient::Error& e) {
        logFailure("sending", e);
        reply(kNotSent);
        return;
    } catch (const CBlockSocket::Error& e) {
        logFailure("sending", e);
        state_ = State::Closed; // no reply: the mail client sees the close
        return;
    }
    reply(kOk);
}

void SmtpSession::sendWithRetry(const std::string& to, const std::string& cc,
                                const std::string& bcc, const std::string& subject,
                                const std::string& body, const std::string& format) {
    try {
        webmail_->sendMessage(to, cc, bcc, subject, body, format, settings_.saveSent());
        return;
    } catch (const CVurelClient::InvalidCookie& e) {
        logFailure("the saved session", e);
        // The compose page refused the saved cookies before anything was
        // posted, so one fresh sign-in and one more attempt cannot send the
        // message twice. After a fresh sign-in there is nothing to renew.
        if (!savedSession_) {
            throw;
        }
    }
    webmail_->login(user_, password_);
    savedSession_ = false;
    webmail_->sendMessage(to, cc, bcc, subject, body, format, settings_.saveSent());
}

} // namespace quill
