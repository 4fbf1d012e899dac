// Builds the built-in rule sets from Debian's data; tools/srsgen/generate fetches the data and
// runs this. The output depends only on the inputs.
#include "ruleset/ruleset.h"
#include "sources.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qivro::ruleset::IpRange;
using qivro::ruleset::Rule;
using qivro::ruleset::RuleSet;

const char *const kCountries[] = {"CN", "IR", "RU"};
// Top-level domains whose whole tree counts as Chinese.
const char *const kChineseTlds[] = {"cn", "中国", "中國", "公司", "网络"};

struct Options
{
    std::string geoip, geoip6, psl, domains, out, sample, sourceNote;
};

void usage()
{
    std::fprintf(stderr,
        "usage: srsgen --geoip FILE --geoip6 FILE --psl FILE --domains FILE --out DIR\n"
        "              [--sample FILE [--source-note TEXT]]\n"
        "Writes geoip-cn.srs, geoip-ir.srs, geoip-ru.srs and geosite-cn.srs into DIR;\n"
        "--sample also writes a sample of the geoip lines for the tests.\n");
}

bool parseArguments(int argc, char **argv, Options &options)
{
    const std::map<std::string, std::string *> flags = {
        {"--geoip", &options.geoip},
        {"--geoip6", &options.geoip6},
        {"--psl", &options.psl},
        {"--domains", &options.domains},
        {"--out", &options.out},
        {"--sample", &options.sample},
        {"--source-note", &options.sourceNote},
    };
    for (int i = 1; i < argc; ++i) {
        const auto flag = flags.find(argv[i]);
        if (flag == flags.end() || i + 1 >= argc)
            return false;
        *flag->second = argv[++i];
    }
    return !options.geoip.empty() && !options.geoip6.empty() && !options.psl.empty()
        && !options.domains.empty() && !options.out.empty();
}

bool readFile(const std::string &path, std::string &content)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "srsgen: cannot open %s\n", path.c_str());
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    content = buffer.str();
    return true;
}

bool writeFile(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "srsgen: cannot write %s\n", temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "srsgen: cannot replace %s\n", path.c_str());
        return false;
    }
    return true;
}

bool writeRuleSetFile(const std::string &path, const Rule &rule)
{
    RuleSet set;
    set.rules.push_back(rule);
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!qivro::ruleset::writeRuleSet(set, bytes, &error)) {
        std::fprintf(stderr, "srsgen: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    if (!writeFile(path, bytes))
        return false;
    std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
    return true;
}

// Every 1000th data line of both tables, and every 100th of the countries that get a rule set.
bool writeSample(const Options &options, const std::string &v4, const std::string &v6)
{
    std::ostringstream out;
    out << "# Sample of tor-geoipdb's geoip and geoip6 tables (IPFire Location data, CC BY-SA 4.0)";
    if (!options.sourceNote.empty())
        out << ", " << options.sourceNote;
    out << ".\n# Written by tools/srsgen/generate with the rule sets; the tests check the "
           "committed address sets against it.\n";
    std::map<std::string, int> seen;
    int total = 0;
    for (const std::string *table : {&v4, &v6}) {
        std::istringstream in(*table);
        std::string line;
        while (std::getline(in, line)) {
            const auto entry = srsgen::parseGeoipLine(line);
            if (!entry)
                continue;
            const bool wanted
                = std::find(std::begin(kCountries), std::end(kCountries), entry->second)
                != std::end(kCountries);
            if (total++ % 1000 == 0 || (wanted && seen[entry->second]++ % 100 == 0))
                out << line << '\n';
        }
    }
    const std::string text = out.str();
    return writeFile(options.sample, std::vector<std::uint8_t>(text.begin(), text.end()));
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parseArguments(argc, argv, options)) {
        usage();
        return 2;
    }

    std::string v4Text, v6Text, pslText, domainsText, error;
    if (!readFile(options.geoip, v4Text) || !readFile(options.geoip6, v6Text)
        || !readFile(options.psl, pslText) || !readFile(options.domains, domainsText))
        return 1;

    std::map<std::string, std::vector<IpRange>> byCountry;
    for (const auto &[path, text] :
        {std::pair {options.geoip, &v4Text}, {options.geoip6, &v6Text}}) {
        std::istringstream in(*text);
        if (!srsgen::readTorGeoip(in, byCountry, error)) {
            std::fprintf(stderr, "srsgen: %s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
    }
    for (const char *country : kCountries) {
        Rule rule;
        rule.ipCidr = byCountry[country];
        if (rule.ipCidr.empty()) {
            std::fprintf(stderr, "srsgen: no ranges for %s\n", country);
            return 1;
        }
        std::string name = country;
        for (auto &c : name)
            c = char(c - 'A' + 'a');
        if (!writeRuleSetFile(options.out + "/geoip-" + name + ".srs", rule))
            return 1;
    }

    std::vector<std::string> tlds;
    for (const char *tld : kChineseTlds)
        tlds.push_back(srsgen::toAsciiDomain(tld).value_or(""));
    std::vector<std::string> suffixes, curated;
    std::istringstream pslIn(pslText), domainsIn(domainsText);
    if (!srsgen::readPublicSuffixes(pslIn, tlds, suffixes, error)) {
        std::fprintf(stderr, "srsgen: %s: %s\n", options.psl.c_str(), error.c_str());
        return 1;
    }
    if (!srsgen::readDomainList(domainsIn, curated, error)) {
        std::fprintf(stderr, "srsgen: %s: %s\n", options.domains.c_str(), error.c_str());
        return 1;
    }
    std::set<std::string> all(suffixes.begin(), suffixes.end());
    all.insert(curated.begin(), curated.end());
    Rule site;
    site.domainSuffix.assign(all.begin(), all.end());
    std::printf("geosite-cn: %zu public suffixes, %zu curated names, %zu in all\n", suffixes.size(),
        curated.size(), all.size());
    if (!writeRuleSetFile(options.out + "/geosite-cn.srs", site))
        return 1;

    if (!options.sample.empty() && !writeSample(options, v4Text, v6Text))
        return 1;
    return 0;
}
