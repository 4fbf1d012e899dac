#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>

// The bundled Chinese faces, registered only when a UI language needs them: each costs megabytes
// and start-up time that an English start does not need before its first frame. Text looks for
// the Traditional face before the Simplified one, so which faces are registered decides the
// glyph shapes Chinese text gets.
class CjkFonts : public QObject
{
    Q_OBJECT

public:
    explicit CjkFonts(
        QObject *parent = nullptr, const QString &directory = QStringLiteral(":/fonts"));
    ~CjkFonts() override;

    // Family names in the order the font stack lists them.
    static QStringList families();
    // The faces a language wants, by file name prefix: Traditional Chinese takes the Traditional
    // face backed by the Simplified one; every other language the Simplified one, for the Chinese
    // it shows (language names, panel texts).
    static QStringList facesFor(const QString &language);

    // Registers the faces the language wants and drops any other.
    void useLanguage(const QString &language);
    QStringList registeredFaces() const { return m_ids.keys(); }

    // Keeps to the language of `source`'s "currentLanguage" property as it changes.
    void follow(QObject *source);

public slots:
    // Takes the followed source's language now.
    void sync();

private:
    QString m_directory;
    QObject *m_source = nullptr;
    QHash<QString, QList<int>> m_ids;
};
