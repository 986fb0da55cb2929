// Text doubled for a single-quoted PowerShell string stays one literal, read
// back by PowerShell's own quote rules, whichever of the five quote
// characters it holds.
#include "text/powershell_quotes.h"

#include <gtest/gtest.h>

#include "support/powershell_literals.h"

namespace tarvo::text {
namespace {

const std::string_view kQuotes[] = {"'", "\u2018", "\u2019", "\u201A", "\u201B"};

TEST(DoublePowerShellQuotes, DoublesEachOfTheFiveQuoteCharacters) {
    for (const std::string_view quote : kQuotes) {
        const std::string q(quote);
        EXPECT_EQ(double_powershell_quotes("a" + q + "b"), "a" + q + q + "b") << q;
        EXPECT_EQ(double_powershell_quotes(q + q), q + q + q + q) << q;
    }
    EXPECT_EQ(double_powershell_quotes("C:\\Program Files\\Tarvo"), "C:\\Program Files\\Tarvo");
    // Neighbours of the quote characters and a lone lead byte stay as they are.
    EXPECT_EQ(double_powershell_quotes("\u2017\u201C`\"\xE2\x80"), "\u2017\u201C`\"\xE2\x80");
}

TEST(DoublePowerShellQuotes, TheTextStaysOneLiteralWhateverQuotesItHolds) {
    std::vector<std::string> texts = {"C:\\Users\\Public\\x\u2019;Start-Process cmd;\u2019\\",
                                      "O'Brien's ''x", "\u2018\u2019\u201A\u201B'", "' ; calc ; '"};
    for (const std::string_view quote : kQuotes)
        texts.push_back("C:\\Users\\Public\\x" + std::string(quote) + ";Start-Process cmd;" +
                        std::string(quote) + "\\");
    for (const std::string& text : texts) {
        const auto reading =
            testing::read_powershell_literals("$p = '" + double_powershell_quotes(text) + "'; $p.Length");
        EXPECT_FALSE(reading.unterminated) << text;
        ASSERT_EQ(reading.literals.size(), 1u) << text;
        EXPECT_EQ(reading.literals[0], text);
        EXPECT_EQ(reading.code, "$p = ; $p.Length") << text;
    }
}

}  // namespace
}  // namespace tarvo::text
