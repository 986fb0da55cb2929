// Test helper: prints its current folder as UTF-8 text.
#include <cstdio>
#include <filesystem>
#include <string>

int main() {
    const std::u8string text = std::filesystem::current_path().u8string();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}
