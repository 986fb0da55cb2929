#include <gtest/gtest.h>

#include "drivers/tap_adapter.h"

namespace tarvo {
namespace {

struct AddressCase {
    const char* tap_ip;
    const char* address;
    const char* mask;
};

void PrintTo(const AddressCase& c, std::ostream* out) { *out << '"' << c.tap_ip << '"'; }

class TapAddressAndMask : public ::testing::TestWithParam<AddressCase> {};

TEST_P(TapAddressAndMask, GivesHostAddressAndDottedMask) {
    const TapAddress got = tap_address_and_mask(GetParam().tap_ip);
    EXPECT_EQ(got.address, GetParam().address);
    EXPECT_EQ(got.mask, GetParam().mask);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TapAddressAndMask,
    ::testing::Values(AddressCase{"10.200.1.5/24", "10.200.1.5", "255.255.255.0"},
                      AddressCase{"10.200.1.0/24", "10.200.1.10", "255.255.255.0"},
                      AddressCase{"10.200.1.0", "10.200.1.0", "255.255.255.0"},
                      AddressCase{"10.200.1.5/16", "10.200.1.5", "255.255.0.0"},
                      AddressCase{"10.200.1.5/0", "10.200.1.5", "0.0.0.0"},
                      AddressCase{"10.200.1.5/1", "10.200.1.5", "128.0.0.0"},
                      AddressCase{"10.200.1.5/32", "10.200.1.5", "255.255.255.255"},
                      AddressCase{"10.200.1.5/33", "10.200.1.5", "255.255.255.255"},
                      AddressCase{"10.200.1.5/4294967295", "10.200.1.5", "255.255.255.255"},
                      AddressCase{"10.200.1.5/+20", "10.200.1.5", "255.255.240.0"},
                      AddressCase{"10.200.1.5/", "10.200.1.5", "255.255.255.0"},
                      AddressCase{"10.200.1.5/+", "10.200.1.5", "255.255.255.0"},
                      AddressCase{"10.200.1.5/++20", "10.200.1.5", "255.255.255.0"},
                      AddressCase{"10.200.1.5/-1", "10.200.1.5", "255.255.255.0"},
                      AddressCase{"10.200.1.5/x", "10.200.1.5", "255.255.255.0"},
                      AddressCase{"10.200.1.5/ 16", "10.200.1.5", "255.255.255.0"},
                      AddressCase{"10.200.1.5/16 x", "10.200.1.5", "255.255.255.0"},
                      AddressCase{"10.200.1.5/4294967296", "10.200.1.5", "255.255.255.0"},
                      AddressCase{"10.0.0/24", "10.0.0", "255.255.255.0"},
                      AddressCase{"10.0.0.0.0/24", "10.0.0.0.0", "255.255.255.0"},
                      AddressCase{"a.b.c.0/8", "a.b.c.10", "255.0.0.0"},
                      AddressCase{"10.200.1.10/24", "10.200.1.10", "255.255.255.0"},
                      AddressCase{"10.200.1.0 /24", "10.200.1.0 ", "255.255.255.0"},
                      AddressCase{"  10.200.1.0/24\t\n", "10.200.1.10", "255.255.255.0"},
                      AddressCase{"\xE2\x80\x83"
                                  "10.1.2.3"
                                  "\xC2\xA0",
                                  "10.1.2.3", "255.255.255.0"},
                      AddressCase{"", "", "255.255.255.0"}, AddressCase{"/24", "", "255.255.255.0"},
                      AddressCase{"10.1.2.0/24/8", "10.1.2.10", "255.255.255.0"}));

TEST(IsBracedGuid, AcceptsOnlyTheBracedEightFourFourFourTwelveShape) {
    EXPECT_TRUE(is_braced_guid("{0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2C3}"));
    EXPECT_TRUE(is_braced_guid("{abcdef01-2345-6789-abcd-ef0123456789}"));
    for (const char* bad :
         {"", "{}", "0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2C3", "{0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2C3} ",
          "{0B8F1C2D-3E4F-4A5B-9C6D7-E8F90A1B2C3}", "{0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2CZ}",
          "(0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2C3)", "{0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2C3}\"'"})
        EXPECT_FALSE(is_braced_guid(bad)) << bad;
}

}  // namespace
}  // namespace tarvo
