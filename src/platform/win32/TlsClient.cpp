// TLS through the system's SChannel (SSPI, secur32.dll), with the server's
// certificate checked here (crypt32.dll): SChannel is told to leave the
// certificate alone, since some implementations (wine's) check nothing.
//
// Minimum Windows: 7 SP1 / Server 2008 R2, the first whose SChannel speaks
// TLS 1.2 (asked for by name, so a registry "disabled by default" does not
// keep it off). TLS 1.3 where SChannel has it (Windows 11 / Server 2022),
// through the SCH_CREDENTIALS form that Windows 10 1809 and later accept;
// older systems take the SCHANNEL_CRED form limited to TLS 1.2.
// No revocation is fetched.
//
// Sessions: SChannel keeps a client's sessions by credentials handle and
// target name, and offers one at the next handshake with both. The target
// name is also the server name indication and cannot carry the port, so each
// server (host name and port) gets a credentials handle of its own, kept
// process-wide: a session is offered to the server it came from only. A
// handle whose handshake failed is forgotten, and every handshake, resumed
// or not, checks the certificate and the name again. Early data is never
// sent (SChannel has no way to ask for it).

#include "platform/TlsClient.h"

#include <windows.h>

#include <subauth.h>
#include <wincrypt.h>
// SCH_CREDENTIALS and TLS_PARAMETERS.
#define SCHANNEL_USE_BLACKLISTS
#include <schannel.h>
#define SECURITY_WIN32
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace quill::platform {

namespace {

// The server's handshake flight (its certificate chain above all) must fit:
// far above any real chain, low enough that a hostile peer cannot make us
// hold an unbounded amount.
constexpr std::size_t kMaxHandshakeBuffer = 1024 * 1024;
constexpr std::size_t kInitialBuffer = 16 * 1024 + 512;
// Tells the SSL policy to skip the name, for a name checked here instead
// (wininet's SECURITY_FLAG_IGNORE_CERT_CN_INVALID; wininet.h is not wanted).
constexpr DWORD kPolicyIgnoreName = 0x00001000;
// A sign-in talks to one or two servers: far more credentials handles than
// that are kept (each with its sessions), but not without bound.
constexpr std::size_t kMaxServers = 64;
// SEC_I_INCOMPLETE_CREDENTIALS answered by calling again with the same
// input: once is enough; a loop beyond this is SChannel's fault.
constexpr int kMaxCredentialRetries = 3;

// ISC_REQ_USE_SUPPLIED_CREDS: a server that asks for a client certificate
// gets none rather than one SChannel picks from the user's store.
constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                  ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION |
                                  ISC_REQ_USE_SUPPLIED_CREDS;
constexpr DWORD kAcceptedProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
constexpr DWORD kOldProtocols =
    SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;

// TLS record and handshake bytes looked at before SChannel sees them.
constexpr unsigned char kRecordAlert = 21;
constexpr unsigned char kRecordHandshake = 22;
constexpr unsigned char kAlertProtocolVersion = 70;
constexpr unsigned char kClientHello = 1;
constexpr unsigned char kServerHello = 2;
constexpr unsigned kTls12Wire = 0x0303;
constexpr unsigned kTls13Wire = 0x0304;
constexpr unsigned kExtensionPreSharedKey = 41;
constexpr unsigned kExtensionSupportedVersions = 43;

std::string errorText(const char* what, SECURITY_STATUS status) {
    const char* name = nullptr;
    switch (status) {
    case SEC_E_ILLEGAL_MESSAGE:
        name = "illegal message";
        break;
    case SEC_E_ALGORITHM_MISMATCH:
        name = "no common algorithm";
        break;
    case SEC_E_UNSUPPORTED_FUNCTION:
        name = "unsupported by the peer";
        break;
    case SEC_E_INVALID_TOKEN:
        name = "invalid token";
        break;
    case SEC_E_DECRYPT_FAILURE:
        name = "decrypt failure";
        break;
    case SEC_E_MESSAGE_ALTERED:
        name = "message altered";
        break;
    case SEC_E_INTERNAL_ERROR:
        name = "internal error";
        break;
    default:
        break;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%s: %s%s0x%08lx", what, name ? name : "", name ? ", " : "",
                  static_cast<unsigned long>(status));
    return text;
}

// Frees a buffer that SSPI allocated (ISC_REQ_ALLOCATE_MEMORY) on every path.
struct OutputToken {
    SecBuffer buffers[2]{{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 2, buffers};

    OutputToken() = default;
    OutputToken(const OutputToken&) = delete;
    OutputToken& operator=(const OutputToken&) = delete;
    ~OutputToken() {
        for (SecBuffer& b : buffers)
            if (b.pvBuffer != nullptr)
                FreeContextBuffer(b.pvBuffer);
    }
};

// A strict dotted IPv4 address: four decimal parts of at most 255.
bool dottedIPv4(const std::string& text, unsigned char (&address)[4]) {
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.'))
            return false;
        std::size_t begin = at;
        unsigned value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - begin < 3)
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        if (at == begin || value > 255)
            return false;
        address[part] = static_cast<unsigned char>(value);
    }
    return at == text.size();
}

// True when match(entry) holds for one of the certificate's subject
// alternative names; false without that extension. The common name is
// never looked at.
template <class Match> bool anySubjectAltName(PCCERT_CONTEXT certificate, Match match) {
    PCERT_EXTENSION extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension,
                          certificate->pCertInfo->rgExtension);
    if (extension == nullptr)
        return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                             &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i)
        found = match(names->rgAltEntry[i]);
    LocalFree(names);
    return found;
}

