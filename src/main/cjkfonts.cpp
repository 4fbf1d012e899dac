#include "main/cjkfonts.h"

#include <QDebug>
#include <QDir>
#include <QFontDatabase>

namespace {

const QString traditionalFace = QStringLiteral("NotoSansTC");
const QString simplifiedFace = QStringLiteral("NotoSansSC");

} // namespace

CjkFonts::CjkFonts(QObject *parent, const QString &directory)
    : QObject(parent)
    , m_directory(directory)
{ }

CjkFonts::~CjkFonts()
{
    for (const QList<int> &ids : std::as_const(m_ids)) {
        for (const int id : ids)
            QFontDatabase::removeApplicationFont(id);
    }
}

QStringList CjkFonts::families()
{
    return {QStringLiteral("Noto Sans TC"), QStringLiteral("Noto Sans SC")};
}

QStringList CjkFonts::facesFor(const QString &language)
{
    if (language == QLatin1String("zh-Hant"))
        return {traditionalFace, simplifiedFace};
    return {simplifiedFace};
}

void CjkFonts::useLanguage(const QString &language)
{
    const QStringList wanted = facesFor(language);
    for (auto it = m_ids.begin(); it != m_ids.end();) {
        if (wanted.contains(it.key())) {
            ++it;
            continue;
        }
        for (const int id : std::as_const(it.value()))
            QFontDatabase::removeApplicationFont(id);
        it = m_ids.erase(it);
    }
    const QDir dir(m_directory);
    for (const QString &face : wanted) {
        if (m_ids.contains(face))
            continue;
        QList<int> &ids = m_ids[face];
        const QFileInfoList files = dir.entryInfoList(
            {face + QStringLiteral("-*.otf"), face + QStringLiteral("-*.ttf")}, QDir::Files);
        for (const QFileInfo &file : files) {
            const int id = QFontDatabase::addApplicationFont(file.absoluteFilePath());
            if (id < 0)
                qWarning() << "[Main] Failed to register bundled font" << file.fileName();
            else
                ids.append(id);
        }
    }
}

void CjkFonts::follow(QObject *source)
{
    m_source = source;
    if (source)
        connect(source, SIGNAL(currentLanguageChanged()), this, SLOT(sync()));
}

void CjkFonts::sync()
{
    if (m_source)
        useLanguage(m_source->property("currentLanguage").toString());
}
