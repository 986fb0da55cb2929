// The whole start-up against a fresh host root: settings, the embedded files,
// the program copy and the desktop shortcut. powershell is the tool stand-in,
// which records how it was called.
#include "main/start_up.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "drivers/embedded_assets.h"
#include "platform/paths.h"
#include "support/file_writes.h"
#include "support/host_root.h"

#ifndef TARVO_WINTOOLS_STANDIN
#error "the test build names the tool stand-in in TARVO_WINTOOLS_STANDIN"
#endif

namespace tarvo {
namespace {

using testing::read_bytes;
using testing::write_bytes;

// Below C:\ProgramData\TARVO, in the order they are written: the libraries,
// then the driver folder.
const std::vector<std::string> kEmbedded = {"wireguard.dll",         "wintun.dll",
                                            "driver/tapinstall.exe", "driver/OemVista.inf",
                                            "driver/tap0901.cat",    "driver/tap0901.sys"};

std::string embedded(const std::string& relative) {
    return std::string(assets::find(std::filesystem::path(relative).filename().string()).value());
}

// The same size as the embedded copy, other bytes.
std::string same_size_other_bytes(const std::string& relative) {
    return std::string(embedded(relative).size(), '#');
}

// Where the running program file is.
enum class OwnPath { downloads, installed_copy, missing_file, unknown };
enum class Shortcut { none, to_installed_copy, to_running_program };

struct Planted {
    std::string path;  // below C:\ProgramData\TARVO
    std::string bytes;
    std::string hard_link_to = {};  // when set: `path` is made another name of that planted file
};

using Written = std::vector<std::string>;

struct StartUpCase {
    const char* name;
    std::vector<std::string> args;  // after the program's own name
    OwnPath own = OwnPath::downloads;
    std::vector<Planted> before = {};
    // C:\ProgramData\TARVO and its driver folder with rules that let anyone
    // write there (as every folder the client made before it secured them).
    bool open_to_anyone = false;
    // A folder below C:\ProgramData\TARVO that is a link to a folder outside.
    std::optional<std::string> link_to_outside = {};
    // Every file written below C:\ProgramData\TARVO and its driver folder, in
    // order. Rows that leave it unset start without those two folders.
    std::optional<Written> writes = {};
    // Files below C:\ProgramData\TARVO afterwards (no value: absent). An
    // embedded file not named here must hold the embedded bytes.
    std::vector<std::pair<std::string, std::optional<std::string>>> after = {};
    Shortcut shortcut = Shortcut::to_installed_copy;
    ClientConfig config = {};
    StartupOptions options = {};
    // Whether the TAP adapter step's installer starts (it is never found on a
    // fresh host; "--no-tap" skips the step).
    bool installer_starts = true;
};

void PrintTo(const StartUpCase& c, std::ostream* os) { *os << c.name; }

constexpr const char* kNewProgram = "new program";

// Written when the settings are saved; with APPDATA unset they lie in
// C:\ProgramData\TARVO\TARVO.
constexpr const char* kSettings = "TARVO/client.json";

Written fresh_writes() {
    Written w = kEmbedded;
    w.push_back("TarvoClient.exe");
    return w;
}

const std::vector<StartUpCase>& cases() {
    static const std::vector<StartUpCase> all = {
        {.name = "FreshMachine",
         .args = {},
         .after = {{"TarvoClient.exe", kNewProgram},
                   {"TarvoClient.old.exe", std::nullopt},
                   {kSettings, std::nullopt}}},
        {.name = "NoLaunchStillRunsEveryStep",
         .args = {"--no-launch"},
         .writes = fresh_writes(),
         .after = {{"TarvoClient.exe", kNewProgram}, {kSettings, std::nullopt}},
         .options = {.no_launch = true}},
        {.name = "NoTapAndNoLaunch",
         .args = {"--no-tap", "--no-launch"},
         .writes = fresh_writes(),
         .after = {{"TarvoClient.exe", kNewProgram}, {kSettings, std::nullopt}},
         .options = {.no_tap = true, .no_launch = true}},
        {.name = "ACodeConsumesNoTapSoTheTapStepStillRuns",
         .args = {"--code", "--no-tap", "--no-launch"},
         .options = {.no_launch = true}},
        // Compared by content: a file of the right size but other bytes is
        // replaced like a missing one.
        {.name = "OnlyMissingOrDifferentFilesAreRewritten",
         .args = {"--no-launch"},
         .before = {{"wireguard.dll", embedded("wireguard.dll")},
                    {"wintun.dll", same_size_other_bytes("wintun.dll")},
                    {"driver/tapinstall.exe", embedded("driver/tapinstall.exe")},
                    {"driver/tap0901.cat", embedded("driver/tap0901.cat") + "longer"},
                    {"driver/tap0901.sys", ""}},
         .writes = Written{"wintun.dll", "driver/OemVista.inf", "driver/tap0901.cat", "driver/tap0901.sys",
                           "TarvoClient.exe"},
         .options = {.no_launch = true},
         .installer_starts = false},  // the planted installer is not runnable
        {.name = "AnInstallerOfTheRightSizeButOtherContentIsReplacedBeforeItRuns",
         .args = {"--no-launch"},
         .before = {{"driver/tapinstall.exe", same_size_other_bytes("driver/tapinstall.exe")}},
         .writes = fresh_writes(),
         .options = {.no_launch = true}},
        // Two names of one file: each gets a file of its own, and writing one
        // never writes the other.
        {.name = "AHardLinkedFileGetsAFileOfItsOwn",
         .args = {"--no-launch"},
         .before = {{"wireguard.dll", "x"}, {"driver/tap0901.sys", "", "wireguard.dll"}},
         .writes = fresh_writes(),
         .options = {.no_launch = true}},
        // What anyone could put there before the folder was secured would
        // load into the installed copy's next start: only the client's own
        // entries stay.
        {.name = "AFolderAnyoneCouldWriteKeepsOnlyTheClientsOwn",
         .args = {"--no-launch"},
         .before = {{"dwmapi.dll", "planted"},
                    {"CRYPT32.dll", "planted"},
                    {"sub/WINHTTP.dll", "planted"},
                    {"driver/newdev.dll", "planted"},
                    {"wintun.dll", same_size_other_bytes("wintun.dll")},
                    {"TarvoClient.exe", "older program"},
                    {kSettings, R"({"DeviceCode":"ABCD1234EFGH"})"},
                    {"TARVO/client.json.tmp", "planted"}},
         .open_to_anyone = true,
         .writes = fresh_writes(),
         .after = {{"TarvoClient.exe", kNewProgram},
                   {"dwmapi.dll", std::nullopt},
                   {"CRYPT32.dll", std::nullopt},
                   {"sub", std::nullopt},
                   {"driver/newdev.dll", std::nullopt},
                   {kSettings, R"({"DeviceCode":"ABCD1234EFGH"})"},
                   {"TARVO/client.json.tmp", std::nullopt}},
         .config = {"ABCD1234EFGH", true, false},
         .options = {.no_launch = true}},
        {.name = "ALinkInPlaceOfTheDriverFolderIsReplacedNotFollowed",
         .args = {"--no-launch"},
         .link_to_outside = "driver",
         .options = {.no_launch = true}},
        {.name = "ReplacesTheInstalledCopyAndDeletesTheOldOne",
         .args = {"--no-launch"},
         .before = {{"TarvoClient.exe", "older program, longer"}, {"TarvoClient.old.exe", "oldest"}},
         .writes = fresh_writes(),
         .after = {{"TarvoClient.exe", kNewProgram}, {"TarvoClient.old.exe", std::nullopt}},
         .options = {.no_launch = true}},
        // A folder in place of the installed copy refuses to be overwritten,
        // as a running program file does, but can be moved aside.
        {.name = "AnInstalledCopyInUseIsMovedAside",
         .args = {"--no-launch"},
         .before = {{"TarvoClient.exe/in-use", "busy"}, {"TarvoClient.old.exe", "oldest"}},
         .writes = fresh_writes(),
         .after = {{"TarvoClient.exe", kNewProgram}, {"TarvoClient.old.exe/in-use", "busy"}},
         .options = {.no_launch = true}},
        {.name = "StartedFromTheInstalledCopy",
         .args = {"--no-launch"},
         .own = OwnPath::installed_copy,
         .before = {{"TarvoClient.exe", "installed"}, {"TarvoClient.old.exe", "oldest"}},
         .writes = kEmbedded,
         .after = {{"TarvoClient.exe", "installed"}, {"TarvoClient.old.exe", "oldest"}},
         .options = {.no_launch = true}},
        {.name = "AnUnknownOwnPathSkipsTheCopyAndTheShortcut",
         .args = {"--no-launch"},
         .own = OwnPath::unknown,
         .before = {{"TarvoClient.old.exe", "oldest"}},
         .writes = kEmbedded,
         .after = {{"TarvoClient.exe", std::nullopt}, {"TarvoClient.old.exe", "oldest"}},
         .shortcut = Shortcut::none,
         .options = {.no_launch = true}},
        {.name = "AProgramFileThatCannotBeCopiedLeavesTheShortcutOnIt",
         .args = {"--no-launch"},
         .own = OwnPath::missing_file,
         .writes = kEmbedded,
         .after = {{"TarvoClient.exe", std::nullopt}},
         .shortcut = Shortcut::to_running_program,
         .options = {.no_launch = true}},
        {.name = "AWellFormedKeyIsSaved",
         .args = {"--no-launch", "--key", "abcd-1234-efgh"},
         .after =
             {{kSettings,
               "{\n  \"DeviceCode\": \"ABCD1234EFGH\",\n  \"AutoConnect\": true,\n  \"ForceL3\": false\n}"}},
         .config = {"ABCD1234EFGH", true, false},
         .options = {.no_launch = true}},
        {.name = "AMalformedCodeSavesNothing",
         .args = {"--code", "abcd-1234", "--no-launch"},
         .after = {{kSettings, std::nullopt}},
         .options = {.no_launch = true}},
        {.name = "StoredSettingsAreReadButNotRewritten",
         .args = {"--no-launch"},
         .before = {{kSettings, R"({"ForceL3":true,"DeviceCode":"PASS-1H-AAAAAAAA"})"}},
         .after = {{kSettings, R"({"ForceL3":true,"DeviceCode":"PASS-1H-AAAAAAAA"})"}},
         .config = {"PASS-1H-AAAAAAAA", true, true},
         .options = {.no_launch = true}},
        {.name = "MalformedSettingsGiveDefaultsAndStayAsTheyAre",
         .args = {"--no-launch"},
         .before = {{kSettings, R"({"DeviceCode":"ABCD1234EFGH","AutoConnect":null})"}},
         .after = {{kSettings, R"({"DeviceCode":"ABCD1234EFGH","AutoConnect":null})"}},
         .options = {.no_launch = true}},
    };
    return all;
}

struct ToolCall {
    std::string tool;
    std::vector<std::string> args;
};

class StartUpTest : public ::testing::TestWithParam<StartUpCase> {
protected:
    void SetUp() override {
        // The settings path then lies in the host root too.
        if (const char* appdata = std::getenv("APPDATA")) saved_appdata_ = appdata;
        ::unsetenv("APPDATA");
        const auto system32 = platform::host_path("C:\\Windows\\System32");
        std::filesystem::create_directories(system32);
        std::filesystem::create_symlink(TARVO_WINTOOLS_STANDIN, system32 / "powershell");
        write_bytes(downloaded, kNewProgram);
    }