bool certificateHasIPv4(PCCERT_CONTEXT certificate, const unsigned char (&address)[4]) {
    return anySubjectAltName(certificate, [&](const CERT_ALT_NAME_ENTRY& entry) {
        return entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
               std::memcmp(entry.IPAddress.pbData, address, 4) == 0;
    });
}

char asciiLower(wchar_t c) {
    return static_cast<char>(c >= L'A' && c <= L'Z' ? c - L'A' + 'a' : c);
}

// A DNS subject name matches host (in lower case): equal but for ASCII case,
// or "*." and two labels or more, the "*" standing for the host's whole
// first label (one label deep: never a part of a label, never several).
// A name with anything but ASCII in it matches nothing.
bool dnsNameMatches(const wchar_t* pattern, const std::string& host) {
    std::string name;
    for (const wchar_t* c = pattern; *c != 0; ++c) {
        if (*c <= 0x20 || *c >= 0x7f)
            return false;
        name += asciiLower(*c);
    }
    if (name == host)
        return true;
    if (name.size() < 2 || name[0] != '*' || name[1] != '.')
        return false;
    const std::string suffix = name.substr(1); // ".rest"
    if (suffix.find('.', 1) == std::string::npos || suffix.find('*') != std::string::npos)
        return false;
    const std::size_t firstDot = host.find('.');
    return firstDot != std::string::npos && firstDot > 0 &&
           host.compare(firstDot, std::string::npos, suffix) == 0;
}

bool certificateHasDnsName(PCCERT_CONTEXT certificate, const std::string& host) {
    std::string lower;
    for (char c : host)
        lower += asciiLower(static_cast<unsigned char>(c));
    return anySubjectAltName(certificate, [&](const CERT_ALT_NAME_ENTRY& entry) {
        return entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME && entry.pwszDNSName != nullptr &&
               dnsNameMatches(entry.pwszDNSName, lower);
    });
}

