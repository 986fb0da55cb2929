#include "wg_engine/hub_endpoint.h"

#include <algorithm>

#include "text/unicode_text.h"

namespace tarvo {

Expected<WgEndpoint, std::string> resolve_hub_endpoint(std::string_view endpoint,
                                                       const HostPortResolver& resolve) {
    const auto addresses = resolve(unicode::trim_white_space(endpoint));
    if (!addresses)
        return unexpected("Nie można rozwiązać adresu Huba '" + std::string(endpoint) +
                          "': " + addresses.error());
    for (const platform::ResolvedAddress& a : *addresses) {
        if (!a.is_ipv4) continue;
        WgEndpoint found;
        std::copy_n(a.address.begin(), found.address.size(), found.address.begin());
        found.port = a.port;
        return found;
    }
    return unexpected("Brak adresu IPv4 dla endpointu '" + std::string(endpoint) + "'");
}

}  // namespace tarvo
