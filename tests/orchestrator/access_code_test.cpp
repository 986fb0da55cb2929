#include "orchestrator/access_code.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tarvo {
namespace {

struct CodeCase {
    const char* input;
    bool valid;
    const char* normalized;
};

void PrintTo(const CodeCase& c, std::ostream* os) { *os << '"' << c.input << '"'; }

class AccessCodeTest : public ::testing::TestWithParam<CodeCase> {};

TEST_P(AccessCodeTest, ChecksAndNormalizes) {
    const CodeCase& c = GetParam();
    EXPECT_EQ(is_valid_access_code(c.input), c.valid);
    EXPECT_EQ(normalize_access_code(c.input), c.normalized);
}

INSTANTIATE_TEST_SUITE_P(
    TypedForms, AccessCodeTest,
    ::testing::Values(
        // Service passes: case, dashes and blanks do not matter.
        CodeCase{"  pass-48h-abcd1234 ", true, "PASS-48H-ABCD1234"},
        CodeCase{"PASS48HABCD1234", true, "PASS-48H-ABCD1234"},
        CodeCase{"PASS-48H-ABCD1234", true, "PASS-48H-ABCD1234"},
        CodeCase{"pass-0048h-abcd1234", true, "PASS-0048H-ABCD1234"},
        CodeCase{"PASS-1H-HHHHHHHH", true, "PASS-1H-HHHHHHHH"},
        CodeCase{"\tpass 7h\r\nzz99yy88\n", true, "PASS-7H-ZZ99YY88"},
        // Device keys in groups.
        CodeCase{"abcd-1234-efgh", true, "ABCD1234EFGH"}, CodeCase{"abcd 1234 efgh", true, "ABCD1234EFGH"},
        CodeCase{"PASS1234ABCD", true, "PASS1234ABCD"},  // 12 characters: a key
        // Malformed: cleaned but otherwise unchanged.
        CodeCase{"", false, ""}, CodeCase{" - ", false, ""}, CodeCase{"abcd1234efg", false, "ABCD1234EFG"},
        CodeCase{"abcd1234efghi", false, "ABCD1234EFGHI"},
        CodeCase{"PASS-H-ABCD1234", false, "PASSHABCD1234"},
        CodeCase{"PASS-12345H-ABCD1234", false, "PASS12345HABCD1234"},
        CodeCase{"PASS-48H-ABCD123", false, "PASS48HABCD123"},
        CodeCase{"PASS-48H-ABCD12345", false, "PASS48HABCD12345"},
        CodeCase{"PASS-4X8H-ABCD1234", false, "PASS4X8HABCD1234"},
        CodeCase{"PASS-48-ABCD1234", false, "PASS48ABCD1234"},
        CodeCase{"abcd_1234efg", false, "ABCD_1234EFG"},
        CodeCase{"PASS-48H-ABCD.234", false, "PASS48HABCD.234"},
        // Other dashes are not removed.
        CodeCase{"ABCD\u20131234\u2013EFGH", false, "ABCD\u20131234\u2013EFGH"},
        CodeCase{"PASS\u201348H\u2013ABCD1234", false, "PASS\u201348H\u2013ABCD1234"},
        // Every White_Space character goes, also outside ASCII.
        CodeCase{"ABCD\u00A01234\u3000EFGH", true, "ABCD1234EFGH"},
        CodeCase{"\u2028ABCD\u1680\u200A1234\u202F\u205FEFGH\u0085\u2029", true, "ABCD1234EFGH"},
        // Zero-width space is not White_Space: it stays and spoils the key.
        CodeCase{"ABCD\u200B1234EFGH", false, "ABCD\u200B1234EFGH"},
        // The full case mapping can turn non-ASCII letters into a good code.
        CodeCase{"pa\u017F\u017F-48h-abcd1234", true, "PASS-48H-ABCD1234"},  // long s
        CodeCase{"pa\u00DF-48h-abcd1234", true, "PASS-48H-ABCD1234"},        // sharp s
        CodeCase{"abcd1234e\uFB00g", true, "ABCD1234EFFG"},                  // ff ligature
        CodeCase{"abcd1234\u0131jkl", true, "ABCD1234IJKL"},                 // dotless i
        CodeCase{"abcd1234\uFB03", false, "ABCD1234FFI"},                    // ffi: 11
        CodeCase{"\u00E9bcd1234efgh", false, "\u00C9BCD1234EFGH"},
        // Each invalid UTF-8 byte becomes U+FFFD and makes the code malformed.
        CodeCase{"abcd1234efg\xff", false, "ABCD1234EFG\uFFFD"},
        CodeCase{"abcd1234ef\xc3", false, "ABCD1234EF\uFFFD"},
        CodeCase{"abcd1234\xc0\xafgh", false, "ABCD1234\uFFFD\uFFFDGH"},
        CodeCase{"abcd 1234\xed\xa0\x80", false, "ABCD1234\uFFFD\uFFFD\uFFFD"},
        // Bytes that only join into a letter once a dash or blank between
        // them is removed must not make a well-formed key ("ı" is C4 B1).
        CodeCase{"yyyyyyyyyyy\xc4-\xb1", false, "YYYYYYYYYYY\uFFFD\uFFFD"},
        CodeCase{"yyyyyyyyyyy\xc4 \xb1", false, "YYYYYYYYYYY\uFFFD\uFFFD"}));

struct ExpiryCase {
    std::optional<std::string> input;
    const char* shown;
};

void PrintTo(const ExpiryCase& c, std::ostream* os) {
    *os << (c.input ? '"' + *c.input + '"' : std::string("absent"));
}

class PassExpiryTest : public ::testing::TestWithParam<ExpiryCase> {};

TEST_P(PassExpiryTest, Formats) { EXPECT_EQ(format_pass_expiry(GetParam().input), GetParam().shown); }

INSTANTIATE_TEST_SUITE_P(
    TimeStamps, PassExpiryTest,
    ::testing::Values(ExpiryCase{std::nullopt, "aktywna"}, ExpiryCase{"", "aktywna"},
                      ExpiryCase{" \t\u00A0\u3000 ", "aktywna"},
                      ExpiryCase{"2025-03-01T08:15:00Z", "2025-03-01 08:15"},
                      ExpiryCase{"2025-03-01", "2025-03-01"},
                      ExpiryCase{"2025-03-01T08:15:00.123456ZZ", "2025-03-01 08:15"},
                      ExpiryCase{"\u3000 2025-01-31T12:30:00Z\u00A0\n", "2025-01-31 12:30"},
                      ExpiryCase{"2025-03-01T08", "2025-03-01 08"}, ExpiryCase{"TZ", " "},
                      // Sixteen characters, not sixteen bytes.
                      ExpiryCase{"\u017C\u017C\u017C\u017C\u017C\u017C\u017C\u017C\u017C\u017C\u017C\u017C"
                                 "\u017C\u017C\u017C\u017Cxyz",
                                 "\u017C\u017C\u017C\u017C\u017C\u017C\u017C\u017C\u017C\u017C\u017C\u017C"
                                 "\u017C\u017C\u017C\u017C"}));

}  // namespace
}  // namespace tarvo
