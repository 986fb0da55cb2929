// Test helper: output_child <stdout text> <stderr text> <repeat> <exit code>
// writes both texts `repeat` times, alternating stdout and stderr and flushing
// each write, then exits with the exit code (decimal, may be negative).
// "%XX" in a text is the byte of hex value XX, so any bytes can be written
// whatever the command line's character set.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

static std::string unescape(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            bytes.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            bytes.push_back(text[i]);
        }
    }
    return bytes;
}

int main(int argc, char** argv) {
    if (argc != 5) return 100;
    const std::string out = unescape(argv[1]);
    const std::string err = unescape(argv[2]);
    const long repeat = std::strtol(argv[3], nullptr, 10);
    const long long code = std::strtoll(argv[4], nullptr, 10);
    for (long i = 0; i < repeat; ++i) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
        std::fwrite(err.data(), 1, err.size(), stderr);
        std::fflush(stderr);
    }
    std::exit(static_cast<int>(code));
}
