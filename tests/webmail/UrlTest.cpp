#include "webmail/Url.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(Url, Splits) {
    const struct {
        std::string text, host;
        int port;
        std::string path, origin;
    } cases[] = {
        {"http://mail.vurel.test/vm/ShowFolder?box=Inbox", "mail.vurel.test", 80,
         "/vm/ShowFolder?box=Inbox", "http://mail.vurel.test"},
        {"http://127.0.0.1:8080/", "127.0.0.1", 8080, "/", "http://127.0.0.1:8080"},
        {"http://host:8080/a/b?c=http://x/", "host", 8080, "/a/b?c=http://x/", "http://host:8080"},
        {"http://host/", "host", 80, "/", "http://host"},
        {"http://host", "host", 80, "/", "http://host"},
        {"http://host:/x", "host", 0, "/x", "http://host:0"},
        {"http://host:99999999999/x", "host", 65536, "/x", "http://host:65536"},
        {"http://host:12ab/x", "host", 12, "/x", "http://host:12"},
        {"https://mail.vurel.test/vm/x", "mail.vurel.test", 443, "/vm/x",
         "https://mail.vurel.test"},
        {"https://host:8443/?u=http://x/", "host", 8443, "/?u=http://x/", "https://host:8443"},
        {"https://host:80", "host", 80, "/", "https://host:80"},
        {"xhttps://host/", "", 80, "", ""},
        {"ftp://host/x", "", 80, "", ""},
        {"", "", 80, "", ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Url url(cases[i].text);
        EXPECT_EQ(url.host, cases[i].host) << "case " << i;
        EXPECT_EQ(url.port, cases[i].port) << "case " << i;
        EXPECT_EQ(url.path, cases[i].path) << "case " << i;
        EXPECT_EQ(url.scheme.empty() ? "" : url.origin(), cases[i].origin) << "case " << i;
    }
}

} // namespace
} // namespace quill
