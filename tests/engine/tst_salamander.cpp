// Salamander against its published vector and against itself.
#include "outbound/salamander.h"
#include "testing.h"

#include <cstdio>
#include <string>
#include <vector>

using qivro::engine::Salamander;

namespace {

std::string hex(const std::uint8_t *data, std::size_t size)
{
    std::string out;
    char pair[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", data[i]);
        out += pair;
    }
    return out;
}

} // namespace

TEST_CASE(knownVector)
{
    const std::uint8_t salt[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    const Salamander salamander("cry_me_a_r1ver");
    const auto key = salamander.key(salt);
    CHECK_EQ(hex(key.data(), key.size()),
        std::string("721fae781c722360391daa6ece7b040b62e07787f64705865b4198638d0b6b7f"));

    const std::string text = "hello, salamander";
    std::vector<std::uint8_t> packet(8 + text.size());
    std::copy(text.begin(), text.end(), packet.begin() + 8);
    salamander.sealWithSalt(packet.data(), packet.size(), salt);
    CHECK_EQ(hex(packet.data(), packet.size()),
        std::string("0001020304050607") + "1a7ac214735e03135871cb03af15606e10");
}

TEST_CASE(roundTrips)
{
    struct Row
    {
        std::string psk;
        std::size_t size;
    };
    for (const Row &row : std::vector<Row> {{"cry_me_a_r1ver", 1}, {"pass", 31}, {"pass", 32},
             {"pass", 33}, {"a much longer pre-shared key than the digest", 1452}}) {
        Salamander sender(row.psk);
        Salamander receiver(row.psk);
        Salamander stranger(row.psk + "!");
        std::vector<std::uint8_t> plain(row.size);
        for (std::size_t i = 0; i < plain.size(); ++i)
            plain[i] = static_cast<std::uint8_t>(i * 13 + 1);
        std::vector<std::uint8_t> wire(8);
        wire.insert(wire.end(), plain.begin(), plain.end());
        sender.seal(wire.data(), wire.size());
        CHECK(!std::equal(plain.begin(), plain.end(), wire.begin() + 8) || row.size == 0);

        std::vector<std::uint8_t> copy = wire;
        std::uint8_t *start = copy.data();
        std::size_t size = copy.size();
        CHECK(receiver.open(start, size));
        CHECK(size == plain.size() && std::equal(plain.begin(), plain.end(), start));

        copy = wire;
        start = copy.data();
        size = copy.size();
        CHECK(stranger.open(start, size));
        CHECK(!std::equal(plain.begin(), plain.end(), start));
    }
    // Salts differ between packets, and a packet of bare salt carries nothing.
    Salamander salamander("pass");
    std::vector<std::uint8_t> a(20, 0), b(20, 0);
    salamander.seal(a.data(), a.size());
    salamander.seal(b.data(), b.size());
    CHECK(!std::equal(a.begin(), a.begin() + 8, b.begin()));
    std::uint8_t *start = a.data();
    std::size_t size = 8;
    CHECK(!salamander.open(start, size));
}

QTEST_MAIN()
