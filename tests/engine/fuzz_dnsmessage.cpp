// DNS messages from applications (hijacked queries) and from resolvers: parsing stays in bounds,
// and the answer built for a query reads back as a reply to it with the addresses given.
#include "dns/message.h"
#include "fuzzcheck.h"

using namespace qivro::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    dns::Reply reply;
    dns::parseReply(data, size, reply);
    dns::Question question;
    if (!dns::parseQuery(data, size, question))
        return 0;
    require(question.end <= size && question.name.size() <= 253);
    const std::vector<asio::ip::address> addresses
        = {asio::ip::make_address("198.19.0.1"), asio::ip::make_address("fc00::1")};
    const std::vector<std::uint8_t> answer = dns::buildAnswer(data, question, addresses, 1);
    dns::Reply back;
    require(dns::parseReply(answer.data(), answer.size(), back) && back.id == question.id
        && back.addresses == addresses);
    // Written out and read back once, a name stays the same from then on.
    const std::vector<std::uint8_t> query
        = dns::buildQuery(question.id, question.name, question.type);
    dns::Question once;
    if (!dns::parseQuery(query.data(), query.size(), once))
        return 0;
    const std::vector<std::uint8_t> again = dns::buildQuery(once.id, once.name, once.type);
    dns::Question twice;
    require(dns::parseQuery(again.data(), again.size(), twice) && twice.name == once.name);
    return 0;
}
