#pragma once

#include "panelreply.h"

class Catalogue;
class Orders;
class PanelConfig;
class PanelRequest;

// The panel's few HTML pages: the payment page that checkout_url opens (with Pay and Fail buttons
// that settle the order) and the product site's placeholder pages; and the seeded payment methods'
// icons.
class WebPages
{
public:
    WebPages(Orders &orders, Catalogue &catalogue, PanelConfig &config);

    bool serves(const QString &path) const;
    PanelReply handle(const PanelRequest &request);

private:
    PanelReply paymentPage(const QString &orderNo);
    PanelReply settle(const QString &orderNo, bool paid);
    PanelReply sitePage(const QString &title, const QString &text);

    Orders &m_orders;
    Catalogue &m_catalogue;
    PanelConfig &m_config;
};
