// Certificates made at test time: a CA and a server certificate it signed, as files (the CA also
// as PEM text).
#pragma once

#include <string>
#include <vector>

namespace support {

struct CertificateSet
{
    std::string caPem;
    std::string caPath;
    std::string certificatePath;
    std::string keyPath;
};

// names: DNS names and IP literals for the server certificate; its validity runs from
// validFromSeconds to validUntilSeconds relative to now. The files are named after tag.
CertificateSet makeCertificates(const std::string &tag, const std::vector<std::string> &names,
    long validFromSeconds = -3600, long validUntilSeconds = 30L * 24 * 3600);

} // namespace support
