// HTTP heads, body framing and sniffing on untrusted bytes: no crash, and the chunked scanner
// finds the same end whether the body arrives whole or in pieces.
#include "common/httpparser.h"
#include "fuzzcheck.h"
#include "route/sniff.h"

#include <algorithm>
#include <string>

using namespace qivro::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    http::RequestHead request;
    std::size_t consumed = 0;
    if (http::parseRequestHead(text, size, request, consumed) == ParseStatus::Done) {
        require(consumed <= size);
        Destination destination;
        std::string path;
        if (http::proxyTarget(request, destination, path)) {
            const std::string rewritten
                = http::rewriteForOrigin(request, path.empty() ? "/" : path);
            http::RequestHead again;
            std::size_t againConsumed = 0;
            // What we send to an origin must itself be a well-formed head.
            require(request.method == "CONNECT"
                || http::parseRequestHead(rewritten.data(), rewritten.size(), again, againConsumed)
                    == ParseStatus::Done);
        }
        http::requestFraming(request);
        http::keepAlive(request.minorVersion, request.headers);
    }
    http::ResponseHead response;
    if (http::parseResponseHead(text, size, response, consumed) == ParseStatus::Done) {
        require(consumed <= size);
        http::responseFraming(response, "GET");
    }
    http::ChunkedScanner whole;
    const std::size_t wholeTaken = whole.feed(text, size);
    require(wholeTaken <= size);
    http::ChunkedScanner pieces;
    std::size_t piecesTaken = 0;
    for (std::size_t i = 0; i < size && !pieces.done() && !pieces.invalid(); i += 7)
        piecesTaken += pieces.feed(text + i, std::min<std::size_t>(7, size - i));
    require(whole.done() == pieces.done() && whole.invalid() == pieces.invalid()
        && (!whole.done() || wholeTaken == piecesTaken));
    std::string name;
    sniff::tlsServerName(data, size, name);
    sniff::httpHost(data, size, name);
    sniff::isDnsQuery(data, size);
    bool ok = false;
    http::percentDecode(std::string(text, size), ok);
    return 0;
}
