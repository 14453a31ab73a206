// libFuzzer target for the HTTP answer reader: raw answers, gzip bodies
// included, handed to the client in slices of any size, then read as the
// sign-in and listing pages are. Every answer must be read in bounded memory
// and time or fail with one of the client's defined exceptions; nothing may
// crash or read out of bounds.
//
// Input: byte 0 is the slice size of each receive (0: whole chunks of 16 KiB),
// byte 1 chooses what the client does with the answers (sign-in, listing, one
// message). The rest is split at each "\n=====\n" into whole HTTP answers,
// handed out one per request (then the site closes at once).

#include "net/ByteChannel.h"
#include "net/CBlockSocket.h"
#include "webmail/CVurelClient.h"
#include "webmail/GzipReader.h"
#include "webmail/HttpResponse.h"

#include "support/OpenVurelClient.h"
#include "support/ScriptedPeer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace quill;

std::vector<std::string> split(const std::uint8_t* data, std::size_t size) {
    static const std::string kSeparator = "\n=====\n";
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> answers;
    std::size_t start = 0;
    while (answers.size() < 16) {
        const std::size_t end = input.find(kSeparator, start);
        answers.push_back(input.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + kSeparator.size();
    }
    return answers;
}

void readAnswer(const std::string& raw) {
    try {
        const HttpResponse response(raw);
        (void)response.statusCode();
        (void)response.headerValue("Location: ");
        (void)response.setCookiePairs();
        // The same body under a small bound: the failure must be the defined one.
        GzipReader::decode(response.body(), 1u << 16);
    } catch (const CVurelClient::Error&) {
    } catch (const GzipReader::TooLarge&) {
    } catch (const GzipReader::Corrupt&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::vector<std::string> answers = split(data + 2, size - 2);
    for (const std::string& answer : answers) {
        readAnswer(answer);
    }

    SiteConfig site;
    site.frontPage = "http://front.test/";
    site.loginPage = "http://login.test/config/login";
    site.mailDomain = "vurel.example";
    OpenVurelClient client(site);
    CookieRecord record;
    record.set("ann", "S=1; ", "us.mail.test", 1700000000);
    client.adoptSession(record);
    std::size_t next = 0;
    const std::size_t slice = data[0];
    client.setChannelFactory([&]() -> std::shared_ptr<ByteChannel> {
        std::vector<std::string> answer{next < answers.size() ? answers[next++] : ""};
        return std::make_shared<ScriptedPeer>(std::move(answer), slice == 0 ? 16384 : slice);
    });
    try {
        switch (data[1] % 3) {
        case 0:
            client.login("ann", "pw");
            client.listInbox();
            break;
        case 1:
            client.listInbox();
            break;
        default:
            client.fetchText(MessageRef("m1", 1));
            break;
        }
    } catch (const CVurelClient::Error&) {
    } catch (const CBlockSocket::Error&) {
    }
    return 0;
}