// A credentials handle: no client certificate, the server's certificate
// left to us, TLS 1.2 and 1.3.
class Credentials {
public:
    Credentials() {
        SecInvalidateHandle(&handle_);
        // The newer form first: the one that lets SChannel offer TLS 1.3.
        // Where its TLS parameters are ignored (wine 8), older versions are
        // offered as well; the checks of the server's first record and of
        // the negotiated version still refuse them.
        TLS_PARAMETERS parameters{};
        parameters.grbitDisabledProtocols = kOldProtocols;
        SCH_CREDENTIALS modern{};
        modern.dwVersion = SCH_CREDENTIALS_VERSION;
        modern.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        modern.cTlsParameters = 1;
        modern.pTlsParameters = &parameters;
        TimeStamp expiry;
        SEC_WCHAR package[] = UNISP_NAME_W;
        SECURITY_STATUS status =
            AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern,
                                      nullptr, nullptr, &handle_, &expiry);
        if (status != SEC_E_OK) {
            SCHANNEL_CRED classic{};
            classic.dwVersion = SCHANNEL_CRED_VERSION;
            classic.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
            classic.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
            status = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr,
                                               &classic, nullptr, nullptr, &handle_, &expiry);
        }
        if (status != SEC_E_OK)
            throw TlsError(errorText("handshake failed: no credentials", status));
    }
    ~Credentials() { FreeCredentialsHandle(&handle_); }
    Credentials(const Credentials&) = delete;
    Credentials& operator=(const Credentials&) = delete;

    CredHandle* handle() noexcept { return &handle_; }

private:
    CredHandle handle_;
};

// The credentials handle of each server ("host:port"), so that SChannel's
// session cache serves the next connection to it. A handle is freed when
// the last connection using it has ended after it left the map.
// Threads: the map is under mutex_; connections of any thread call in.
class ServerCredentials {
public:
    std::shared_ptr<Credentials> acquire(const std::string& key) {
        std::lock_guard<std::mutex> guard(mutex_);
        auto found = servers_.find(key);
        if (found != servers_.end()) {
            found->second.used = ++clock_;
            return found->second.credentials;
        }
        if (servers_.size() >= kMaxServers) {
            auto oldest = servers_.begin();
            for (auto at = servers_.begin(); at != servers_.end(); ++at)
                if (at->second.used < oldest->second.used)
                    oldest = at;
            servers_.erase(oldest);
        }
        auto made = std::make_shared<Credentials>();
        servers_.emplace(key, Entry{made, ++clock_});
        return made;
    }

    // Drops the handle of key if it is still credentials: its sessions are
    // offered no more.
    void forget(const std::string& key, const Credentials* credentials) noexcept {
        std::lock_guard<std::mutex> guard(mutex_);
        auto found = servers_.find(key);
        if (found != servers_.end() && found->second.credentials.get() == credentials)
            servers_.erase(found);
    }

private:
    struct Entry {
        std::shared_ptr<Credentials> credentials;
        std::uint64_t used; // clock_ when made or last handed out
    };
    std::mutex mutex_;
    std::map<std::string, Entry> servers_;
    std::uint64_t clock_ = 0;
};

ServerCredentials& serverCredentials() {
    // Never destroyed: freeing handles while the library unloads is not safe.
    static ServerCredentials* const credentials = new ServerCredentials;
    return *credentials;
}

// What the hellos say about resumption, where SChannel does not tell: in
// TLS 1.3 the server takes the offered session by answering with the
// pre_shared_key extension, in TLS 1.2 by echoing the session ID the client
// offered. hello is the server's first handshake record's body; false when
// it is no whole ServerHello (or a HelloRetryRequest, which has neither).
bool serverHelloResumes(const unsigned char* hello, std::size_t length,
                        const std::vector<unsigned char>& offeredId) {
    if (length < 4 || hello[0] != kServerHello)
        return false;
    const std::size_t end =
        std::min(length, 4 + (std::size_t(hello[1]) << 16 | std::size_t(hello[2]) << 8 | hello[3]));
    std::size_t at = 4 + 2 + 32; // the message's head, version and random
    if (at + 1 > end)
        return false;
    const std::size_t idLength = hello[at++];
    if (at + idLength + 3 > end)
        return false;
    const unsigned char* id = hello + at;
    at += idLength + 3; // the ID, the cipher suite and the compression method
    bool tls13 = false;
    bool preSharedKey = false;
    if (at + 2 <= end) {
        const std::size_t extensionsEnd = std::min(end, at + 2 + (hello[at] << 8 | hello[at + 1]));
        at += 2;
        while (at + 4 <= extensionsEnd) {
            const unsigned type = hello[at] << 8 | hello[at + 1];
            const std::size_t size = hello[at + 2] << 8 | hello[at + 3];
            at += 4;
            if (at + size > extensionsEnd)
                break;
            if (type == kExtensionSupportedVersions && size == 2 &&
                unsigned(hello[at] << 8 | hello[at + 1]) == kTls13Wire)
                tls13 = true;
            if (type == kExtensionPreSharedKey)
                preSharedKey = true;
            at += size;
        }
    }
    if (tls13)
        return preSharedKey;
    return idLength > 0 && idLength == offeredId.size() &&
           std::memcmp(id, offeredId.data(), idLength) == 0;
}

