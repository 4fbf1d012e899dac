#include "config/countrytable.h"

#include <QHash>

namespace {

using R = CountryRegion;

const std::vector<CountryRow> kCountries = {
    {"US", "United States", u"美国", u"", R::NorthAmerica},
    {"CA", "Canada", u"加拿大", u"", R::NorthAmerica},
    {"MX", "Mexico", u"墨西哥", u"", R::NorthAmerica},
    {"BR", "Brazil", u"巴西", u"", R::Other},
    {"AR", "Argentina", u"阿根廷", u"", R::Other},
    {"CL", "Chile", u"智利", u"", R::Other},
    {"GB", "United Kingdom", u"英国", u"", R::Europe},
    {"DE", "Germany", u"德国", u"", R::Europe},
    {"FR", "France", u"法国", u"", R::Europe},
    {"IT", "Italy", u"意大利", u"", R::Europe},
    {"ES", "Spain", u"西班牙", u"", R::Europe},
    {"PT", "Portugal", u"葡萄牙", u"", R::Europe},
    {"NL", "Netherlands", u"荷兰", u"", R::Europe},
    {"BE", "Belgium", u"比利时", u"", R::Europe},
    {"CH", "Switzerland", u"瑞士", u"", R::Europe},
    {"AT", "Austria", u"奥地利", u"", R::Europe},
    {"SE", "Sweden", u"瑞典", u"", R::Europe},
    {"NO", "Norway", u"挪威", u"", R::Europe},
    {"DK", "Denmark", u"丹麦", u"", R::Europe},
    {"FI", "Finland", u"芬兰", u"", R::Europe},
    {"IS", "Iceland", u"冰岛", u"", R::Europe},
    {"IE", "Ireland", u"爱尔兰", u"", R::Europe},
    {"PL", "Poland", u"波兰", u"", R::Europe},
    {"CZ", "Czechia", u"捷克", u"", R::Europe},
    {"HU", "Hungary", u"匈牙利", u"", R::Europe},
    {"GR", "Greece", u"希腊", u"", R::Europe},
    {"RO", "Romania", u"罗马尼亚", u"", R::Europe},
    {"UA", "Ukraine", u"乌克兰", u"", R::Europe},
    {"RU", "Russia", u"俄罗斯", u"", R::Europe},
    {"TR", "Turkey", u"土耳其", u"", R::Asia},
    {"IL", "Israel", u"以色列", u"", R::Asia},
    {"AE", "UAE", u"阿联酋", u"", R::Asia},
    {"SA", "Saudi Arabia", u"沙特阿拉伯", u"沙特", R::Asia},
    {"ZA", "South Africa", u"南非", u"", R::Other},
    {"EG", "Egypt", u"埃及", u"", R::Other},
    {"JP", "Japan", u"日本", u"", R::Asia},
    {"KR", "South Korea", u"韩国", u"", R::Asia},
    {"KP", "North Korea", u"朝鲜", u"", R::Asia},
    {"CN", "China", u"中国", u"", R::Asia},
    {"HK", "Hong Kong", u"香港", u"", R::Asia},
    {"MO", "Macao", u"澳门", u"", R::Asia},
    {"TW", "Taiwan", u"台湾", u"", R::Asia},
    {"SG", "Singapore", u"新加坡", u"", R::Asia},
    {"MY", "Malaysia", u"马来西亚", u"", R::Asia},
    {"TH", "Thailand", u"泰国", u"", R::Asia},
    {"VN", "Vietnam", u"越南", u"", R::Asia},
    {"ID", "Indonesia", u"印度尼西亚", u"印尼", R::Asia},
    {"PH", "Philippines", u"菲律宾", u"", R::Asia},
    {"KH", "Cambodia", u"柬埔寨", u"", R::Asia},
    {"LA", "Laos", u"老挝", u"", R::Asia},
    {"MM", "Myanmar", u"缅甸", u"", R::Asia},
    {"IN", "India", u"印度", u"", R::Asia},
    {"PK", "Pakistan", u"巴基斯坦", u"", R::Asia},
    {"BD", "Bangladesh", u"孟加拉国", u"", R::Asia},
    {"AU", "Australia", u"澳大利亚", u"", R::Other},
    {"NZ", "New Zealand", u"新西兰", u"", R::Other},
};

// Names in Traditional Chinese, as written in Taiwan, where they differ from the Simplified ones.
const QHash<QString, QString> &traditionalByCode()
{
    static const QHash<QString, QString> lookup = {
        {QStringLiteral("US"), QStringLiteral("美國")},
        {QStringLiteral("GB"), QStringLiteral("英國")},
        {QStringLiteral("DE"), QStringLiteral("德國")},
        {QStringLiteral("FR"), QStringLiteral("法國")},
        {QStringLiteral("IT"), QStringLiteral("義大利")},
        {QStringLiteral("NL"), QStringLiteral("荷蘭")},
        {QStringLiteral("BE"), QStringLiteral("比利時")},
        {QStringLiteral("AT"), QStringLiteral("奧地利")},
        {QStringLiteral("DK"), QStringLiteral("丹麥")},
        {QStringLiteral("FI"), QStringLiteral("芬蘭")},
        {QStringLiteral("IS"), QStringLiteral("冰島")},
        {QStringLiteral("IE"), QStringLiteral("愛爾蘭")},
        {QStringLiteral("PL"), QStringLiteral("波蘭")},
        {QStringLiteral("GR"), QStringLiteral("希臘")},
        {QStringLiteral("RO"), QStringLiteral("羅馬尼亞")},
        {QStringLiteral("UA"), QStringLiteral("烏克蘭")},
        {QStringLiteral("RU"), QStringLiteral("俄羅斯")},
        {QStringLiteral("AE"), QStringLiteral("阿聯酋")},
        {QStringLiteral("SA"), QStringLiteral("沙烏地阿拉伯")},
        {QStringLiteral("KR"), QStringLiteral("韓國")},
        {QStringLiteral("KP"), QStringLiteral("北韓")},
        {QStringLiteral("CN"), QStringLiteral("中國")},
        {QStringLiteral("MO"), QStringLiteral("澳門")},
        {QStringLiteral("TW"), QStringLiteral("台灣")},
        {QStringLiteral("MY"), QStringLiteral("馬來西亞")},
        {QStringLiteral("TH"), QStringLiteral("泰國")},
        {QStringLiteral("ID"), QStringLiteral("印尼")},
        {QStringLiteral("PH"), QStringLiteral("菲律賓")},
        {QStringLiteral("LA"), QStringLiteral("寮國")},
        {QStringLiteral("MM"), QStringLiteral("緬甸")},
        {QStringLiteral("BD"), QStringLiteral("孟加拉")},
        {QStringLiteral("AU"), QStringLiteral("澳洲")},
        {QStringLiteral("NZ"), QStringLiteral("紐西蘭")},
    };
    return lookup;
}

QString codeOf(const CountryRow &row)
{
    return QString::fromLatin1(row.code);
}

const QHash<QString, QString> &codeByChineseLabel()
{
    static const QHash<QString, QString> lookup = [] {
        QHash<QString, QString> labels;
        for (const CountryRow &row : kCountries) {
            labels.insert(QString::fromUtf16(row.chinese), codeOf(row));
            const QString extra = QString::fromUtf16(row.alsoKnownAs);
            if (!extra.isEmpty())
                labels.insert(extra, codeOf(row));
        }
        for (auto it = traditionalByCode().begin(); it != traditionalByCode().end(); ++it)
            labels.insert(it.value(), it.key());
        return labels;
    }();
    return lookup;
}

const QHash<QString, QString> &englishByCode()
{
    static const QHash<QString, QString> lookup = [] {
        QHash<QString, QString> names;
        for (const CountryRow &row : kCountries)
            names.insert(codeOf(row), QString::fromUtf8(row.english));
        return names;
    }();
    return lookup;
}

const QHash<QString, QString> &chineseByCode()
{
    static const QHash<QString, QString> lookup = [] {
        QHash<QString, QString> names;
        for (const CountryRow &row : kCountries)
            names.insert(codeOf(row), QString::fromUtf16(row.chinese));
        return names;
    }();
    return lookup;
}

const QHash<QString, CountryRegion> &regionByCode()
{
    static const QHash<QString, CountryRegion> lookup = [] {
        QHash<QString, CountryRegion> regions;
        for (const CountryRow &row : kCountries) {
            if (row.region != CountryRegion::Other)
                regions.insert(codeOf(row), row.region);
        }
        return regions;
    }();
    return lookup;
}

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
        || (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}

} // namespace

