#pragma once

#include "ruleset/ruleset.h"

#include <QMetaType>
#include <QTest>

#include <initializer_list>
#include <zlib.h>

using namespace qivro::ruleset;

Q_DECLARE_METATYPE(RuleSet)
Q_DECLARE_METATYPE(Rule)

namespace testutil {

// A typo in test data gives an address of size 0, which no expectation accepts.
inline IpAddress ip(const char *text)
{
    IpAddress invalid;
    invalid.size = 0;
    return IpAddress::parse(text).value_or(invalid);
}

inline std::vector<IpRange> cidrs(std::initializer_list<const char *> texts)
{
    std::vector<IpRange> out;
    for (const char *text : texts) {
        IpRange invalid;
        invalid.first.size = 0;
        out.push_back(IpRange::parseCidr(text).value_or(invalid));
    }
    return out;
}

inline IpRange span(const char *first, const char *last)
{
    return {ip(first), ip(last)};
}

inline RuleSet single(const Rule &rule)
{
    RuleSet set;
    set.rules.push_back(rule);
    return set;
}

inline std::vector<std::uint8_t> bytesOf(const QByteArray &data)
{
    return {data.begin(), data.end()};
}

// The zlib body of a rule-set file, or an empty array.
inline QByteArray inflateFile(const std::vector<std::uint8_t> &file)
{
    if (file.size() < 4)
        return {};
    QByteArray out(64 << 20, Qt::Uninitialized);
    uLongf size = uLongf(out.size());
    if (uncompress(
            reinterpret_cast<Bytef *>(out.data()), &size, file.data() + 4, uLong(file.size() - 4))
        != Z_OK)
        return {};
    out.resize(qsizetype(size));
    return out;
}

// "SRS", the version and the deflated body.
inline std::vector<std::uint8_t> fileWithBody(const QByteArray &body, std::uint8_t version = 1)
{
    std::vector<std::uint8_t> out(4 + compressBound(uLong(body.size())));
    out[0] = 'S';
    out[1] = 'R';
    out[2] = 'S';
    out[3] = version;
    uLongf size = uLongf(out.size() - 4);
    compress(out.data() + 4, &size, reinterpret_cast<const Bytef *>(body.constData()),
        uLong(body.size()));
    out.resize(4 + size);
    return out;
}

} // namespace testutil