const char* certificateProblem(DWORD error) {
    switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
        return "certificate: unknown issuer";
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return "certificate: expired";
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return "certificate: name mismatch";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
        return "certificate: not for a server";
    default:
        return nullptr;
    }
}

class SchannelClient final : public TlsClient {
public:
    SchannelClient(TlsTransport& transport, const std::string& hostName, int port)
        : transport_(transport), host_(hostName), wideHost_(hostName.begin(), hostName.end()),
          serverKey_(hostName + ':' + std::to_string(port)),
          isAddress_(dottedIPv4(hostName, address_)) {
        SecInvalidateHandle(&context_);
    }

    // The context goes before the credentials handle it was made with.
    ~SchannelClient() override {
        if (haveContext_)
            DeleteSecurityContext(&context_);
    }

    void handshake() override {
        if (state_ != State::Fresh)
            throw TlsError("handshake failed: already begun");
        state_ = State::Broken; // until the handshake has succeeded
        credentials_ = serverCredentials().acquire(serverKey_);
        input_.resize(kInitialBuffer);
        used_ = 0;
        try {
            negotiate(true);
            checkConnection();
        } catch (...) {
            // Whatever SChannel kept of this handshake is never offered.
            serverCredentials().forget(serverKey_, credentials_.get());
            throw;
        }
        SecPkgContext_SessionInfo session{};
        if (QueryContextAttributesW(&context_, SECPKG_ATTR_SESSION_INFO, &session) == SEC_E_OK)
            resumed_ = (session.dwFlags & SSL_SESSION_RECONNECT) != 0;
        else
            resumed_ = helloResumes_; // wine's SChannel does not tell
        if (QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK)
            throw TlsError("handshake failed: no stream sizes");
        std::size_t record = sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer;
        if (input_.size() < record)
            input_.resize(record);
        output_.resize(record);
        state_ = State::Open;
    }

    std::size_t receive(void* buffer, std::size_t capacity) override {
        if (state_ == State::Fresh)
            throw TlsError("receive failed: no handshake");
        for (;;) {
            if (plainAt_ < plain_.size()) {
                std::size_t n = std::min(capacity, plain_.size() - plainAt_);
                std::memcpy(buffer, plain_.data() + plainAt_, n);
                plainAt_ += n;
                return n;
            }
            if (closeNotify_ || ended_ || capacity == 0)
                return 0;
            if (state_ == State::Broken)
                throw TlsError("receive failed: connection unusable");
            if (used_ > 0 && decryptOne())
                continue;
            if (used_ == input_.size())
                fail("receive failed: record too large");
            // A transport exception leaves everything as it was.
            std::size_t n = transport_.receive(input_.data() + used_, input_.size() - used_);
            if (n == 0) {
                ended_ = true;
                return 0;
            }
            used_ += n;
        }
    }

