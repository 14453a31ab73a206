// Feeds the web-mail client answers made of the fuzz input: the input is split
// at each "\n=====\n" into whole HTTP responses, handed out one per request
// (then 404). The client signs in, lists the inbox, fetches and deletes. Every
// failure must be one of the client's defined exceptions; nothing may crash,
// hang or read out of bounds, and no request may carry a line break that a
// page put there.

#include "net/CBlockSocket.h"
#include "webmail/ByteChannel.h"
#include "webmail/CVurelClient.h"

#include "support/OpenVurelClient.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

namespace {

using namespace quill;

// One exchange: checks the request, then answers with one scripted response.
class ScriptChannel : public ByteChannel {
public:
    explicit ScriptChannel(std::string answer) : answer_(std::move(answer)) {}

    void connect(const std::string&, int) override {}
    std::size_t receive(void* buffer, std::size_t capacity) override {
        if (!checked_) {
            checkRequest();
            checked_ = true;
        }
        const std::size_t n = std::min(capacity, answer_.size() - offset_);
        std::memcpy(buffer, answer_.data() + offset_, n);
        offset_ += n;
        return n;
    }
    void write(const void* bytes, std::size_t length) override {
        sent_.append(static_cast<const char*>(bytes), length);
    }
    void close() noexcept override {}

private:
    // Only the request line and header lines end in CR LF; a CR, LF or NUL
    // anywhere else in the header means a page split our request.
    void checkRequest() const {
        const std::string header = sent_.substr(0, sent_.find("\r\n\r\n"));
        for (std::size_t i = 0; i < header.size(); ++i) {
            if (header.compare(i, 2, "\r\n") == 0) {
                ++i;
            } else if (header[i] == '\r' || header[i] == '\n' || header[i] == '\0') {
                std::abort();
            }
        }
    }

    std::string answer_;
    std::string sent_;
    bool checked_ = false;
    std::size_t offset_ = 0;
};

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

    OpenVurelClient client;
    client.setChannelFactory([answers] {
        std::string answer = "HTTP/1.0 404 Not Found\r\n\r\n";
        if (!answers->empty()) {
            answer = answers->front();
            answers->pop_front();
        }
        return std::make_shared<ScriptChannel>(answer);
    });
    try {
        client.login("ann", "secret");
    } catch (const CVurelClient::Error&) {
        CookieRecord record;
        record.set("ann", "S=1; ", "us.mail.vurel.example", 1);
        client.adoptSession(record);
    } catch (const CBlockSocket::Error&) {
        return 0;
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
    return 0;
}
