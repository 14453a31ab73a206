#pragma once
// A web-mail client that reports to a conversation's progress window: every
// request shows its URL as the window's detail line just before it goes out,
// and the sign-in shows its step as the status. Results and exceptions pass
// through unchanged. The POP3 and SMTP clients add their own operations.

#include "net/ServiceWindow.h"
#include "webmail/CVurelClient.h"
#include "webmail/CookieJar.h"

namespace quill {

class ReportingVurelClient : public CVurelClient {
public:
    // The window and the jar must outlive the client.
    ReportingVurelClient(ServiceWindow& window, SiteConfig site, CookieJar& jar);

    // "Logging to Vurel server ...", sign-in, then the new session is stored
    // in the jar with a verifier of the password (not when the sign-in throws).
    void login(const std::string& user, const std::string& password);

    std::string request(const std::string& method, const std::string& url,
                        const std::string* cookie, const std::string& headerBlock, const char* body,
                        std::size_t bodyLength) override;

protected:
    ServiceWindow& window() { return window_; }

private:
    ServiceWindow& window_;
    CookieJar& jar_;
};

} // namespace quill
