#include "command_forms.h"

#include <cstdio>
#include <string_view>

namespace tarvo::standins {

namespace {

constexpr std::string_view kShortcutHead =
    "$d = [Environment]::GetFolderPath('Desktop'); if ($d) { $lnk = Join-Path $d 'Tarvo Client.lnk'; "
    "$ws = New-Object -ComObject WScript.Shell; $sc = $ws.CreateShortcut($lnk); $sc.TargetPath = '";
constexpr std::string_view kShortcutTail = " Native L2/L3)'; $sc.Save() }";

constexpr std::string_view kGreRuleScript =
    "if (-not (Get-NetFirewallRule -DisplayName 'TARVO-GRE-EoIP-Allow' -ErrorAction SilentlyContinue)) { "
    "New-NetFirewallRule -DisplayName 'TARVO-GRE-EoIP-Allow' -Protocol 47 -Direction Inbound -Action Allow "
    "-ErrorAction SilentlyContinue | Out-Null }";

constexpr std::string_view kTapFilter =
    "Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceDescription -like '*TAP-Windows*' -or "
    "$_.Name -eq "
    "'SD-WAN-L2' } | ";
constexpr std::string_view kTapSwitchTail = "-NetAdapter -Confirm:$false -ErrorAction SilentlyContinue";
constexpr std::string_view kFirstTapHead =
    "Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceGuid -eq '";
constexpr std::string_view kFirstTapTail =
    "' -or $_.InterfaceDescription -like '*TAP-Windows*' } | Select-Object -First 1";

bool wraps(std::string_view text, std::string_view head, std::string_view tail) {
    return text.size() >= head.size() + tail.size() && text.starts_with(head) && text.ends_with(tail);
}

bool is_recorded_only_script(std::string_view script) {
    if (wraps(script, kShortcutHead, kShortcutTail) || script == kGreRuleScript) return true;
    if (script.starts_with(kTapFilter)) {
        const std::string_view verb = script.substr(kTapFilter.size());
        return verb == std::string("Enable") + std::string(kTapSwitchTail) ||
               verb == std::string("Disable") + std::string(kTapSwitchTail);
    }
    // The MAC address query and the TAP address script both name the adapter's GUID.
    if (wraps(script, "(" + std::string(kFirstTapHead), std::string(kFirstTapTail) + ").MacAddress"))
        return true;
    return wraps(script, "$a = " + std::string(kFirstTapHead), " }") &&
           script.find(std::string(kFirstTapTail) +
                       "; if ($a) { netsh interface ipv4 set address name=\"$($a.Name)\" static ") !=
               std::string_view::npos;
}

// netsh interface ipv4 set address name=X source=dhcp | static ADDRESS MASK
bool is_tap_address_line(const std::vector<std::string>& args) {
    const bool head = args.size() >= 6 && args[0] == "interface" && args[1] == "ipv4" && args[2] == "set" &&
                      args[3] == "address" && args[4].starts_with("name=");
    return head &&
           ((args.size() == 6 && args[5] == "source=dhcp") || (args.size() == 8 && args[5] == "static"));
}

}  // namespace

int refuse_command_line(const std::string& tool, const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) line += " [" + a + "]";
    std::fprintf(stderr, "%s stand-in: unknown command line:%s\n", tool.c_str(), line.c_str());
    return 1;
}

bool is_recorded_only_form(const std::string& tool, const std::vector<std::string>& args) {
    if (tool == "netsh") return is_tap_address_line(args);
    if (tool == "powershell")
        return args.size() == 3 && args[0] == "-NoProfile" && args[1] == "-Command" &&
               is_recorded_only_script(args[2]);
    return false;
}

int answer_unhandled_command_line(const std::string& tool, const std::vector<std::string>& args) {
    if (is_recorded_only_form(tool, args)) return 0;
    return refuse_command_line(tool, args);
}

}  // namespace tarvo::standins
