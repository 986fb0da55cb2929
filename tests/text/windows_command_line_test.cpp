#include "text/windows_command_line.h"

#include <gtest/gtest.h>

namespace tarvo::text {
namespace {

struct QuoteCase {
    std::string arg;
    std::string quoted;
};

TEST(QuoteWindowsArgument, QuotesOnlyWhatNeedsIt) {
    const QuoteCase cases[] = {
        {"plain", "plain"},
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"a\tb", "\"a\tb\""},
        {"a\"b", "\"a\\\"b\""},
        {"C:\\dir\\file", "C:\\dir\\file"},                    // backslashes alone stay literal
        {"\\\\server\\share\\", "\\\\server\\share\\"},        // even trailing ones, unquoted
        {"C:\\Program Files\\", "\"C:\\Program Files\\\\\""},  // doubled before the closing quote
        {"a\\\"b", "\"a\\\\\\\"b\""},                          // backslash before a quote: 2n+1
        {"a\\\\ b", "\"a\\\\ b\""},                            // inner backslashes before a blank: literal
        {"'single' quotes", "\"'single' quotes\""},
    };
    for (const QuoteCase& c : cases) EXPECT_EQ(quote_windows_argument(c.arg), c.quoted) << c.arg;
}

struct SplitCase {
    std::string line;
    std::vector<std::string> args;
};

TEST(SplitWindowsCommandLine, FollowsTheRuntimeRules) {
    const SplitCase cases[] = {
        {"prog a b", {"prog", "a", "b"}},
        {"\"C:\\Program Files\\t.exe\" a", {"C:\\Program Files\\t.exe", "a"}},
        {"C:\\dir\\t.exe", {"C:\\dir\\t.exe"}},
        {"p \"a b\" c", {"p", "a b", "c"}},
        {"p  \t a \t\t b  ", {"p", "a", "b"}},
        {"p a\\\\b", {"p", "a\\\\b"}},
        {"p a\\\\\\\"b", {"p", "a\\\"b"}},
        {"p \"a\\\\\" b", {"p", "a\\", "b"}},
        {"p \"\" \"\"", {"p", "", ""}},
        {"p a\"b c\"d", {"p", "ab cd"}},
        {"p \\\"a", {"p", "\"a"}},
        {"p \"a\"\"b\"", {"p", "a\"b"}},
        {"p \"unterminated arg", {"p", "unterminated arg"}},
        {"", {""}},
    };
    for (const SplitCase& c : cases) EXPECT_EQ(split_windows_command_line(c.line), c.args) << c.line;
}

TEST(WindowsCommandLine, ComposedLineSplitsBackIntoTheSameArguments) {
    const std::vector<std::vector<std::string>> lists = {
        {"C:\\Program Files\\tool.exe", "a b", "", "tab\there", "x"},
        {"powershell", "-NoProfile", "-Command",
         "$d = [Environment]::GetFolderPath('Desktop'); if ($d) { 'it''s' }"},
        {"t", "say \"hi\"", "\"", "\\", "\\\\", "a\\", "a b\\", "a\\\\\"b", "\\\"", ""},
        {"t", "--code", "zażółć gęślą", "C:\\ProgramData\\TARVO\\"},
    };
    for (const auto& args : lists)
        EXPECT_EQ(split_windows_command_line(compose_windows_command_line(args)), args);
}

}  // namespace
}  // namespace tarvo::text
