#pragma once

// The current user's proxy settings as WinINet keeps them (what the system's browsers and most
// programs use). Free of Qt, so that a cross compiler can check it anywhere.

#include <string>

namespace WinInetProxy {

struct Settings
{
    unsigned long flags = 0; // PROXY_TYPE_* bits
    std::wstring server;
    std::wstring bypass;
    std::wstring autoConfigUrl;
};

// The settings of the default connection (LAN); false when they cannot be read.
bool read(Settings *settings);
// Writes them and tells running programs that they changed.
bool write(const Settings &settings);
// The settings that send traffic through the proxy at host:port, local addresses excepted.
Settings through(const std::wstring &host, int port);

} // namespace WinInetProxy