    void TearDown() override {
        if (saved_appdata_) ::setenv("APPDATA", saved_appdata_->c_str(), 1);
    }

    void open_to_anyone() const {
        for (const auto& folder : {data, data / "driver", data / "TARVO"})
            if (std::filesystem::exists(folder)) ::chmod(folder.c_str(), 0777);
    }

    void plant(const Planted& p) {
        const auto target = data / p.path;
        if (p.hard_link_to.empty()) return write_bytes(target, p.bytes);
        std::filesystem::create_directories(target.parent_path());
        std::error_code ec;
        std::filesystem::create_hard_link(data / p.hard_link_to, target, ec);
        if (ec) GTEST_SKIP() << "no hard links here: " << ec.message();
    }

    std::optional<std::filesystem::path> own_path(OwnPath own) const {
        switch (own) {
            case OwnPath::downloads: return downloaded;
            case OwnPath::installed_copy: return data / "TarvoClient.exe";
            case OwnPath::missing_file: return downloaded.parent_path() / "gone.exe";
            case OwnPath::unknown: return std::nullopt;
        }
        return std::nullopt;
    }

    std::vector<ToolCall> tool_calls() const {
        std::vector<ToolCall> calls;
        std::ifstream log(root.path() / "tarvo-standin.log");
        for (std::string line; std::getline(log, line);) {
            const auto call = nlohmann::json::parse(line);
            calls.push_back(
                {call.at("tool").get<std::string>(), call.at("args").get<std::vector<std::string>>()});
        }
        return calls;
    }

