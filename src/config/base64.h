#pragma once

#include <QByteArray>

// Decodes a subscription body. Lenient by design: panels wrap, pad and mangle their Base64, so
// bytes outside the standard alphabet are skipped, "=" ends the input, and leftover bits are
// dropped. Never fails; bad input only yields fewer or different bytes.
QByteArray base64_decode(const QByteArray &input);
