// Links the Windows TUN units the cross-compile check builds: creating the platform pulls in the
// adapter, the IP Helper and filtering code and the dialer's socket pinning.
#include "inbound/tun/tunplatform.h"

int main()
{
    return qivro::engine::tun::createTunPlatform() ? 0 : 1;
}
