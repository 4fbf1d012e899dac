#pragma once

#include <QString>

// Whether a panel reply's msg says that the token was not accepted. The panel has no stable error
// code for this, so every handler recognises it by the same wording: "invalid access",
// "unauthorized" or "login" in any letter case, or 请先登录 / 请先登陆 as sent. Plain substring
// checks: any msg that mentions logging in counts.
bool looksLikeAuthFailureMessage(const QString &message);
