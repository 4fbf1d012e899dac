#include "panelrequest.h"

#include <QUrl>

PanelRequest::PanelRequest(const QByteArray &method, const QString &target, const QByteArray &body)
    : m_method(method.toUpper())
    , m_body(body)
{
    const QUrl url(target);
    m_path = url.path(QUrl::FullyDecoded);
    m_query = QUrlQuery(url);
}

QString PanelRequest::queryItem(const QString &key) const
{
    return m_query.queryItemValue(key, QUrl::FullyDecoded);
}

QByteArray PanelRequest::header(const QByteArray &name) const
{
    return m_headers.value(name.toLower());
}

void PanelRequest::setHeader(const QByteArray &name, const QByteArray &value)
{
    m_headers.insert(name.toLower(), value);
}
