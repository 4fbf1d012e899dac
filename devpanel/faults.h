#pragma once

#include "panelreply.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// Fault injection and request counters for tests. A fault is set per endpoint path (optionally
// per method) and applies to every request, or to the next `times` requests, until cleared.
class Faults
{
public:
    enum class Body
    {
        Real,
        Malformed,
        NonObject,
        Empty
    };

    struct Fault
    {
        QByteArray method; // empty: any method
        int status = 0; // non-zero: answer with this HTTP status instead of running the endpoint
        std::optional<QString> msg; // replaces the envelope's msg
        QJsonObject data; // members set in the envelope's data
        Body body = Body::Real;
        int delayMs = 0;
        bool neverAnswer = false;
        bool dropConnection = false;
        int times = 0; // 0: until cleared

        // Whether the endpoint itself runs (a delay or a msg override keep it).
        bool runsEndpoint() const { return status == 0 && body == Body::Real; }
        QJsonObject toJson() const;
    };

    static std::optional<Fault> fromJson(const QJsonObject &object, QString *error);

    void set(const QString &path, const Fault &fault);
    void clear();
    // The fault for this request, counting it against `times`.
    std::optional<Fault> take(const QByteArray &method, const QString &path);
    QJsonArray list() const;

    // The reply a fault gives; `real` is the endpoint's reply when the fault lets it run.
    static PanelReply reply(const Fault &fault, const PanelReply &real);

    void count(const QByteArray &method, const QString &path);
    void resetCounters();
    // {"paths": {path: n}, "requests": {"METHOD path": n}}
    QJsonObject counters() const;

private:
    QHash<QString, Fault> m_faults;
    QHash<QString, int> m_pathCounts;
    QHash<QString, int> m_requestCounts;
};
