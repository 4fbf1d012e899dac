#pragma once

#include "network/networkrequest.h"

#include <QString>
#include <QUrl>

// A request to one of the panel's authorised endpoints through the process-wide handler. The
// panel wants the bare token in "Authorization", without the "Bearer" scheme that
// NetworkRequest::authToken() adds.
NetworkRequest authorizedRequest(const QUrl &url, const QString &token);
