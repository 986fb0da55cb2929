// Registry contents and the adapter GUID the search must find in them; each
// platform's test seeds them into its own registry.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tarvo::testing {

struct SeededAdapter {
    std::string subkey;
    std::optional<std::string> component_id;
    std::optional<std::string> guid;  // NetCfgInstanceId
};

struct AdapterSearchCase {
    std::string name;
    std::vector<SeededAdapter> adapters;
    std::optional<std::string> found;
};

inline void PrintTo(const AdapterSearchCase& c, std::ostream* out) { *out << c.name; }

inline std::vector<AdapterSearchCase> adapter_search_cases() {
    const std::string a = "{0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2C3}";
    const std::string b = "{11111111-2222-3333-4444-555555555555}";
    const std::string lower = "{abcdef01-2345-6789-abcd-ef0123456789}";
    return {
        {"NoAdapters", {}, std::nullopt},
        {"OnlyOtherAdapters", {{"0000", "pci\\ven_8086", a}, {"0001", "tap0801", b}}, std::nullopt},
        {"FirstOfTwoTapAdaptersWins",
         {{"0000", "pci\\ven_8086", lower}, {"0001", "tap0901", a}, {"0002", "root\\tap0901", b}},
         a},
        {"UpperCaseComponentIdMatches", {{"0000", "TAP0901", a}}, a},
        {"UpperCaseRootComponentIdMatches", {{"0000", "ROOT\\TAP0901", b}}, b},
        {"TrailingBlankDoesNotMatch", {{"0000", "tap0901 ", a}, {"0001", "tap0901", b}}, b},
        {"LeadingBlankDoesNotMatch", {{"0000", " root\\tap0901", a}}, std::nullopt},
        {"LookalikeLettersDoNotMatch",
         {{"0000",
           "\xD0\xA2\xD0\x90\xD0\xA0"
           "0901",
           a}},
         std::nullopt},
        {"MissingComponentIdIsSkipped", {{"0000", std::nullopt, a}, {"0001", "tap0901", b}}, b},
        {"MissingGuidIsSkipped", {{"0000", "tap0901", std::nullopt}, {"0001", "tap0901", b}}, b},
        {"EmptyGuidIsSkipped", {{"0000", "tap0901", ""}, {"0001", "tap0901", b}}, b},
        {"GuidKeepsItsLetterCase", {{"0000", "tap0901", lower}}, lower},
        {"HostileGuidIsSkipped",
         {{"0000", "tap0901", "{x}' ; Remove-Item -Recurse C:\\ ; '"}, {"0001", "tap0901", b}},
         b},
        {"GuidWithoutBracesIsSkipped", {{"0000", "tap0901", a.substr(1, 36)}}, std::nullopt},
        {"GuidWithBlankIsSkipped", {{"0000", "tap0901", a + " "}}, std::nullopt},
        {"GuidWithNonHexDigitIsSkipped",
         {{"0000", "tap0901", "{0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2CG}"}},
         std::nullopt},
    };
}

}  // namespace tarvo::testing
