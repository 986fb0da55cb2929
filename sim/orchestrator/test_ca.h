// A certificate authority made on the spot for tests and the simulated
// network, and a server certificate it issues.
#pragma once

#include <string>
#include <vector>

#include "util/expected.h"

namespace tarvo::sim {

struct ServerCredentials {
    std::string ca_certificate_pem;      // what a client trusts
    std::string server_certificate_pem;  // issued by that CA
    std::string server_private_key_pem;
};

// A fresh CA (EC P-256) and a server certificate for `dns_names` and
// `ip_addresses` as its subject alternative names. The error is OpenSSL's.
Expected<ServerCredentials, std::string> make_server_credentials(
    const std::vector<std::string>& dns_names, const std::vector<std::string>& ip_addresses);

}  // namespace tarvo::sim
