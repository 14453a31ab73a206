// Makes the TLS test's CA a trusted root of the wine prefix the tests run in
// (the local machine's Root store of that prefix, never the host's): removes
// the roots an earlier run added under the same name, then adds the one in
// the PEM file given.
//
// Usage: quill_trust_test_root CA.pem     exits 0 when the root is in place

#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool fail(const char* what) {
    std::fprintf(stderr, "quill_trust_test_root: %s (error 0x%08lx)\n", what,
                 static_cast<unsigned long>(GetLastError()));
    return false;
}

bool trust(const std::string& pem) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                              nullptr))
        return fail("not a PEM certificate");
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                              nullptr))
        return fail("not a PEM certificate");
    PCCERT_CONTEXT certificate = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
    if (certificate == nullptr)
        return fail("not a certificate");

    HCERTSTORE root =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (root == nullptr) {
        CertFreeCertificateContext(certificate);
        return fail("cannot open the Root store");
    }
    // Earlier runs made CAs of the same name with other keys.
    for (;;) {
        PCCERT_CONTEXT old =
            CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                       &certificate->pCertInfo->Subject, nullptr);
        if (old == nullptr)
            break;
        if (!CertDeleteCertificateFromStore(old))
            break;
    }
    bool added =
        CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    if (!added)
        fail("cannot add the certificate");
    // Written out now: wine keeps the store open (and unwritten) past the
    // close while a deleted certificate still holds a reference to it.
    if (added && !CertControlStore(root, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
        fail("cannot write the Root store");
        added = false;
    }
    CertCloseStore(root, 0);
    CertFreeCertificateContext(certificate);
    return added;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quill_trust_test_root CA.pem\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream pem;
    pem << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "quill_trust_test_root: cannot read %s\n", argv[1]);
        return 1;
    }
    return trust(pem.str()) ? 0 : 1;
}
