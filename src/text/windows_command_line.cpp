#include "text/windows_command_line.h"

namespace tarvo::text {

std::string quote_windows_argument(std::string_view arg) {
    const bool plain = !arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos;
    if (plain) return std::string(arg);

    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless they precede a quote: then each one
        // is doubled and the quote escaped.
        if (c == '"') out.append(backslashes * 2 + 1, '\\');
        else out.append(backslashes, '\\');
        backslashes = 0;
        out.push_back(c);
    }
    // Trailing backslashes precede the closing quote.
    out.append(backslashes * 2, '\\');
    out.push_back('"');
    return out;
}

std::string compose_windows_command_line(const std::vector<std::string>& args) {
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i) line.push_back(' ');
        line += quote_windows_argument(args[i]);
    }
    return line;
}

std::vector<std::string> split_windows_command_line(std::string_view line) {
    std::vector<std::string> args;
    std::size_t i = 0;
    const std::size_t n = line.size();
    auto is_blank = [](char c) { return c == ' ' || c == '\t'; };

    // The program name knows no escapes: quoted up to the next quote, or up
    // to the first blank.
    std::string program;
    if (i < n && line[i] == '"') {
        ++i;
        while (i < n && line[i] != '"') program.push_back(line[i++]);
        if (i < n) ++i;
    } else {
        while (i < n && !is_blank(line[i])) program.push_back(line[i++]);
    }
    args.push_back(std::move(program));

    while (true) {
        while (i < n && is_blank(line[i])) ++i;
        if (i >= n) break;
        std::string arg;
        bool in_quotes = false;
        while (i < n && (in_quotes || !is_blank(line[i]))) {
            const char c = line[i];
            if (c == '\\') {
                std::size_t count = 0;
                while (i < n && line[i] == '\\') {
                    ++count;
                    ++i;
                }
                if (i < n && line[i] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2) {
                        arg.push_back('"');
                        ++i;
                    }
                } else {
                    arg.append(count, '\\');
                }
            } else if (c == '"') {
                ++i;
                if (in_quotes && i < n && line[i] == '"') {
                    arg.push_back('"');  // "" inside quotes is one literal quote
                    ++i;
                } else {
                    in_quotes = !in_quotes;
                }
            } else {
                arg.push_back(c);
                ++i;
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

}  // namespace tarvo::text
