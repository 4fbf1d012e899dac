// libFuzzer harness: the subscription decoder against Qt's lenient decoder, which skips the same
// bytes but does not stop at "=".
#include "config/base64.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QByteArray decoded = base64_decode(input);
    const qsizetype stop = input.indexOf('=');
    if (decoded != QByteArray::fromBase64(stop < 0 ? input : input.left(stop)))
        std::abort();
    if (base64_decode(decoded.toBase64()) != decoded)
        std::abort();
    return 0;
}
