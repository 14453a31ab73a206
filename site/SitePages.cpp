#include "site/SitePages.h"

#include "codec/Base64.h"
#include "site/TextUtil.h"

namespace quill::site {

namespace {

const char* const kStyle =
    "<style type=\"text/css\">\r\n"
    "body { font-family: Arial, Helvetica, sans-serif; font-size: 13px; margin: 0; }\r\n"
    ".masthead { background: #5a1e8c; color: #fff; padding: 6px 10px; }\r\n"
    ".masthead a { color: #fff; }\r\n"
    ".nav td { background: #ece4f4; padding: 4px 12px; }\r\n"
    ".folders td { padding: 2px 8px; }\r\n"
    ".messages th { background: #d8cce6; text-align: left; }\r\n"
    ".messages td { border-bottom: 1px solid #ddd; padding: 2px 6px; }\r\n"
    "tr.msgnew td { background: #fffbe0; }\r\n"
    ".notice { color: #080; font-weight: bold; }\r\n"
    ".error { color: #b00; font-weight: bold; }\r\n"
    "</style>\r\n";

// Encoded words ("=?charset?Q?...?=", "=?charset?B?...?=") as their bytes, for
// display only; blanks between two encoded words go, as mail readers do.
std::string decodeWords(const std::string& text) {
    std::string out;
    std::size_t pos = 0;
    bool lastWasWord = false;
    while (pos < text.size()) {
        std::size_t start = text.find("=?", pos);
        std::size_t q1 = start == std::string::npos ? start : text.find('?', start + 2);
        std::size_t q2 = q1 == std::string::npos ? q1 : text.find('?', q1 + 1);
        std::size_t end = q2 == std::string::npos ? q2 : text.find("?=", q2 + 1);
        if (end == std::string::npos || q2 != q1 + 2) {
            out += text.substr(pos);
            break;
        }
        std::string gap = text.substr(pos, start - pos);
        if (!(lastWasWord && trim(gap).empty())) {
            out += gap;
        }
        char encoding = text[q1 + 1];
        std::string payload = text.substr(q2 + 1, end - q2 - 1);
        if (encoding == 'B' || encoding == 'b') {
            out += quill::decodeBase64(payload);
        } else if (encoding == 'Q' || encoding == 'q') {
            // "_" is a blank in this encoding, "=XX" a byte.
            out += formDecode(
                replaceAll(replaceAll(replaceAll(payload, "+", "%2B"), "_", "+"), "=", "%"));
        } else {
            out += text.substr(start, end + 2 - start);
        }
        lastWasWord = true;
        pos = end + 2;
    }
    return out;
}

std::string displayName(const std::string& from) {
    std::string name = decodeWords(trim(from));
    std::size_t lt = name.find('<');
    if (lt != std::string::npos && lt > 0) {
        name = trim(name.substr(0, lt));
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
            name = name.substr(1, name.size() - 2);
        }
    } else if (lt != std::string::npos) {
        std::size_t gt = name.find('>', lt);
        name = name.substr(lt + 1, gt == std::string::npos ? gt : gt - lt - 1);
    }
    return name.empty() ? std::string("(unknown sender)") : name;
}

std::string shortDate(const std::string& date) {
    // "Mon, 7 Dec 2026 10:15:00 +0100" shows as "Mon Dec 7"; anything else as it is.
    std::string d = trim(date);
    std::size_t comma = d.find(',');
    if (comma == 3) {
        std::string rest = trim(d.substr(4));
        std::size_t sp1 = rest.find(' ');
        std::size_t sp2 = sp1 == std::string::npos ? sp1 : rest.find(' ', sp1 + 1);
        if (sp2 != std::string::npos) {
            return d.substr(0, 3) + " " + rest.substr(sp1 + 1, sp2 - sp1 - 1) + " " +
                   rest.substr(0, sp1);
        }
    }
    return d.substr(0, 24);
}

std::string folderLink(const std::string& folder) {
    return "/vm/ShowFolder?box=" + folder + "&Nview=a&Npos=0";
}

} // namespace

SitePages::SitePages(const SiteConfig& config)
    : scheme_(config.scheme + "://"), frontHost_(config.frontHost), loginHost_(config.loginHost),
      domain_(config.mailDomain) {}

