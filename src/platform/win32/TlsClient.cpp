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
#include <cstdio>
#include <cstring>
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

constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                  ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                  ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;
constexpr DWORD kAcceptedProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
constexpr DWORD kOldProtocols =
    SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;

// TLS record and handshake bytes looked at before SChannel sees them.
constexpr unsigned char kRecordAlert = 21;
constexpr unsigned char kRecordHandshake = 22;
constexpr unsigned char kAlertProtocolVersion = 70;
constexpr unsigned char kServerHello = 2;
constexpr unsigned kTls12Wire = 0x0303;

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

bool certificateHasIPv4(PCCERT_CONTEXT certificate, const unsigned char (&address)[4]) {
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
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
                std::memcmp(entry.IPAddress.pbData, address, 4) == 0;
    }
    LocalFree(names);
    return found;
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
    SchannelClient(TlsTransport& transport, const std::string& hostName)
        : transport_(transport), host_(hostName), wideHost_(hostName.begin(), hostName.end()),
          isAddress_(dottedIPv4(hostName, address_)) {
        SecInvalidateHandle(&credentials_);
        SecInvalidateHandle(&context_);
    }

    ~SchannelClient() override {
        if (haveContext_)
            DeleteSecurityContext(&context_);
        if (haveCredentials_)
            FreeCredentialsHandle(&credentials_);
    }

    void handshake() override {
        if (state_ != State::Fresh)
            throw TlsError("handshake failed: already begun");
        state_ = State::Broken; // until the handshake has succeeded
        acquireCredentials();
        input_.resize(kInitialBuffer);
        used_ = 0;
        negotiate(true);
        checkConnection();
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
                &credentials_, &context_, targetName(), kContextRequest, 0, 0, nullptr, 0, nullptr,
                &out.desc, &attributes, nullptr);
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

    void acquireCredentials() {
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
                                      nullptr, nullptr, &credentials_, &expiry);
        if (status != SEC_E_OK) {
            SCHANNEL_CRED classic{};
            classic.dwVersion = SCHANNEL_CRED_VERSION;
            classic.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
            classic.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
            status = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr,
                                               &classic, nullptr, nullptr, &credentials_, &expiry);
        }
        if (status != SEC_E_OK)
            throw TlsError(errorText("handshake failed: no credentials", status));
        haveCredentials_ = true;
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

    // Runs InitializeSecurityContext until the context is complete: the
    // handshake (first) or a post-handshake exchange the peer asked for,
    // with the bytes already in input_ as its start.
    void negotiate(bool first) {
        // The first call of a post-handshake exchange gets what is there,
        // even nothing: SChannel may need no more.
        bool needInput = false;
        bool start = first;
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
            }
            SecBuffer in[2]{{static_cast<unsigned long>(used_), SECBUFFER_TOKEN, input_.data()},
                            {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
            OutputToken out;
            ULONG attributes = 0;
            SECURITY_STATUS status = InitializeSecurityContextW(
                &credentials_, start ? nullptr : &context_, targetName(), kContextRequest, 0, 0,
                start ? nullptr : &inDesc, 0, start ? &context_ : nullptr, &out.desc, &attributes,
                nullptr);
            if (start && !FAILED(status))
                haveContext_ = true;
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                needInput = true;
                continue;
            }
            if (FAILED(status))
                fail(errorText("handshake failed", status));
            if (out.buffers[0].cbBuffer > 0 && out.buffers[0].pvBuffer != nullptr)
                sendAll(out.buffers[0].pvBuffer, out.buffers[0].cbBuffer);
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
            if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
                // The server asks for a client certificate: go on without.
                needInput = false;
                continue;
            }
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

        // The policy checks a DNS name; an address is looked for among the
        // certificate's IP subject names here, as not every implementation
        // of the policy does that.
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbStruct = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.fdwChecks = isAddress_ ? kPolicyIgnoreName : 0;
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
        if (isAddress_ && !certificateHasIPv4(certificate, address_))
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
    unsigned char address_[4]{};
    bool isAddress_;
    State state_ = State::Fresh;
    CredHandle credentials_;
    CtxtHandle context_;
    bool haveCredentials_ = false;
    bool haveContext_ = false;
    bool firstRecordChecked_ = false;
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

std::unique_ptr<TlsClient> TlsClient::create(TlsTransport& transport, const std::string& hostName) {
    return std::make_unique<SchannelClient>(transport, hostName);
}

} // namespace quill::platform