    // The calls of the shortcut step: those before the TAP adapter step's.
    std::vector<ToolCall> shortcut_calls() const {
        auto calls = tool_calls();
        std::erase_if(calls, [seen = false](const ToolCall& call) mutable {
            return seen = seen || call.tool == "tapinstall.exe";
        });
        return calls;
    }

    // No adapter exists on a fresh host: the driver is installed (the
    // embedded installer stand-in), then the adapters are disabled (netsh is
    // not planted here, so only powershell is recorded).
    void expect_tap_step(const StartUpCase& c) const {
        std::vector<std::string> tools;
        for (const auto& call : tool_calls()) tools.push_back(call.tool);
        const auto installer = std::find(tools.begin(), tools.end(), "tapinstall.exe");
        if (c.options.no_tap || !c.installer_starts) {
            EXPECT_EQ(installer, tools.end());
            return;
        }
        EXPECT_EQ(std::vector<std::string>(installer, tools.end()),
                  (std::vector<std::string>{"tapinstall.exe", "powershell"}));
    }

    void expect_shortcut(Shortcut shortcut, const std::optional<std::filesystem::path>& running) const {
        const auto calls = shortcut_calls();
        if (shortcut == Shortcut::none) {
            EXPECT_TRUE(calls.empty()) << calls.size() << " tool calls, the first " << calls[0].tool;
            return;
        }
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].tool, "powershell");
        ASSERT_EQ(calls[0].args.size(), 3u);
        EXPECT_EQ(calls[0].args[0], "-NoProfile");
        EXPECT_EQ(calls[0].args[1], "-Command");
        const std::string target = platform::path_text(
            shortcut == Shortcut::to_installed_copy ? data / "TarvoClient.exe" : *running);
        const std::string& script = calls[0].args[2];
        EXPECT_NE(script.find("$sc.TargetPath = '" + target + "';"), std::string::npos) << script;
        EXPECT_NE(script.find("$sc.WorkingDirectory = '" + platform::path_text(data) + "';"),
                  std::string::npos)
            << script;
        EXPECT_NE(script.find("$sc.IconLocation = '" + target + ",0';"), std::string::npos) << script;
    }