std::string SitePages::loginUrl() const {
    return scheme_ + loginHost_ + "/config/login";
}

std::string SitePages::mailTitle(const std::string& user) const {
    return "Vurel! Mail - " + htmlEscape(user) + "@" + htmlEscape(domain_);
}

std::string SitePages::sizeText(std::size_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes);
    }
    return std::to_string((bytes + 1023) / 1024) + "k";
}

std::string SitePages::field(const std::string& raw, const std::string& name) {
    std::size_t end = raw.find("\r\n\r\n");
    std::string header = raw.substr(0, end == std::string::npos ? raw.size() : end + 2);
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t eol = header.find("\r\n", pos);
        if (eol == std::string::npos) {
            eol = header.size();
        }
        std::string line = header.substr(pos, eol - pos);
        if (line.size() > name.size() && line[name.size()] == ':' &&
            equalsNoCase(line.substr(0, name.size()), name)) {
            std::string value = line.substr(name.size() + 1);
            // Continuation lines begin with a blank or a tab.
            std::size_t next = eol + 2;
            while (next < header.size() && (header[next] == ' ' || header[next] == '\t')) {
                std::size_t e = header.find("\r\n", next);
                if (e == std::string::npos) {
                    e = header.size();
                }
                value += " " + trim(header.substr(next, e - next));
                next = e + 2;
            }
            return trim(value);
        }
        pos = eol + 2;
    }
    return std::string();
}

std::string SitePages::page(const std::string& title, const std::string& user,
                            const std::string& crumb, int inboxUnread,
                            const std::string& content) const {
    std::string out;
    out.reserve(content.size() + 4096);
    out += "<html>\r\n<head>\r\n<title>" + title + "</title>\r\n";
    out += "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\r\n";
    out += kStyle;
    out += "</head>\r\n<body>\r\n";
    out += "<table class=\"masthead\" width=\"100%\" cellspacing=\"0\"><tr>\r\n";
    out += "<td><a href=\"" + scheme_ + frontHost_ + "/\"><b>Vurel!</b> Mail</a></td>\r\n";
    out += "<td align=\"right\">Welcome, <b>" + htmlEscape(user) + "</b> [<a href=\"" + scheme_ +
           loginHost_ +
           "/config/logout\">Sign Out</a>, <a href=\"/vm/Options\">Options</a>]"
           "</td>\r\n</tr></table>\r\n";
    out += "<table class=\"nav\" cellspacing=\"2\"><tr>\r\n"
           "<td><a href=\"" +
           folderLink("Inbox") +
           "\">Check Mail</a></td>\r\n"
           "<td><a href=\"/vm/Compose\">Compose</a></td>\r\n"
           "<td><a href=\"/vm/Addresses\">Addresses</a></td>\r\n"
           "<td><a href=\"/vm/Calendar\">Calendar</a></td>\r\n"
           "</tr></table>\r\n";
    out += "<table width=\"100%\"><tr><td valign=\"top\" width=\"150\">\r\n";
    out += "<table class=\"folders\">\r\n";
    out += "<tr><td><b>Folders</b></td></tr>\r\n";
    out += "<tr><td><a href=\"" + folderLink("Inbox") + "\">Inbox</a>" +
           (inboxUnread > 0 ? " (" + std::to_string(inboxUnread) + ")" : std::string()) +
           "</td></tr>\r\n";
    out += "<tr><td><a href=\"" + folderLink("Sent") + "\">Sent</a></td></tr>\r\n";
    out += "<tr><td><a href=\"" + folderLink("Trash") +
           "\">Trash</a> <small>[<a href=\"/vm/ShowFolder?ET=1&.crumb=" + crumb +
           "&reset=1\">Empty</a>]</small></td></tr>\r\n";
    out += "</table>\r\n</td><td valign=\"top\">\r\n";
    out += content;
    out += "</td></tr></table>\r\n";
    out += "<p align=\"center\"><small>Copyright &copy; 2026 Vurel! Inc. All rights reserved. "
           "<a href=\"/info/privacy\">Privacy Policy</a> - <a href=\"/info/terms\">Terms of "
           "Service</a></small></p>\r\n";
    out += "</body>\r\n</html>\r\n";
    return out;
}

