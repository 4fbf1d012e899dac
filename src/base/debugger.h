#pragma once

#include <QString>
#include <QTextStream>

// Collects one log line and writes it, with the caller's source position, when it goes out of
// scope: "[file:line] [function]: text".
class Debugger
{
public:
    Debugger(const char *file, int line, const char *function);
    ~Debugger();

    Debugger(const Debugger &) = delete;
    Debugger &operator=(const Debugger &) = delete;

    template <typename T>
    Debugger &operator<<(const T &value)
    {
        m_stream << value;
        return *this;
    }

private:
    QString m_file;
    int m_line = 0;
    QString m_function;
    QString m_text;
    QTextStream m_stream {&m_text};
};

#define DEBUG_LOG Debugger(__FILE__, __LINE__, Q_FUNC_INFO)
