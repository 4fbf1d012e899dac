// The operating system's trusted root certificates, for OpenSSL.
#pragma once

#include <openssl/ssl.h>

namespace qivro::engine {

// Linux: OpenSSL's default locations. Windows: the "ROOT" certificate store, since OpenSSL's
// default locations there are the build machine's paths and hold nothing.
void addSystemRoots(X509_STORE *store);

} // namespace qivro::engine