    void write(const void* bytes, std::size_t length) override {
        if (state_ != State::Open)
            throw TlsError("send failed: connection unusable");
        const char* from = static_cast<const char*>(bytes);
        while (length > 0) {
            std::size_t chunk = std::min<std::size_t>(length, sizes_.cbMaximumMessage);
            std::memcpy(output_.data() + sizes_.cbHeader, from, chunk);
            SecBuffer buffers[4]{{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, output_.data()},
                                 {static_cast<unsigned long>(chunk), SECBUFFER_DATA,
                                  output_.data() + sizes_.cbHeader},
                                 {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER,
                                  output_.data() + sizes_.cbHeader + chunk},
                                 {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            SECURITY_STATUS status = EncryptMessage(&context_, 0, &desc, 0);
            if (status != SEC_E_OK)
                fail(errorText("send failed", status));
            std::size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
            sendAll(output_.data(), total);
            from += chunk;
            length -= chunk;
        }
    }

    bool resumed() const noexcept override { return resumed_; }

    bool closeNotifyReceived() const noexcept override { return closeNotify_; }

    void shutdown() noexcept override {
        if (state_ != State::Open)
            return;
        state_ = State::Closed;
        try {
            DWORD type = SCHANNEL_SHUTDOWN;
            SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
            SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
            if (ApplyControlToken(&context_, &controlDesc) != SEC_E_OK)
                return;
            OutputToken out;
            ULONG attributes = 0;
            SECURITY_STATUS status = InitializeSecurityContextW(
                credentials_->handle(), &context_, targetName(), kContextRequest, 0, 0, nullptr, 0,
                nullptr, &out.desc, &attributes, nullptr);
            if ((status == SEC_E_OK || status == SEC_I_CONTEXT_EXPIRED) &&
                out.buffers[0].cbBuffer > 0)
                transport_.write(out.buffers[0].pvBuffer, out.buffers[0].cbBuffer);
        } catch (...) {
        }
    }

private:
    // Broken: a failure left the connection unusable (a handshake that did
    // not finish, a record half sent, a record that did not decrypt).
    enum class State { Fresh, Open, Closed, Broken };

    [[noreturn]] void fail(const std::string& text) {
        state_ = State::Broken;
        throw TlsError(text);
    }

    void sendAll(const void* bytes, std::size_t length) {
        try {
            transport_.write(bytes, length);
        } catch (...) {
            state_ = State::Broken;
            throw;
        }
    }

    SEC_WCHAR* targetName() {
        // Only a DNS name goes out as the server name indication.
        return isAddress_ ? nullptr : &wideHost_[0];
    }

    // The first record the server sends, looked at before SChannel sees it:
    // a server that does not speak TLS, answers with a version below TLS 1.2
    // or refuses ours with a protocol_version alert is named as such, instead
    // of as whatever general failure SChannel would report (or a wait for
    // more bytes that never come).
    void checkFirstRecord() {
        if (firstRecordChecked_ || used_ == 0)
            return;
        const unsigned char* b = input_.data();
        if (b[0] != kRecordAlert && b[0] != kRecordHandshake)
            fail("handshake failed: the server does not speak TLS");
        if (used_ < (b[0] == kRecordAlert ? 7u : 11u))
            return;
        if (b[0] == kRecordAlert && b[6] == kAlertProtocolVersion)
            fail("protocol too old");
        if (b[0] == kRecordHandshake && b[5] == kServerHello &&
            (unsigned(b[9]) << 8 | b[10]) < kTls12Wire)
            fail("protocol too old");
        firstRecordChecked_ = true;
    }

    // The server's first record once it is all there, before SChannel
    // consumes it: whether its ServerHello resumes the offered session.
    void readServerHello() {
        if (helloRead_ || !firstRecordChecked_)
            return;
        const unsigned char* b = input_.data();
        const std::size_t recordEnd = 5 + (std::size_t(b[3]) << 8 | b[4]);
        if (b[0] == kRecordHandshake && used_ < recordEnd)
            return;
        helloRead_ = true;
        helloResumes_ =
            b[0] == kRecordHandshake && serverHelloResumes(b + 5, recordEnd - 5, offeredSessionId_);
    }

    // The session ID of our ClientHello (a record of its own, the first).
    void readClientHello(const SecBuffer& token) {
        const unsigned char* b = static_cast<const unsigned char*>(token.pvBuffer);
        constexpr std::size_t kIdAt = 5 + 4 + 2 + 32; // record and message heads, version, random
        if (b == nullptr || token.cbBuffer <= kIdAt || b[0] != kRecordHandshake ||
            b[5] != kClientHello || token.cbBuffer < kIdAt + 1 + b[kIdAt])
            return;
        offeredSessionId_.assign(b + kIdAt + 1, b + kIdAt + 1 + b[kIdAt]);
    }

    // Runs InitializeSecurityContext until the context is complete: the
    // handshake (first) or a post-handshake exchange the peer asked for,
    // with the bytes already in input_ as its start.
    void negotiate(bool first) {
        // The first call of a post-handshake exchange gets what is there,
        // even nothing: SChannel may need no more.
        bool needInput = false;
        bool start = first;
        int credentialRetries = 0;
        for (;;) {
            if (needInput) {
                if (used_ == input_.size()) {
                    if (input_.size() >= kMaxHandshakeBuffer)
                        fail("handshake failed: server message too large");
                    input_.resize(std::min(input_.size() * 2, kMaxHandshakeBuffer));
                }
                std::size_t n;
                try {
                    n = transport_.receive(input_.data() + used_, input_.size() - used_);
                } catch (...) {
                    state_ = State::Broken;
                    throw;
                }
                if (n == 0)
                    fail("handshake failed: connection closed by the server");
                used_ += n;
                checkFirstRecord();
                readServerHello();
            }
            SecBuffer in[2]{{static_cast<unsigned long>(used_), SECBUFFER_TOKEN, input_.data()},
                            {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
            OutputToken out;
            ULONG attributes = 0;
            SECURITY_STATUS status = InitializeSecurityContextW(
                credentials_->handle(), start ? nullptr : &context_, targetName(), kContextRequest,
                0, 0, start ? nullptr : &inDesc, 0, start ? &context_ : nullptr, &out.desc,
                &attributes, nullptr);
            if (start && !FAILED(status))
                haveContext_ = true;
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                needInput = true;
                continue;
            }
            if (FAILED(status))
                fail(errorText("handshake failed", status));
            if (first && start)
                readClientHello(out.buffers[0]);
            if (out.buffers[0].cbBuffer > 0 && out.buffers[0].pvBuffer != nullptr)
                sendAll(out.buffers[0].pvBuffer, out.buffers[0].cbBuffer);
            if (status == SEC_I_INCOMPLETE_CREDENTIALS && !start) {
                // The server asks for a client certificate. None is offered
                // (the credentials have none, ISC_REQ_USE_SUPPLIED_CREDS keeps
                // SChannel from looking for one): the same input, untouched,
                // goes in again, and SChannel answers without a certificate.
                if (++credentialRetries > kMaxCredentialRetries)
                    fail("handshake failed: the server's request for a client certificate");
                needInput = false;
                continue;
            }
            if (!start) {
                if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0) {
                    std::memmove(input_.data(), input_.data() + used_ - in[1].cbBuffer,
                                 in[1].cbBuffer);
                    used_ = in[1].cbBuffer;
                } else {
                    used_ = 0;
                }
            }
            start = false;
            if (status == SEC_E_OK)
                return;
            if (status != SEC_I_CONTINUE_NEEDED)
                fail(errorText("handshake failed", status));
            needInput = used_ == 0;
        }
    }

    // The negotiated version and the server's certificate: chain to a root of
    // the system's store, in its validity period, issued for host_.
    void checkConnection() {
        SecPkgContext_ConnectionInfo info{};
        if (QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK)
            fail("handshake failed: no connection information");
        if ((info.dwProtocol & kAcceptedProtocols) == 0)
            fail("protocol too old");

        PCCERT_CONTEXT certificate = nullptr;
        if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
                SEC_E_OK ||
            certificate == nullptr)
            fail("handshake failed: no server certificate");
        std::string problem = verify(certificate);
        CertFreeCertificateContext(certificate);
        if (!problem.empty())
            fail(problem);
    }

    std::string verify(PCCERT_CONTEXT certificate) {
        LPSTR serverUsage = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
        CERT_CHAIN_PARA chainPara{};
        chainPara.cbSize = sizeof chainPara;
        chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
        chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = &serverUsage;
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        // The certificates the server sent come with its store.
        if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore,
                                     &chainPara, 0, nullptr, &chain))
            return errorText("certificate: no chain", static_cast<SECURITY_STATUS>(GetLastError()));

