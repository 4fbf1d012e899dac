#include "desktop/wininetproxy.h"

// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

namespace WinInetProxy {

namespace {

std::wstring takeString(LPWSTR text)
{
    if (!text)
        return {};
    std::wstring value(text);
    GlobalFree(text);
    return value;
}

} // namespace

bool read(Settings *settings)
{
    INTERNET_PER_CONN_OPTIONW options[4] = {};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    options[3].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
    INTERNET_PER_CONN_OPTION_LISTW list = {};
    DWORD size = sizeof(list);
    list.dwSize = size;
    list.pszConnection = nullptr;
    list.dwOptionCount = 4;
    list.pOptions = options;
    if (!InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size))
        return false;
    settings->flags = options[0].Value.dwValue;
    settings->server = takeString(options[1].Value.pszValue);
    settings->bypass = takeString(options[2].Value.pszValue);
    settings->autoConfigUrl = takeString(options[3].Value.pszValue);
    return true;
}

bool write(const Settings &settings)
{
    std::wstring server = settings.server;
    std::wstring bypass = settings.bypass;
    std::wstring autoConfigUrl = settings.autoConfigUrl;
    INTERNET_PER_CONN_OPTIONW options[4] = {};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[0].Value.dwValue = settings.flags;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[1].Value.pszValue = server.empty() ? nullptr : &server[0];
    options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    options[2].Value.pszValue = bypass.empty() ? nullptr : &bypass[0];
    options[3].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
    options[3].Value.pszValue = autoConfigUrl.empty() ? nullptr : &autoConfigUrl[0];
    INTERNET_PER_CONN_OPTION_LISTW list = {};
    list.dwSize = sizeof(list);
    list.pszConnection = nullptr;
    list.dwOptionCount = 4;
    list.pOptions = options;
    if (!InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list)))
        return false;
    // Running programs keep the old settings until told.
    InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
    return true;
}

Settings through(const std::wstring &host, int port)
{
    Settings settings;
    settings.flags = PROXY_TYPE_DIRECT | PROXY_TYPE_PROXY;
    settings.server = host + L":" + std::to_wstring(port);
    settings.bypass = L"localhost;127.*;10.*;172.16.*;172.17.*;172.18.*;172.19.*;172.20.*;"
                      L"172.21.*;172.22.*;172.23.*;172.24.*;172.25.*;172.26.*;172.27.*;"
                      L"172.28.*;172.29.*;172.30.*;172.31.*;192.168.*;<local>";
    return settings;
}

} // namespace WinInetProxy
