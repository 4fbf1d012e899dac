// Panel replies are untrusted: any bytes, parsed as JSON, go through every record decoder, both as
// the whole reply and the way the handlers reach into it ("data", "data"."list").
#include "network/api.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

namespace {

template <typename T>
void decode(const QJsonObject &object, const QJsonArray &array)
{
    const T record = API::fromJson<T>(object);
    const std::vector<T> records = API::arrayFromJson<T>(array);
    if (records.size() != static_cast<std::size_t>(array.size()))
        __builtin_trap();
    static_cast<void>(record);
}

void decodeAll(const QJsonObject &object, const QJsonArray &array)
{
    decode<API::SiteCurrency>(object, array);
    decode<API::SiteConfig>(object, array);
    decode<API::UserAuthMethod>(object, array);
    decode<API::UserDevice>(object, array);
    decode<API::User>(object, array);
    decode<API::LoginResponse>(object, array);
    decode<API::SendCodeData>(object, array);
    decode<API::SendCodeResponse>(object, array);
    decode<API::CheckCodeData>(object, array);
    decode<API::CheckCodeResponse>(object, array);
    decode<API::SubscribeDiscount>(object, array);
    decode<API::Subscribe>(object, array);
    decode<API::SubscribeNodeInfo>(object, array);
    decode<API::UserSubscribePlan>(object, array);
    decode<API::UserSubscribeItem>(object, array);
    decode<API::PaymentMethod>(object, array);
    decode<API::PreOrderData>(object, array);
    decode<API::PreOrderResponse>(object, array);
    decode<API::OrderDetail>(object, array);
    decode<API::OrderDetailResponse>(object, array);
    decode<API::TicketFollow>(object, array);
    decode<API::Ticket>(object, array);
    decode<API::Announcement>(object, array);
    if (API::strArrayFromJson(array).size() != array.size())
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromRawData(
        reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    const QJsonObject reply = document.object();
    const QJsonObject payload = reply.value(QLatin1String("data")).toObject();
    decodeAll(reply, document.array());
    decodeAll(payload, payload.value(QLatin1String("list")).toArray());
    return 0;
}
