#include "main/client_config.h"

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "support/temp_folder.h"

namespace tarvo {
namespace {

using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

const ClientConfig kDefaults{"", true, false};

struct LoadCase {
    const char* name;
    std::string text;
    ClientConfig expected;
};

class LoadClientConfig : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadClientConfig, ReadsTheFileOrFallsBackToAllDefaults) {
    const auto& c = GetParam();
    TempFolder folder;
    const auto file = folder.path() / "client.json";
    write_bytes(file, c.text);
    EXPECT_EQ(load_client_config_from(file), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadClientConfig,
    ::testing::Values(
        LoadCase{
            "all three", R"({"DeviceCode":"ABC","AutoConnect":false,"ForceL3":true})", {"ABC", false, true}},
        LoadCase{"only the code", R"({"DeviceCode":"ABCDEFGH1234"})", {"ABCDEFGH1234", true, false}},
        LoadCase{"empty object", "{}", kDefaults},
        LoadCase{"whitespace around", " \t\r\n{ \"ForceL3\" : true }\n\n ", {"", true, true}},
        LoadCase{"unknown members of every kind are skipped",
                 R"({"X":[1,-2.5e+3,{"a":[null,true]}],"DeviceCode":"K","Y":"\u00e9","Z":0})",
                 {"K", true, false}},
        LoadCase{"escapes in the code",
                 R"({"DeviceCode":"a\"b\\c\/d\n\u0041\u00e9\ud83d\ude00"})",
                 {"a\"b\\c/d\nA\xC3\xA9\xF0\x9F\x98\x80", true, false}},
        LoadCase{"escaped key still matches", R"({"\u0044eviceCode":"Q"})", {"Q", true, false}},
        LoadCase{"raw UTF-8 in the code",
                 "{\"DeviceCode\":\"za\xC5\xBC\xC3\xB3\\u0142\"}",
                 {"za\xC5\xBC\xC3\xB3\xC5\x82", true, false}},
        LoadCase{"array of three", R"(["K", false, true])", {"K", false, true}},
        LoadCase{"array of one", R"(["K"])", {"K", true, false}}, LoadCase{"empty array", "[]", kDefaults},
        LoadCase{"array of four", R"(["K", false, true, 1])", kDefaults},
        LoadCase{"array element of wrong type", R"([true])", kDefaults},
        LoadCase{"AutoConnect null", R"({"DeviceCode":"K","AutoConnect":null})", kDefaults},
        LoadCase{"DeviceCode null", R"({"DeviceCode":null})", kDefaults},
        LoadCase{"code as number", R"({"DeviceCode":12})", kDefaults},
        LoadCase{"flag as string", R"({"ForceL3":"true"})", kDefaults},
        LoadCase{"flag as 1", R"({"AutoConnect":1})", kDefaults},
        LoadCase{"key given twice", R"({"DeviceCode":"A","DeviceCode":"B"})", kDefaults},
        LoadCase{"byte-order mark", "\xEF\xBB\xBF{\"DeviceCode\":\"K\"}", kDefaults},
        LoadCase{"trailing bytes", R"({"DeviceCode":"K"} x)", kDefaults},
        LoadCase{"two values", R"({"DeviceCode":"K"}{})", kDefaults},
        LoadCase{"trailing comma", R"({"DeviceCode":"K",})", kDefaults},
        LoadCase{"unterminated", R"({"DeviceCode":"K")", kDefaults}, LoadCase{"empty file", "", kDefaults},
        LoadCase{"top-level string", R"("K")", kDefaults}, LoadCase{"top-level null", "null", kDefaults},
        LoadCase{"case of the key matters", R"({"devicecode":"K"})", kDefaults},
        LoadCase{"raw control character in a string", "{\"DeviceCode\":\"a\tb\"}", kDefaults},
        LoadCase{"bad escape", R"({"DeviceCode":"\x"})", kDefaults},
        LoadCase{"lone surrogate", R"({"DeviceCode":"\ud800"})", kDefaults},
        LoadCase{"invalid UTF-8 inside the code", "{\"DeviceCode\":\"\xFF\"}", kDefaults},
        LoadCase{"invalid UTF-8 in a skipped member", "{\"X\":\"\xC3\x28\",\"DeviceCode\":\"K\"}", kDefaults},
        LoadCase{"leading zero in a skipped number", R"({"X":01})", kDefaults},
        LoadCase{"bare minus in a skipped number", R"({"X":-})", kDefaults},
        LoadCase{"single quotes", R"({'DeviceCode':'K'})", kDefaults},
        LoadCase{
            "nesting at the limit is read",
            std::string(R"({"X":)") + std::string(127, '[') + std::string(127, ']') + R"(,"DeviceCode":"K"})",
            {"K", true, false}},
        LoadCase{
            "nesting one past the limit",
            std::string(R"({"X":)") + std::string(128, '[') + std::string(128, ']') + R"(,"DeviceCode":"K"})",
            kDefaults},
        LoadCase{"deep nesting does not overflow the stack",
                 std::string(R"({"X":)") + std::string(100000, '[') + std::string(100000, ']') + "}",
                 kDefaults}));