std::string SitePages::signIn(const std::string& challenge, const std::string& error) const {
    std::string out;
    out += "<html>\r\n<head>\r\n<title>Vurel! Mail - The free web-based e-mail</title>\r\n";
    out += "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\r\n";
    out += kStyle;
    out += "<script language=\"JavaScript\" src=\"/js/md5.js\"></script>\r\n";
    out += "</head>\r\n<body>\r\n";
    out += "<table class=\"masthead\" width=\"100%\"><tr><td><b>Vurel!</b> Mail</td>"
           "<td align=\"right\"><a href=\"/info/help\">Help</a></td></tr></table>\r\n";
    out += "<table width=\"100%\"><tr><td valign=\"top\">\r\n";
    out += "<h2>Sign in to Vurel! Mail</h2>\r\n";
    if (!error.empty()) {
        out += "<p class=\"error\">" + htmlEscape(error) + "</p>\r\n";
    }
    out += "<form method=\"post\" action=\"" + loginUrl() +
           "\" autocomplete=\"off\" name=\"login_form\" onsubmit=\"return hash(this)\">\r\n";
    out += "<input type=\"hidden\" name=\".tries\" value=\"1\">\r\n";
    out += "<input type=\"hidden\" name=\".src\" value=\"vm\">\r\n";
    out += "<input type=\"hidden\" name=\".intl\" value=\"us\">\r\n";
    out += "<input type=\"hidden\" name=\".challenge\" value=\"" + challenge + "\">\r\n";
    out += "<input type=\"hidden\" name=\".hash\" value=\"\">\r\n";
    out += "<input type=\"hidden\" name=\".md5\" value=\"\">\r\n";
    out += "<input type=\"hidden\" name=\".js\" value=\"\">\r\n";
    out += "<table>\r\n"
           "<tr><td>Vurel! ID:</td><td><input name=\"login\" size=\"17\" value=\"\"></td></tr>\r\n"
           "<tr><td>Password:</td><td><input name=\"passwd\" type=\"password\" size=\"17\">"
           "</td></tr>\r\n"
           "<tr><td></td><td><input type=\"checkbox\" name=\".persistent\" value=\"y\"> "
           "Remember my ID on this computer</td></tr>\r\n"
           "<tr><td></td><td><input type=\"submit\" name=\".save\" value=\"Sign In\"></td></tr>\r\n"
           "</table>\r\n</form>\r\n";
    out += "</td><td valign=\"top\" width=\"260\">\r\n"
           "<h3>New to Vurel!?</h3>\r\n<p>Get a free e-mail address that you can reach from "
           "any computer.</p>\r\n<p><a href=\"/config/signup\">Sign up now</a></p>\r\n"
           "</td></tr></table>\r\n";
    out += "<p align=\"center\"><small>Copyright &copy; 2026 Vurel! Inc.</small></p>\r\n";
    out += "</body>\r\n</html>\r\n";
    return out;
}

std::string SitePages::welcome(const std::string& user, const std::string& crumb, int inboxCount,
                               int inboxUnread) const {
    std::string content = "<h2>Welcome to Vurel! Mail</h2>\r\n<p>You have <b>" +
                          std::to_string(inboxUnread) + "</b> unread of " +
                          std::to_string(inboxCount) + " in your <a href=\"" + folderLink("Inbox") +
                          "\">Inbox</a>.</p>\r\n";
    return page(mailTitle(user), user, crumb, inboxUnread, content);
}

