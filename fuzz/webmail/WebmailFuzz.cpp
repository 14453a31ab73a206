// Feeds the web-mail client answers made of the fuzz input: the input is split
// at each "\n=====\n" into whole HTTP responses, handed out one per request
// (then 404). The client signs in, lists the inbox, fetches and deletes. Every
// failure must be one of the client's defined exceptions; nothing may crash,
// hang or read out of bounds, and no request may carry a line break that a
// page put there.

#include "net/ByteChannel.h"
#include "net/CBlockSocket.h"
#include "webmail/CVurelClient.h"

#include "support/OpenVurelClient.h"
#include "support/ScriptedPeer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace quill;

// Only the request line and header lines end in CR LF; a CR, LF or NUL
// anywhere else in the header means a page split our request.
void checkRequest(const std::string& sent) {
    const std::string header = sent.substr(0, sent.find("\r\n\r\n"));
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header.compare(i, 2, "\r\n") == 0) {
            ++i;
        } else if (header[i] == '\r' || header[i] == '\n' || header[i] == '\0') {
            std::abort();
        }
    }
}

// Signs in (or adopts a session when the sign-in is refused), lists, fetches
// and deletes; every failure must be one of the defined exceptions.
void run(OpenVurelClient& client) {
    try {
        client.login("ann", "secret");
    } catch (const CVurelClient::Error&) {
        CookieRecord record;
        record.set("ann", "S=1; ", "us.mail.vurel.example", 1);
        client.adoptSession(record);
    } catch (const CBlockSocket::Error&) {
        return;
    }
    try {
        const MessageList list = client.listInbox();
        if (!list.empty()) {
            client.fetchHeader(list.front());
            client.fetchText(list.back());
        }
        client.deleteMessages(list);
        client.emptyTrash();
    } catch (const CVurelClient::Error&) {
    } catch (const CBlockSocket::Error&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    auto answers = std::make_shared<std::deque<std::string>>();
    static const std::string kSeparator = "\n=====\n";
    for (std::size_t start = 0;;) {
        const std::size_t at = input.find(kSeparator, start);
        answers->push_back(input.substr(start, at == std::string::npos ? at : at - start));
        if (at == std::string::npos) {
            break;
        }
        start = at + kSeparator.size();
    }

    // One scripted site per exchange; each request is checked at the end.
    // Exchanges run on several threads at once (the listing's pages), so the
    // script is taken under a lock.
    std::vector<std::shared_ptr<ScriptedPeer>> sites;
    std::mutex scriptLock;
    OpenVurelClient client;
    client.setChannelFactory([answers, &sites, &scriptLock] {
        std::lock_guard<std::mutex> hold(scriptLock);
        std::string answer = "HTTP/1.0 404 Not Found\r\n\r\n";
        if (!answers->empty()) {
            answer = answers->front();
            answers->pop_front();
        }
        sites.push_back(std::make_shared<ScriptedPeer>(std::vector<std::string>{answer}));
        return sites.back();
    });
    // An https page is looked through: its request reaches the scripted site
    // as text and is checked like any other (a handshake would only be
    // refused by the script).
    client.setTlsFactory(
        [](std::shared_ptr<ByteChannel> transport, const std::string&) { return transport; });
    run(client);
    for (const auto& site : sites) {
        checkRequest(site->written());
    }
    return 0;
}
