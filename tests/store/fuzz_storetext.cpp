// Payment-method names and icons come from the panel as any text: the first line of the input is
// taken as the product's web domain, the rest as a name and as an icon.
#include "panel/iconaddress.h"
#include "panel/localizedname.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input
        = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qsizetype newline = input.indexOf(QLatin1Char('\n'));
    const QString domain = newline < 0 ? QStringLiteral("qivro.example") : input.left(newline);
    const QString text = newline < 0 ? input : input.mid(newline + 1);

    const QString address = IconAddress(domain, QStringLiteral("api.") + domain).resolve(text);
    if (address.isEmpty() != text.trimmed().isEmpty())
        __builtin_trap();

    // Only a non-empty JSON object is ever replaced by one of its members.
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    const bool names = document.isObject() && !document.object().isEmpty();
    for (const char *language : {"en", "zh", "zh-Hant"}) {
        if (!names && localizedName(text, localeKeyForLanguage(QLatin1String(language))) != text)
            __builtin_trap();
    }
    return 0;
}
