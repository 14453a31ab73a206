#pragma once
// The HTML of the site's pages. The markup around the markers that clients
// read is free; the markers themselves are fixed:
//   - sign-in form:  name=".challenge" value="CHALLENGE"
//   - signed-in title: <title>Vurel! Mail - USER@DOMAIN</title>
//   - trash link:    href="/vm/ShowFolder?ET=1&.crumb=CRUMB&reset=1"  (before the counter)
//   - counter:       Messages FIRST-LAST of TOTAL<  (no other "Messages " before it)
//   - rows:          sender and subject cells each link href="/vm/ShowLetter?MsgId=ID&...",
//                    the date cell has attributes, the size cell is a bare <td> holding
//                    "12k", a byte count, or either in <b> when unread
//   - compose form:  action="/vm/Compose?YY=TOKEN" and then name=".crumb" value="CRUMB"
//   - sent page:     the first "Message " of the page is followed by "Sent"
// Pure functions of their arguments.

#include "site/SiteConfig.h"
#include "site/StoredMessage.h"

#include <string>
#include <vector>

namespace quill::site {

class SitePages {
public:
    struct Listing {
        std::string user;
        std::string folder;
        std::string crumb;
        // The messages of this page, in shown order; they stay in the mailbox.
        std::vector<const StoredMessage*> rows;
        int first = 0, last = 0, total = 0; // the counter (1-based, inclusive)
        int pageIndex = 0;
        int pageCount = 0;
        int inboxUnread = 0;
        std::string notice; // a line above the list ("2 messages moved to Trash"), or empty
    };

    explicit SitePages(const SiteConfig& config);

    std::string loginUrl() const;
    // The sign-in page: front page, failed sign-in and every page asked for
    // without a valid session. Its title is not a signed-in title.
    std::string signIn(const std::string& challenge, const std::string& error) const;
    // The page the redirects end on.
    std::string welcome(const std::string& user, const std::string& crumb, int inboxCount,
                        int inboxUnread) const;
    std::string listing(const Listing& listing) const;
    // A message shown in the browser (not the print view).
    std::string letter(const std::string& user, const std::string& crumb,
                       const StoredMessage& message, const std::string& folder,
                       int inboxUnread) const;
    std::string compose(const std::string& user, const std::string& crumb, const std::string& yy,
                        const std::string& composeCrumb, int inboxUnread) const;
    std::string sent(const std::string& user, const std::string& crumb, const std::string& to,
                     int inboxUnread) const;
    // A signed-in page with an error text (wrong crumb, expired form, ...).
    std::string failure(const std::string& user, const std::string& crumb,
                        const std::string& heading, const std::string& text, int inboxUnread) const;
    // A bare error page for a status (404, 407, 502, injected faults).
    static std::string status(int code, const std::string& text);

    // "12k" for 12 KiB and more (rounded up), the byte count below 1 KiB.
    static std::string sizeText(std::size_t bytes);
    // A header field's value (unfolded), or empty.
    static std::string field(const std::string& raw, const std::string& name);

private:
    std::string page(const std::string& title, const std::string& user, const std::string& crumb,
                     int inboxUnread, const std::string& content) const;
    std::string mailTitle(const std::string& user) const;

    std::string scheme_; // "http://" or "https://"
    std::string frontHost_;
    std::string loginHost_;
    std::string domain_;
};

} // namespace quill::site