TEST(LoadClientConfigFile, MissingFileGivesDefaults) {
    TempFolder folder;
    EXPECT_EQ(load_client_config_from(folder.path() / "client.json"), kDefaults);
}

TEST(LoadClientConfigFile, AFolderInPlaceOfTheFileGivesDefaults) {
    TempFolder folder;
    std::filesystem::create_directories(folder.path() / "client.json");
    EXPECT_EQ(load_client_config_from(folder.path() / "client.json"), kDefaults);
}

TEST(SerializeClientConfig, WritesTheExactBytes) {
    EXPECT_EQ(serialize_client_config({"ABCDEFGH1234", true, false}),
              "{\n  \"DeviceCode\": \"ABCDEFGH1234\",\n  \"AutoConnect\": true,\n  \"ForceL3\": false\n}");
    EXPECT_EQ(serialize_client_config({"", false, true}),
              "{\n  \"DeviceCode\": \"\",\n  \"AutoConnect\": false,\n  \"ForceL3\": true\n}");
}

TEST(SerializeClientConfig, EscapesQuotesBackslashesAndControlsOnly) {
    const std::string code = std::string("q\"b\\n\nt\tr\rb\bf\f") + '\x01' + "\x1f/\x7f\xC5\xBC";
    EXPECT_EQ(serialize_client_config({code, true, false}),
              "{\n  \"DeviceCode\": \"q\\\"b\\\\n\\nt\\tr\\rb\\bf\\f\\u0001\\u001f/\x7f\xC5\xBC\",\n"
              "  \"AutoConnect\": true,\n  \"ForceL3\": false\n}");
}

TEST(SaveClientConfig, RoundTripsThroughTheFileAndCreatesItsFolder) {
    TempFolder folder;
    const auto file = folder.path() / "deep" / "TARVO" / "client.json";
    const ClientConfig config{"PASS-48H-ABCD\"1234", false, true};
    ASSERT_TRUE(save_client_config_to(file, config));
    EXPECT_EQ(read_bytes(file), serialize_client_config(config));
    EXPECT_EQ(load_client_config_from(file), config);
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".tmp"));
}

TEST(SaveClientConfig, AFailedWriteLeavesTheStoredSettingsIntact) {
    TempFolder folder;
    const auto file = folder.path() / "client.json";
    const ClientConfig stored{"ABCDEFGH1234", true, false};
    ASSERT_TRUE(save_client_config_to(file, stored));
    const std::string before = read_bytes(file);
    // The temporary file cannot be written (a non-empty folder holds its name),
    // which even an administrator cannot write through.
    write_bytes(folder.path() / "client.json.tmp" / "blocker", "x");

    EXPECT_FALSE(save_client_config_to(file, {"OTHERCODE123", false, true}));
    EXPECT_EQ(read_bytes(file), before);
    EXPECT_EQ(load_client_config_from(file), stored);
}

TEST(SaveClientConfig, AFolderInPlaceOfTheFileFailsTheSaveAndLeavesNoTemporaryFile) {
    TempFolder folder;
    const auto file = folder.path() / "client.json";
    write_bytes(file / "kept", "x");

    EXPECT_FALSE(save_client_config_to(file, {"ABCDEFGH1234", true, false}));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "client.json.tmp"));
    EXPECT_EQ(read_bytes(file / "kept"), "x");
}

TEST(ClientConfigPath, IsBelowAppDataOrTheProgramDataFolder) {
    EXPECT_EQ(client_config_path_for(std::string("/roaming")),
              platform::path_from_text("/roaming") / "TARVO" / "client.json");
    EXPECT_EQ(client_config_path_for(std::nullopt),
              platform::host_path("C:\\ProgramData\\TARVO\\TARVO\\client.json"));
}

}  // namespace
}  // namespace tarvo
