// Shadowsocks stream decryption. The input chooses a cipher, plaintext chunks, an optional
// corruption and how the ciphertext is split on arrival. A clean stream must decrypt to exactly
// the plaintext however it is split; a corrupted one may only yield a prefix of it, then fail.
// Raw input is also fed straight to the decryptor.
#include "fuzzcheck.h"
#include "outbound/sscrypto.h"

#include <algorithm>

using namespace qivro::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    const ss::CipherKind kinds[]
        = {ss::CipherKind::Aes128Gcm, ss::CipherKind::Aes256Gcm, ss::CipherKind::Chacha20Poly1305};
    const ss::CipherKind kind = kinds[data[0] % 3];
    const auto master = ss::masterKey("fuzz", ss::keySize(kind));
    const std::uint8_t mode = data[1];
    const std::uint8_t split = static_cast<std::uint8_t>(data[2] | 1);
    const std::uint8_t flip = data[3];
    data += 4;
    size -= 4;

    std::vector<std::uint8_t> wire;
    std::vector<std::uint8_t> plain;
    if (mode & 1) {
        // Build a genuine stream from the input, in two writes.
        ss::StreamEncryptor encryptor(kind, master);
        const std::size_t first = size / 3;
        require(encryptor.encrypt(data, first, wire)
            && encryptor.encrypt(data + first, size - first, wire));
        plain.assign(data, data + size);
        if ((mode & 2) && !wire.empty())
            wire[(static_cast<std::size_t>(flip) * 131) % wire.size()]
                ^= static_cast<std::uint8_t>(flip | 1);
    } else {
        wire.assign(data, data + size);
    }

    ss::StreamDecryptor decryptor(kind, master);
    std::vector<std::uint8_t> out;
    bool ok = true;
    for (std::size_t i = 0; i < wire.size() && ok; i += split)
        ok = decryptor.feed(wire.data() + i, std::min<std::size_t>(split, wire.size() - i), out);
    if (mode & 1) {
        const bool corrupted = (mode & 2) != 0;
        require(corrupted || (ok && out == plain));
        require(out.size() <= plain.size() && std::equal(out.begin(), out.end(), plain.begin()));
    }
    std::vector<std::uint8_t> packet;
    ss::openPacket(kind, master, data, size, packet);
    return 0;
}
