// Text placed inside a single-quoted PowerShell string. PowerShell ends such a
// string at any of five characters, not only the apostrophe: U+0027 and the
// typographic U+2018, U+2019, U+201A and U+201B. Inside the string each of
// them is written twice to stand for itself.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::text {

// `text` (UTF-8) with every one of the five quote characters doubled, so that
// between two apostrophes it stays one literal whatever it holds. Every
// single-quoted string of a script the client builds goes through here.
std::string double_powershell_quotes(std::string_view text);

}  // namespace tarvo::text
