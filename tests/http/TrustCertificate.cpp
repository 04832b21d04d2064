// Adds a certificate to the machine's trusted roots, or removes it again, so that tests can make
// their own certificate authority: narvo_trust_cert add|remove CERT.der
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "remove") != 0)) {
        std::fprintf(stderr, "usage: narvo_trust_cert add|remove CERT.der\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    const std::vector<BYTE> der((std::istreambuf_iterator<char>(in)), {});
    if (der.empty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 1;
    }
    // The registry part of the store itself: Wine's "Root" system store is a collection whose
    // deletions never reach the registry, so a removed authority would stay trusted.
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (!store) {
        std::fprintf(stderr, "cannot open the Root store: %lu\n", GetLastError());
        return 1;
    }
    bool ok;
    if (argv[1][0] == 'a') {
        ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                              DWORD(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                              nullptr);
    } else {
        ok = true;
        PCCERT_CONTEXT wanted =
            CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), DWORD(der.size()));
        PCCERT_CONTEXT found = wanted
                                   ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                                CERT_FIND_EXISTING, wanted, nullptr)
                                   : nullptr;
        if (found) ok = CertDeleteCertificateFromStore(found); // frees found
        if (wanted) CertFreeCertificateContext(wanted);
    }
    CertCloseStore(store, 0);
    if (!ok) std::fprintf(stderr, "%s failed: %lu\n", argv[1], GetLastError());
    return ok ? 0 : 1;
}
