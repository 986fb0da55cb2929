// Feeds arbitrary bodies to the answer readers. Besides the sanitizers'
// checks, the outcome must not depend on how the body is cut into pieces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "orchestrator/bootstrap_reader.h"
#include "orchestrator/predicates.h"

namespace {

using tarvo::MemoryByteSource;

bool same_outcome(const tarvo::Expected<tarvo::BootstrapResult, tarvo::ReadError>& a,
                  const tarvo::Expected<tarvo::BootstrapResult, tarvo::ReadError>& b) {
    if (a.has_value() != b.has_value()) return false;
    return a.has_value() ? *a == *b : a.error() == b.error();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);

    MemoryByteSource whole(body);
    const auto result = tarvo::read_bootstrap_result(whole);
    MemoryByteSource bytewise(body, 1);
    if (!same_outcome(result, tarvo::read_bootstrap_result(bytewise))) std::abort();
    MemoryByteSource uneven(body, 7);
    if (!same_outcome(result, tarvo::read_bootstrap_result(uneven))) std::abort();

    if (result) {
        (void)tarvo::topology_signature(*result);
        (void)tarvo::is_tunnel_allowed(*result);
        auto next = result->links.cbegin();
        while (tarvo::next_l2_link(next, result->links.cend())) {
        }
    }

    MemoryByteSource detail_whole(body);
    MemoryByteSource detail_bytewise(body, 1);
    if (tarvo::read_error_detail(detail_whole) != tarvo::read_error_detail(detail_bytewise)) std::abort();
    return 0;
}