        // The name is checked here, not by the policy: the policy takes the
        // common name of a certificate without DNS subject names, and not
        // every implementation of it looks among the IP subject names.
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbStruct = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.fdwChecks = kPolicyIgnoreName;
        ssl.pwszServerName = &wideHost_[0];
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS result{};
        result.cbSize = sizeof result;
        BOOL checked =
            CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &result);
        DWORD chainErrors = chain->TrustStatus.dwErrorStatus;
        CertFreeCertificateChain(chain);
        if (!checked)
            return "certificate: policy check failed";
        if (result.dwError != 0) {
            if (const char* known = certificateProblem(result.dwError))
                return known;
            return errorText("certificate: rejected", static_cast<SECURITY_STATUS>(result.dwError));
        }
        // What the chain says stands even where the policy let it pass (wine's
        // passes a chain that ends at a certificate nobody trusts).
        if (chainErrors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                           CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_CYCLIC))
            return "certificate: unknown issuer";
        if (chainErrors & CERT_TRUST_IS_NOT_TIME_VALID)
            return "certificate: expired";
        if (chainErrors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
            return "certificate: not for a server";
        if (chainErrors != CERT_TRUST_NO_ERROR)
            return errorText("certificate: rejected", static_cast<SECURITY_STATUS>(chainErrors));
        if (isAddress_ ? !certificateHasIPv4(certificate, address_)
                       : !certificateHasDnsName(certificate, host_))
            return "certificate: name mismatch";
        return {};
    }

    // Decrypts the first record of input_ into plain_. False when the
    // record is not all there yet.
    bool decryptOne() {
        SecBuffer buffers[4]{{static_cast<unsigned long>(used_), SECBUFFER_DATA, input_.data()},
                             {0, SECBUFFER_EMPTY, nullptr},
                             {0, SECBUFFER_EMPTY, nullptr},
                             {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        // Decryption happens in place: the record's type is read first.
        bool alertRecord = input_[0] == kRecordAlert;
        SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            return false;
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
            fail(errorText("receive failed", status));
        plain_.clear();
        plainAt_ = 0;
        const SecBuffer* extra = nullptr;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
                const char* data = static_cast<const char*>(b.pvBuffer);
                plain_.assign(data, data + b.cbBuffer);
            } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) {
                extra = &b;
            }
        }
        if (extra != nullptr) {
            std::memmove(input_.data(), input_.data() + used_ - extra->cbBuffer, extra->cbBuffer);
            used_ = extra->cbBuffer;
        } else {
            used_ = 0;
        }
        // SChannel names close_notify with SEC_I_CONTEXT_EXPIRED; wine's
        // says SEC_E_OK with no data for it, on the one alert that is no
        // error (in TLS 1.2, where the record's type is in the clear).
        if (status == SEC_I_CONTEXT_EXPIRED ||
            (status == SEC_E_OK && alertRecord && plain_.empty())) {
            closeNotify_ = true;
        } else if (status == SEC_I_RENEGOTIATE) {
            // A post-handshake message (TLS 1.3 tickets, a key update, or a
            // renegotiation): SChannel takes it through the handshake call.
            // A new certificate would be checked like the first.
            negotiate(false);
            checkConnection();
        }
        return true;
    }

    TlsTransport& transport_;
    std::string host_;
    std::wstring wideHost_;
    const std::string serverKey_; // "host:port": whose credentials handle
    unsigned char address_[4]{};
    bool isAddress_;
    State state_ = State::Fresh;
    std::shared_ptr<Credentials> credentials_; // made by handshake()
    CtxtHandle context_;
    bool haveContext_ = false;
    bool firstRecordChecked_ = false;
    bool helloRead_ = false;
    bool helloResumes_ = false;                   // what the hellos said
    bool resumed_ = false;                        // what resumed() tells
    std::vector<unsigned char> offeredSessionId_; // of our ClientHello
    SecPkgContext_StreamSizes sizes_{};
    // Received bytes not yet decrypted: input_[0, used_).
    std::vector<unsigned char> input_;
    std::size_t used_ = 0;
    // Decrypted bytes not yet handed out: plain_[plainAt_, end).
    std::vector<char> plain_;
    std::size_t plainAt_ = 0;
    std::vector<char> output_;
    bool closeNotify_ = false;
    bool ended_ = false;
};

} // namespace

std::unique_ptr<TlsClient> TlsClient::create(TlsTransport& transport, const std::string& hostName,
                                             int port) {
    return std::make_unique<SchannelClient>(transport, hostName, port);
}

} // namespace quill::platform
