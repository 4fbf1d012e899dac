#pragma once

#include <QString>

// Panels may send a display name as the JSON text of an object of localised names,
// {"zh-CN": "...", "en-US": "..."}.

// The member to prefer for the UI language ("en", "zh" or "zh-Hant"): "zh-CN" for "zh" only;
// Traditional Chinese readers get the English name rather than Simplified characters.
QString localeKeyForLanguage(const QString &language);

// The localeKey member of such an object, else "en-US", else its first member. Anything that is
// not a non-empty JSON object is shown as it came.
QString localizedName(const QString &name, const QString &localeKey);
