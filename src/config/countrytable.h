#pragma once

#include <QString>

#include <vector>

// The countries the client recognises behind a node cluster's name: node tags from the panels
// name them in Chinese or by their two-letter code.
enum class CountryRegion
{
    NorthAmerica,
    Asia,
    Europe,
    Other
};

struct CountryRow
{
    const char *code; // ISO 3166-1 alpha-2, upper case
    const char *english;
    const char16_t *chinese;
    const char16_t *alsoKnownAs; // a further Chinese label, or empty
    CountryRegion region;
};

// Every row, in the order the table is kept.
const std::vector<CountryRow> &countryTable();

// The upper-case code of a Chinese country label (trimmed, Simplified or Traditional), or empty.
QString isoCodeForChineseLabel(const QString &label);

// A lower-case code for a cluster name: any two ASCII letters as they are, known or not, else
// the code of a Chinese label. English country names are not recognised.
QString isoCodeForLabel(const QString &label);

// Names of a code, in any letter case and with surrounding space; empty for an unknown code.
QString englishForIsoCode(const QString &code);
QString chineseForIsoCode(const QString &code);
QString traditionalChineseForIsoCode(const QString &code);

// Display rank of a cluster's region: 0 North America, 1 Asia, 2 Europe, 3 anything else.
int countryRegionRank(const QString &label);