std::string SitePages::listing(const Listing& l) const {
    std::string content;
    content += "<h2>" + htmlEscape(l.folder) + "</h2>\r\n";
    if (!l.notice.empty()) {
        content += "<p class=\"notice\">" + htmlEscape(l.notice) + "</p>\r\n";
    }
    content += "<form name=\"messageList\" method=\"get\" action=\"/vm/ShowFolder\">\r\n";
    content += "<input type=\"hidden\" name=\"box\" value=\"" + htmlEscape(l.folder) + "\">\r\n";
    content += "<table width=\"100%\" class=\"toolbar\"><tr>\r\n";
    content += "<td><input type=\"submit\" name=\"DEL\" value=\"Delete\"> "
               "<input type=\"submit\" name=\"MOV\" value=\"Move\"></td>\r\n";
    content += "<td align=\"right\">";
    if (l.total > 0) {
        content += "<b>Messages " + std::to_string(l.first) + "-" + std::to_string(l.last) +
                   " of " + std::to_string(l.total) + "</b>";
        if (l.pageIndex > 0) {
            content += " | <a href=\"/vm/ShowFolder?box=" + l.folder +
                       "&Nview=a&Npos=" + std::to_string(l.pageIndex - 1) + "\">Previous</a>";
        }
        if (l.pageIndex + 1 < l.pageCount) {
            content += " | <a href=\"/vm/ShowFolder?box=" + l.folder +
                       "&Nview=a&Npos=" + std::to_string(l.pageIndex + 1) + "\">Next</a>";
        }
    } else {
        content += "<b>Folder " + htmlEscape(l.folder) + " is empty</b>";
    }
    content += "</td>\r\n</tr></table>\r\n";
    content += "<table class=\"messages\" width=\"100%\" cellspacing=\"0\">\r\n";
    content += "<tr><th width=\"20\"></th><th>Sender</th><th>Subject</th><th>Date</th>"
               "<th>Size</th></tr>\r\n";
    for (const StoredMessage* row : l.rows) {
        const StoredMessage& m = *row;
        std::string link = "/vm/ShowLetter?MsgId=" + m.id + "&box=" + l.folder + "&Search=&Nhead=f";
        std::string subject = decodeWords(field(m.raw, "Subject"));
        if (subject.empty()) {
            subject = "(no subject)";
        }
        std::string size = sizeText(m.raw.size());
        content += std::string("<tr class=\"") + (m.unread ? "msgnew" : "msgold") + "\">\r\n";
        content += "<td class=\"chk\"><input type=\"checkbox\" name=\"Mid\" value=\"" + m.id +
                   "\"></td>\r\n";
        content += "<td class=\"from\"><a href=\"" + link + "\">" +
                   htmlEscape(displayName(field(m.raw, "From"))) + "</a></td>\r\n";
        content +=
            "<td class=\"subj\"><a href=\"" + link + "\">" + htmlEscape(subject) + "</a></td>\r\n";
        content += "<td class=\"date\" nowrap>" + htmlEscape(shortDate(field(m.raw, "Date"))) +
                   "</td>\r\n";
        content += m.unread ? "<td><b>" + size + "</b></td>\r\n" : "<td>" + size + "</td>\r\n";
        content += "</tr>\r\n";
    }
    if (l.rows.empty()) {
        content += "<tr><td colspan=\"5\" align=\"center\">There is no mail in this folder."
                   "</td></tr>\r\n";
    }
    content += "</table>\r\n</form>\r\n";
    return page(mailTitle(l.user), l.user, l.crumb, l.inboxUnread, content);
}

std::string SitePages::letter(const std::string& user, const std::string& crumb,
                              const StoredMessage& m, const std::string& folder,
                              int inboxUnread) const {
    std::string content;
    content += "<table class=\"toolbar\"><tr><td><a href=\"/vm/ShowFolder?box=" + folder +
               "&DEL=Delete&Mid=" + m.id + "&.crumb=" + crumb +
               "\">Delete</a> | "
               "<a href=\"/vm/ShowLetter?box=" +
               folder + "&PRINT=1&Nhead=f&toc=1&MsgId=" + m.id +
               "&bodyPart=HEADER\">Full headers</a>"
               "</td></tr></table>\r\n";
    content += "<table>\r\n";
    for (const char* name : {"Date", "From", "To", "Cc", "Subject"}) {
        std::string v = field(m.raw, name);
        if (!v.empty()) {
            content += std::string("<tr><td><b>") + name + ":</b></td><td>" +
                       htmlEscape(decodeWords(v)) + "</td></tr>\r\n";
        }
    }
    content += "</table>\r\n<hr>\r\n<pre>" + htmlEscape(m.text()) + "</pre>\r\n";
    return page(mailTitle(user), user, crumb, inboxUnread, content);
}