    testing::ScopedHostRoot root;
    const std::filesystem::path data = platform::host_path("C:\\ProgramData\\TARVO");
    const std::filesystem::path outside = platform::host_path("C:\\Users\\Jan\\elsewhere");
    const std::filesystem::path downloaded = platform::host_path(
        "C:\\Users\\Jan\\Downloads\\TarvoClient.exe");

private:
    std::optional<std::string> saved_appdata_;
};

TEST_P(StartUpTest, LeavesTheHostAsExpected) {
    const StartUpCase& c = GetParam();
    std::optional<testing::FileWriteWatch> watch;
    if (c.writes) {
        std::filesystem::create_directories(data / "driver");
        watch.emplace(data, std::vector<std::string>{"", "driver"});
        ASSERT_TRUE(watch->ok());
    }
    for (const Planted& p : c.before) plant(p);
    if (IsSkipped()) return;
    if (c.open_to_anyone) open_to_anyone();
    if (c.link_to_outside) {
        std::filesystem::create_directories(outside);
        std::filesystem::create_directories(data);
        std::filesystem::create_directory_symlink(outside, data / *c.link_to_outside);
    }
    if (watch) (void)watch->take();  // the planting itself

    std::vector<std::string> args{"TarvoClient.exe"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto running = own_path(c.own);
    const StartupResult result = run_start_up(args, running);

    EXPECT_EQ(result.config, c.config);
    EXPECT_EQ(result.options.no_tap, c.options.no_tap);
    EXPECT_EQ(result.options.no_launch, c.options.no_launch);
    if (watch) {
        EXPECT_EQ(watch->take(), *c.writes);
    }

    const auto named_after = [&](const std::string& path) {
        for (const auto& [name, bytes] : c.after) {
            if (name == path) return true;
        }
        return false;
    };
    for (const auto& file : kEmbedded) {
        if (!named_after(file)) {
            EXPECT_EQ(read_bytes(data / file), embedded(file)) << file;
        }
    }
    for (const auto& [name, bytes] : c.after) {
        if (bytes) {
            EXPECT_EQ(read_bytes(data / name), *bytes) << name;
        } else {
            EXPECT_FALSE(std::filesystem::exists(data / name)) << name;
        }
    }
    for (const auto& folder : {data, data / "driver"}) {
        struct stat info {};
        ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode)) << folder;
        EXPECT_EQ(info.st_mode & 07777, 0755u) << folder;
    }
    if (c.link_to_outside) {
        EXPECT_TRUE(std::filesystem::is_empty(outside));
    }
    expect_shortcut(c.shortcut, running);
    expect_tap_step(c);
}

INSTANTIATE_TEST_SUITE_P(Table, StartUpTest, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvo
