// Reads a script's single-quoted strings the way PowerShell's tokenizer does:
// any of U+0027, U+2018, U+2019, U+201A and U+201B opens and closes one, and
// inside it such a character followed by another of them stands for the
// second. For scripts without double-quoted strings or comments, which is
// what the client's single-quoted scripts are.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvo::testing {

struct PowerShellReading {
    std::vector<std::string> literals;  // each single-quoted string's value, in order
    std::string code;                   // everything outside them
    bool unterminated = false;          // the script ends inside a string
};

// The length of the quote character that starts `rest`, or 0.
inline std::size_t powershell_quote_at(std::string_view rest) {
    if (!rest.empty() && rest.front() == '\'') return 1;
    for (const std::string_view quote : {"\u2018", "\u2019", "\u201A", "\u201B"})
        if (rest.starts_with(quote)) return quote.size();
    return 0;
}

inline PowerShellReading read_powershell_literals(std::string_view script) {
    PowerShellReading reading;
    while (!script.empty()) {
        const std::size_t open = powershell_quote_at(script);
        if (open == 0) {
            reading.code.push_back(script.front());
            script.remove_prefix(1);
            continue;
        }
        script.remove_prefix(open);
        std::string value;
        while (true) {
            if (script.empty()) {
                reading.unterminated = true;
                reading.literals.push_back(value);
                return reading;
            }
            if (const std::size_t quote = powershell_quote_at(script)) {
                const std::size_t next = powershell_quote_at(script.substr(quote));
                if (next == 0) {
                    script.remove_prefix(quote);
                    break;
                }
                value.append(script.substr(quote, next));  // the second one stands
                script.remove_prefix(quote + next);
                continue;
            }
            value.push_back(script.front());
            script.remove_prefix(1);
        }
        reading.literals.push_back(std::move(value));
    }
    return reading;
}

}  // namespace tarvo::testing
