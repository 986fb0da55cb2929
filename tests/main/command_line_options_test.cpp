#include "main/command_line_options.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

struct OptionsCase {
    const char* name;
    std::vector<std::string> args;  // after the program name
    bool no_tap;
    bool no_launch;
    std::vector<std::string> saved_codes;  // DeviceCode of each save, in order
};

class ApplyCommandLine : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(ApplyCommandLine, AppliesOptionsAndSavesEachAcceptedCode) {
    const auto& c = GetParam();
    std::vector<std::string> args{"TarvoClient.exe"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ClientConfig config{"STORED", false, true};
    std::vector<ClientConfig> saves;

    const auto options = apply_command_line(args, config, [&](const ClientConfig& s) { saves.push_back(s); });

    EXPECT_EQ(options.no_tap, c.no_tap) << c.name;
    EXPECT_EQ(options.no_launch, c.no_launch) << c.name;
    std::vector<std::string> saved;
    for (const auto& s : saves) {
        saved.push_back(s.DeviceCode);
        EXPECT_TRUE(s.AutoConnect) << c.name;
        EXPECT_TRUE(s.ForceL3) << c.name;  // untouched by the options
    }
    EXPECT_EQ(saved, c.saved_codes) << c.name;
    if (c.saved_codes.empty()) {
        EXPECT_EQ(config, (ClientConfig{"STORED", false, true})) << c.name;
    } else {
        EXPECT_EQ(config.DeviceCode, c.saved_codes.back()) << c.name;
        EXPECT_TRUE(config.AutoConnect) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplyCommandLine,
    ::testing::Values(
        OptionsCase{"nothing", {}, false, false, {}},
        OptionsCase{"both flags", {"--no-launch", "--no-tap"}, true, true, {}},
        OptionsCase{"device key cleaned", {"--code", " abcd-efgh-1234 "}, false, false, {"ABCDEFGH1234"}},
        OptionsCase{"--key is the same", {"--key", "abcdefgh1234"}, false, false, {"ABCDEFGH1234"}},
        OptionsCase{
            "pass in canonical form", {"--code", "pass 48h--abcd1234"}, false, false, {"PASS-48H-ABCD1234"}},
        OptionsCase{"malformed value is not saved", {"--key", "short", "--no-launch"}, false, true, {}},
        OptionsCase{"code as last argument is ignored", {"--no-launch", "--code"}, false, true, {}},
        OptionsCase{"value consumes an option", {"--code", "--no-tap"}, false, false, {}},
        OptionsCase{"value consumes the next --code", {"--code", "--code", "ABCDEFGH1234"}, false, false, {}},
        OptionsCase{"each accepted code saved, last stays",
                    {"--code", "AAAAAAAAAAAA", "--key", "bad", "--key", "BBBBBBBBBBBB"},
                    false,
                    false,
                    {"AAAAAAAAAAAA", "BBBBBBBBBBBB"}},
        OptionsCase{"options are case-sensitive", {"--CODE", "ABCDEFGH1234", "--No-Tap"}, false, false, {}},
        OptionsCase{"joined value is ignored", {"--code=ABCDEFGH1234", "--no-launch=1"}, false, false, {}},
        OptionsCase{"other arguments are ignored", {"x", "-no-tap", "--no-tap"}, true, false, {}}));

TEST(ApplyCommandLineProgramName, TheFirstArgumentIsNeverAnOption) {
    ClientConfig config;
    const auto options = apply_command_line({"--no-tap"}, config, [](const ClientConfig&) {});
    EXPECT_FALSE(options.no_tap);
}

}  // namespace
}  // namespace tarvo
