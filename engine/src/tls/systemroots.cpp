#include "tls/systemroots.h"

// Windows' headers before OpenSSL's, which undo the names wincrypt.h defines that clash with
// theirs.
#if defined(_WIN32)
#include <windows.h>
// wincrypt.h needs windows.h first
#include <wincrypt.h>
#endif

#include <openssl/err.h>
#include <openssl/x509.h>

namespace qivro::engine {

void addSystemRoots(X509_STORE *store)
{
#if defined(_WIN32)
    HCERTSTORE system = CertOpenSystemStoreW(0, L"ROOT");
    if (!system)
        return;
    for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(system, nullptr); context;
         context = CertEnumCertificatesInStore(system, context)) {
        const unsigned char *der = context->pbCertEncoded;
        if (X509 *certificate
            = d2i_X509(nullptr, &der, static_cast<long>(context->cbCertEncoded))) {
            X509_STORE_add_cert(store, certificate);
            X509_free(certificate);
        }
    }
    CertCloseStore(system, 0);
#else
    X509_STORE_set_default_paths(store);
#endif
    ERR_clear_error(); // duplicates and unreadable entries are not errors for the caller
}

} // namespace qivro::engine
