#pragma once

// Readers for the generator's inputs: tor's geoip tables, the public suffix list and the curated
// domain list. Qt-free so that the tests can check them without the generator's main.
#include "ruleset/ipaddress.h"

#include <istream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace srsgen {

using qivro::ruleset::IpRange;

// tor's "geoip" (IPv4 as decimal integers) or "geoip6" (IPv6 text) table: "#" comments and
// "low,high,CC" lines. Ranges are collected per country code.
bool readTorGeoip(
    std::istream &in, std::map<std::string, std::vector<IpRange>> &byCountry, std::string &error);
// One "low,high,CC" line; low and high are decimal IPv4 integers or IPv6 text.
std::optional<std::pair<IpRange, std::string>> parseGeoipLine(std::string_view line);

// A UTF-8 domain name in the ASCII form resolvers see: each non-ASCII label becomes "xn--" and
// its Punycode (RFC 3492), ASCII is lower-cased. Input must already be in normalised lower case,
// as the public suffix list is. Empty when the text is not valid UTF-8 or a label is empty.
std::optional<std::string> toAsciiDomain(std::string_view utf8);
// RFC 3492 encoding of one label's code points (without the "xn--" prefix).
std::optional<std::string> punycode(const std::u32string &label);

// Entries of the public suffix list whose top-level label is one of `tlds` (ASCII form), with
// wildcard "*." and exception "!" marks removed; sorted, unique, ASCII.
bool readPublicSuffixes(std::istream &in, const std::vector<std::string> &tlds,
    std::vector<std::string> &out, std::string &error);

// The curated list: one name per line, "#" comments, blank lines ignored. Names are checked
// (letters, digits, "-" and dots) and returned in ASCII form.
bool readDomainList(std::istream &in, std::vector<std::string> &out, std::string &error);

} // namespace srsgen
