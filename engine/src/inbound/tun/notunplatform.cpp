// Systems without TUN support in this build: a TUN inbound fails to start with a clear error.
#include "inbound/tun/tunplatform.h"

namespace qivro::engine::tun {

std::unique_ptr<TunPlatform> createTunPlatform()
{
    return nullptr;
}

} // namespace qivro::engine::tun
