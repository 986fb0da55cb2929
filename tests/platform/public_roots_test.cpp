// The public root set compiled into the program.
#include "platform/public_roots.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace tarvo::platform {
namespace {

// One RDN of an X.500 name in DER: SET { SEQUENCE { OID 2.5.4.<type>, PrintableString } }.
std::string printable_rdn(unsigned char type, const std::string& value) {
    std::string attribute = std::string("\x06\x03\x55\x04", 4) + static_cast<char>(type) + '\x13' +
                            static_cast<char>(value.size()) + value;
    std::string sequence = '\x30' + std::string(1, static_cast<char>(attribute.size())) + attribute;
    return '\x31' + std::string(1, static_cast<char>(sequence.size())) + sequence;
}

// "C=US, O=Internet Security Research Group, CN=ISRG Root X1" as DER.
std::string isrg_root_x1_name() {
    const std::string rdns = printable_rdn(6, "US") + printable_rdn(10, "Internet Security Research Group") +
                             printable_rdn(3, "ISRG Root X1");
    return '\x30' + std::string(1, static_cast<char>(rdns.size())) + rdns;
}

std::size_t occurrences(std::string_view text, std::string_view part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST(PublicRoots, HoldTheMozillaSet) {
    const auto roots = public_root_certificates();
    ASSERT_GT(roots.size(), 100u);
    for (const auto& root : roots) EXPECT_EQ(root.front(), 0x30) << "not a DER sequence";
}

TEST(PublicRoots, IncludeIsrgRootX1AsASelfSignedRoot) {
    const std::string name = isrg_root_x1_name();
    const bool found = std::ranges::any_of(
        public_root_certificates(), [&](std::span<const unsigned char> root) {
            const std::string_view der(reinterpret_cast<const char*>(root.data()), root.size());
            return occurrences(der, name) == 2;  // as issuer and as subject
        });
    EXPECT_TRUE(found);
}

}  // namespace
}  // namespace tarvo::platform
