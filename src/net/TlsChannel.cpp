#include "net/TlsChannel.h"

#include "platform/TlsClient.h"

#include <utility>

namespace quill {

class TlsChannel::Transport : public platform::TlsTransport {
public:
    explicit Transport(ByteChannel& channel) : channel_(channel) {}
    std::size_t receive(void* buffer, std::size_t capacity) override {
        return channel_.receive(buffer, capacity);
    }
    void write(const void* bytes, std::size_t length) override { channel_.write(bytes, length); }

private:
    ByteChannel& channel_;
};

TlsChannel::TlsChannel(std::shared_ptr<ByteChannel> transport, std::string serverName)
    : transport_(std::move(transport)), serverName_(std::move(serverName)),
      adapter_(std::make_unique<Transport>(*transport_)) {}

TlsChannel::~TlsChannel() = default;

void TlsChannel::connect(const std::string& host, int port) {
    transport_->connect(host, port);
    handshake(port);
}

void TlsChannel::handshake(int port) {
    tls_ = platform::TlsClient::create(*adapter_, serverName_, port);
    tls_->handshake();
}

std::size_t TlsChannel::receive(void* buffer, std::size_t capacity) {
    if (!tls_) {
        throw platform::TlsError("receive before the handshake");
    }
    return tls_->receive(buffer, capacity);
}

void TlsChannel::write(const void* bytes, std::size_t length) {
    if (!tls_) {
        throw platform::TlsError("write before the handshake");
    }
    tls_->write(bytes, length);
}

void TlsChannel::close() noexcept {
    transport_->close();
}

void TlsChannel::finish() noexcept {
    if (tls_) {
        tls_->shutdown();
    }
    transport_->finish();
}

bool TlsChannel::endConfirmed() const noexcept {
    return tls_ && tls_->closeNotifyReceived();
}

} // namespace quill
