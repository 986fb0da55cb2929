// Test helper: prints its arguments (not its own name) as one JSON array.
// The C runtime's wide argument parser splits the command line, so what is
// printed is what any Windows program would receive.
#include <cstdio>
#include <string>
#include <vector>

#include "support/json_array.h"
#include "text/utf16_text.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view arg(argv[i]);
        args.push_back(tarvo::text::utf16_to_utf8(std::u16string(arg.begin(), arg.end())));
    }
    const std::string line = tarvo::testing::json_array(args);
    std::fwrite(line.data(), 1, line.size(), stdout);
    return 0;
}