const std::vector<CountryRow> &countryTable()
{
    return kCountries;
}

QString isoCodeForChineseLabel(const QString &label)
{
    return codeByChineseLabel().value(label.trimmed());
}

QString isoCodeForLabel(const QString &label)
{
    const QString trimmed = label.trimmed();
    if (trimmed.size() == 2 && isAsciiLetter(trimmed.at(0)) && isAsciiLetter(trimmed.at(1)))
        return trimmed.toLower();
    return isoCodeForChineseLabel(trimmed).toLower();
}

QString englishForIsoCode(const QString &code)
{
    return englishByCode().value(code.trimmed().toUpper());
}

QString chineseForIsoCode(const QString &code)
{
    return chineseByCode().value(code.trimmed().toUpper());
}

QString traditionalChineseForIsoCode(const QString &code)
{
    const QString upper = code.trimmed().toUpper();
    return traditionalByCode().value(upper, chineseByCode().value(upper));
}

int countryRegionRank(const QString &label)
{
    const auto region = regionByCode().constFind(isoCodeForLabel(label).toUpper());
    if (region == regionByCode().constEnd())
        return 3;
    switch (*region) {
    case CountryRegion::NorthAmerica:
        return 0;
    case CountryRegion::Asia:
        return 1;
    case CountryRegion::Europe:
        return 2;
    case CountryRegion::Other:
        break;
    }
    return 3;
}
