#include "base/debugger.h"

#include <QDebug>

Debugger::Debugger(const char *file, int line, const char *function)
    : m_file(QString::fromUtf8(file))
    , m_line(line)
    , m_function(QString::fromUtf8(function))
{ }

Debugger::~Debugger()
{
    m_stream.flush();
    qDebug().noquote() << QStringLiteral("[%1:%2] [%3]: %4")
                              .arg(m_file, QString::number(m_line), m_function, m_text);
}
