#include "drivers/hidden_command.h"

#include <optional>

#include "platform/process.h"

namespace tarvo {

namespace {

CommandOutput to_command_output(Expected<platform::ProcessOutput, platform::OsError> result) {
    if (!result) return {-1, platform::describe(result.error())};
    return {result->exit_code,
            decode_utf8_lossy(result->stdout_bytes) + decode_utf8_lossy(result->stderr_bytes)};
}

}  // namespace

CommandOutput run_hidden(std::string_view program, const std::vector<std::string>& args) {
    return to_command_output(platform::run_process_hidden(program, args));
}

CommandOutput run_hidden_in(std::string_view program, const std::vector<std::string>& args,
                            const std::filesystem::path& working_dir) {
    return to_command_output(platform::run_process_hidden(program, args, working_dir));
}

// Replaces each maximal ill-formed subpart with one U+FFFD (the Unicode
// recommendation, also what the common lossy decoders do).
std::string decode_utf8_lossy(std::string_view bytes) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    while (i < n) {
        const unsigned char b = byte(i);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        std::size_t need = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            out += kReplacement;
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k <= need && i + k < n; ++k) {
            const unsigned char c = byte(i + k);
            const unsigned char min = k == 1 ? lo : 0x80;
            const unsigned char max = k == 1 ? hi : 0xBF;
            if (c < min || c > max) break;
        }
        if (k == need + 1) {
            out.append(bytes.substr(i, need + 1));
        } else {
            out += kReplacement;
        }
        i += k;  // skip the valid prefix of the broken sequence too
    }
    return out;
}

}  // namespace tarvo
