// Sending through the site's compose form: the page is loaded for its two
// tokens, then the form is posted with the recipients, subject, body and
// format, and the reply page tells whether the site sent the message. The
// form never carries attachments.

#include "net/DiagnosticLog.h"
#include "webmail/CVurelClient.h"
#include "webmail/HttpResponse.h"
#include "webmail/RequestBody.h"
#include "webmail/TextScanner.h"

#include <string>

namespace quill {

namespace {

// The fixed rest of the form after SaveCopy: no forwarding, no reply, zero
// attachments, and the Send button.
const char* const kFormTail = "&box=&FwdFile=&FwdMsg=&FwdSubj=&OriginalFrom=&OriginalSubject="
                              "&InReplyTo=&NumAtt=0&AttData=&FName=&Video=&NoSubj=1&NoBody=1"
                              "&SEND=Send";

// A token scraped from the page goes into the POST's request line: one that
// could split the request (CR, LF, NUL) counts as missing.
std::string safeToken(const std::string& token) {
    return token.find_first_of(std::string("\r\n\0", 3)) == std::string::npos ? token
                                                                              : std::string();
}

} // namespace

void CVurelClient::sendMessage(const std::string& to, const std::string& cc, const std::string& bcc,
                               const std::string& subject, const std::string& body,
                               const std::string& format, bool saveCopy) {
    const std::string composeUrl = mailUrl("/vm/Compose");
    std::string yy;
    std::string crumb;
    {
        const HttpResponse page(get(composeUrl, session_.Cookie), maxInflated_);
        if (page.statusCode() != 200) {
            throw Error(composeUrl);
        }
        if (!isMailPage(page.body())) {
            throw InvalidCookie(composeUrl);
        }
        // One scanner: the crumb is looked for after the form action when the
        // action was found, from the top otherwise. A missing token stays empty.
        TextScanner scanner(page.body());
        if (scanner.find("action=\"/vm/Compose?YY=", "\"")) {
            yy = safeToken(scanner.match());
        }
        if (scanner.find("name=\".crumb\" value=\"", "\"")) {
            crumb = scanner.match();
        }
        if (yy.empty() || crumb.empty()) {
            logEvent("sending: the compose page lacks its form target or its crumb");
        }
    }

    // The form is sent as it is made: the message text is encoded slice by
    // slice on its way out, never as a whole second copy.
    RequestBody form;
    form.append(".crumb=").append(crumb);
    form.append("&To=").appendFormEncoded(to);
    form.append("&Cc=").appendFormEncoded(cc);
    form.append("&Bcc=").appendFormEncoded(bcc);
    form.append("&Subj=").appendFormEncoded(subject);
    form.append("&Body=").appendFormEncoded(body);
    form.append("&Format=").append(format);
    form.append("&SaveCopy=").append(saveCopy ? "yes" : "");
    form.append(kFormTail);

    const std::string postUrl = mailUrl("/vm/Compose?YY=" + yy);
    const HttpResponse reply(post(postUrl, session_.Cookie, form), maxInflated_);
    if (reply.statusCode() != 200) {
        throw Error(postUrl);
    }
    // Sent only when the page's first "Message " is followed directly by "Sent".
    static const std::string kMessage = "Message ";
    const std::size_t at = reply.body().find(kMessage);
    if (at == std::string::npos || reply.body().compare(at + kMessage.size(), 4, "Sent") != 0) {
        logEvent("sending: the compose form's answer has no \"Message Sent\"");
        throw Error(postUrl);
    }
}

} // namespace quill