std::string SitePages::compose(const std::string& user, const std::string& crumb,
                               const std::string& yy, const std::string& composeCrumb,
                               int inboxUnread) const {
    std::string content;
    content += "<h2>Compose</h2>\r\n";
    content += "<form name=\"Compose\" method=\"post\" action=\"/vm/Compose?YY=" + yy +
               "\" enctype=\"application/x-www-form-urlencoded\">\r\n";
    content += "<input type=\"hidden\" name=\".crumb\" value=\"" + composeCrumb + "\">\r\n";
    for (const char* hidden : {"box", "FwdFile", "FwdMsg", "FwdSubj", "OriginalFrom",
                               "OriginalSubject", "InReplyTo", "AttData", "FName", "Video"}) {
        content += std::string("<input type=\"hidden\" name=\"") + hidden + "\" value=\"\">\r\n";
    }
    content += "<input type=\"hidden\" name=\"NumAtt\" value=\"0\">\r\n";
    content += "<table>\r\n"
               "<tr><td>To:</td><td><input name=\"To\" size=\"70\"></td></tr>\r\n"
               "<tr><td>Cc:</td><td><input name=\"Cc\" size=\"70\"></td></tr>\r\n"
               "<tr><td>Bcc:</td><td><input name=\"Bcc\" size=\"70\"></td></tr>\r\n"
               "<tr><td>Subject:</td><td><input name=\"Subj\" size=\"70\"></td></tr>\r\n"
               "<tr><td></td><td><a href=\"/vm/Attach\">Attach Files</a></td></tr>\r\n"
               "<tr><td></td><td><textarea name=\"Body\" rows=\"20\" cols=\"76\" wrap=\"soft\">"
               "</textarea></td></tr>\r\n"
               "<tr><td></td><td><input type=\"checkbox\" name=\"Format\" value=\"html\"> "
               "Use rich text (HTML)</td></tr>\r\n"
               "<tr><td></td><td><input type=\"checkbox\" name=\"SaveCopy\" value=\"yes\" checked>"
               " Save a copy in the Sent folder</td></tr>\r\n"
               "<tr><td></td><td><input type=\"submit\" name=\"SEND\" value=\"Send\"> "
               "<input type=\"submit\" name=\"SAV\" value=\"Save as a Draft\"> "
               "<input type=\"submit\" name=\"CAN\" value=\"Cancel\"></td></tr>\r\n"
               "</table>\r\n</form>\r\n";
    return page(mailTitle(user), user, crumb, inboxUnread, content);
}

std::string SitePages::sent(const std::string& user, const std::string& crumb,
                            const std::string& to, int inboxUnread) const {
    std::string content = "<h2>Message Sent</h2>\r\n<p>Your mail has been sent to: <b>" +
                          htmlEscape(to) + "</b></p>\r\n<p><a href=\"" + folderLink("Inbox") +
                          "\">Back to Inbox</a> | <a href=\"/vm/Compose\">Compose another</a>"
                          "</p>\r\n";
    return page(mailTitle(user), user, crumb, inboxUnread, content);
}

std::string SitePages::failure(const std::string& user, const std::string& crumb,
                               const std::string& heading, const std::string& text,
                               int inboxUnread) const {
    std::string content = "<h2>" + htmlEscape(heading) + "</h2>\r\n<p class=\"error\">" +
                          htmlEscape(text) + "</p>\r\n<p><a href=\"" + folderLink("Inbox") +
                          "\">Back to Inbox</a></p>\r\n";
    return page(mailTitle(user), user, crumb, inboxUnread, content);
}

std::string SitePages::status(int code, const std::string& text) {
    std::string c = std::to_string(code);
    return "<html>\r\n<head><title>" + c + " " + htmlEscape(text) +
           "</title></head>\r\n<body>\r\n<h1>" + htmlEscape(text) + "</h1>\r\n<p>Error " + c +
           ". Please try again later.</p>\r\n<hr>\r\n<address>VurelWebServer/1.0</address>\r\n"
           "</body>\r\n</html>\r\n";
}

} // namespace quill::site
