// The start and close sequences against a recording double of wireguard.dll's
// six entry points and of the system tools.
#include "wg_engine/wg_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/powershell_literals.h"
#include "support/wg_start_inputs.h"
#include "text/utf16_text.h"

namespace tarvo {
namespace {

using ::testing::ElementsAre;

const std::string kService = "WireGuardTunnel$tarvo-client";

// What the double does and what it saw; one per test (the entry points are
// plain functions, so it is reached through a global).
struct Library {
    bool leftover = false;
    bool create_fails = false;
    bool configuration_refused = false;
    bool up_refused = false;
    bool service_listed = false;
    std::set<std::string> missing;
    std::vector<std::string> looked_up;  // entry point names, in order
    std::vector<std::string> calls;      // entry points and commands, in order
    std::vector<std::uint8_t> block;
    std::vector<std::uint8_t> configuration;  // what WireGuardGetConfiguration answers
    bool configuration_readable = true;
    std::u16string tunnel_type;
    WgGuid guid{};
};
Library* library = nullptr;

int leftover_adapter;
int created_adapter;
WgAdapterHandle handle_of(int& object) { return reinterpret_cast<WgAdapterHandle>(&object); }
std::string name_of(WgAdapterHandle handle) {
    if (handle == handle_of(leftover_adapter)) return "leftover";
    if (handle == handle_of(created_adapter)) return "created";
    return "unknown";
}

WgAdapterHandle TARVO_WG_API create_adapter(const char16_t* name, const char16_t* type, const WgGuid* guid) {
    library->calls.push_back("WireGuardCreateAdapter " + text::utf16_to_utf8(name));
    library->tunnel_type = type;
    library->guid = *guid;
    return library->create_fails ? nullptr : handle_of(created_adapter);
}
WgAdapterHandle TARVO_WG_API open_adapter(const char16_t* name) {
    library->calls.push_back("WireGuardOpenAdapter " + text::utf16_to_utf8(name));
    return library->leftover ? handle_of(leftover_adapter) : nullptr;
}
void TARVO_WG_API close_adapter(WgAdapterHandle adapter) {
    library->calls.push_back("WireGuardCloseAdapter " + name_of(adapter));
}
WgBool TARVO_WG_API set_adapter_state(WgAdapterHandle adapter, std::int32_t state) {
    library->calls.push_back("WireGuardSetAdapterState " + name_of(adapter) + " " + std::to_string(state));
    return state == kWgAdapterStateUp && library->up_refused ? 0 : 1;
}
WgBool TARVO_WG_API set_configuration(WgAdapterHandle adapter, const std::uint8_t* config,
                                      std::uint32_t bytes) {
    library->calls.push_back("WireGuardSetConfiguration " + name_of(adapter) + " " + std::to_string(bytes));
    library->block.assign(config, config + bytes);
    return library->configuration_refused ? 0 : 1;
}
WgBool TARVO_WG_API get_configuration(WgAdapterHandle adapter, std::uint8_t* config, std::uint32_t* bytes) {
    library->calls.push_back("WireGuardGetConfiguration " + name_of(adapter) + " " + std::to_string(*bytes));
    const std::vector<std::uint8_t>& answer = library->configuration;
    std::copy(answer.begin(), answer.begin() + std::min<std::size_t>(answer.size(), *bytes), config);
    *bytes = static_cast<std::uint32_t>(answer.size());
    return library->configuration_readable ? 1 : 0;
}

const std::map<std::string, void*> kExports = {
    {"WireGuardCreateAdapter", reinterpret_cast<void*>(&create_adapter)},
    {"WireGuardOpenAdapter", reinterpret_cast<void*>(&open_adapter)},
    {"WireGuardCloseAdapter", reinterpret_cast<void*>(&close_adapter)},
    {"WireGuardSetAdapterState", reinterpret_cast<void*>(&set_adapter_state)},
    {"WireGuardSetConfiguration", reinterpret_cast<void*>(&set_configuration)},
    {"WireGuardGetConfiguration", reinterpret_cast<void*>(&get_configuration)},
};

std::string joined(std::string_view program, const std::vector<std::string>& args) {
    std::string line(program);
    for (const std::string& a : args) line += " [" + a + "]";
    return line;
}

class WgEngineTest : public ::testing::Test {
public:
    void SetUp() override {
        library = &lib;
        system.extract_embedded_files = [this]() -> Status<std::string> {
            lib.calls.push_back("extract");
            if (extract_error) return unexpected(*extract_error);
            return Unit{};
        };
        system.wireguard_dll_path = [] { return std::filesystem::path("wireguard.dll"); };
        system.resolve =
            [this](std::string_view text) -> Expected<std::vector<platform::ResolvedAddress>, std::string> {
            lib.calls.push_back("resolve " + std::string(text));
            if (resolve_error) return unexpected(*resolve_error);
            platform::ResolvedAddress a;
            a.is_ipv4 = true;
            a.address = {198, 51, 100, 1};
            a.port = 51820;
            return std::vector{a};
        };
        system.load_library =
            [this](
                const std::filesystem::path& path) -> Expected<platform::LibraryHandle, platform::OsError> {
            lib.calls.push_back("load " + path.string());
            if (load_fails) return unexpected(platform::OsError{126, "not found"});
            return platform::LibraryHandle{&lib};
        };
        system.library_symbol = [this](platform::LibraryHandle handle, const char* name) -> void* {
            lib.looked_up.push_back(name);
            if (handle.native != &lib || lib.missing.contains(name)) return nullptr;
            return kExports.at(name);
        };
        system.run_hidden = [this](std::string_view program, const std::vector<std::string>& args) {
            lib.calls.push_back(joined(program, args));
            CommandOutput out;
            if (program == "sc" && args.front() == "query" && lib.service_listed)
                out.text =
                    "SERVICE_NAME: WireGuardTunnel$tarvo-client\r\n        TYPE : 10  WIN32_OWN_PROCESS\r\n";
            return out;
        };
    }
    void TearDown() override { library = nullptr; }

    Status<std::string> start(std::vector<std::string> allowed = {"10.200.0.0/24", "10.254.0.0/16"}) {
        WgStartInputs in = testing::sample_start_inputs();
        in.allowed_ips = std::move(allowed);
        in.hub_endpoint = "hub.example:51820";
        return start_wg_engine(engine, in, system);
    }

    Library lib;
    WgEngine engine;
    WgEngineSystem system;
    std::optional<std::string> extract_error;
    std::optional<std::string> resolve_error;
    bool load_fails = false;
};

const std::string kScQuery = "sc [query] [" + kService + "]";
const std::string kNetsh =
    "netsh [interface] [ipv4] [set] [address] [name=tarvo-client] [static] [10.200.0.7] [255.255.255.255]";
const std::string kPowerShell =
    "powershell [-NoProfile] [-Command] [Set-NetIPInterface -InterfaceAlias 'tarvo-client' -NlMtuBytes 1420 "
    "-ErrorAction SilentlyContinue; "
    "Remove-NetRoute -DestinationPrefix '10.200.0.0/24' -Confirm:$false -ErrorAction SilentlyContinue; "
    "New-NetRoute -DestinationPrefix '10.200.0.0/24' -InterfaceAlias 'tarvo-client' -NextHop '0.0.0.0' "
    "-RouteMetric 5 -ErrorAction SilentlyContinue | Out-Null; "
    "Remove-NetRoute -DestinationPrefix '10.254.0.0/16' -Confirm:$false -ErrorAction SilentlyContinue; "
    "New-NetRoute -DestinationPrefix '10.254.0.0/16' -InterfaceAlias 'tarvo-client' -NextHop '0.0.0.0' "
    "-RouteMetric 5 -ErrorAction SilentlyContinue | Out-Null]";

TEST_F(WgEngineTest, AWholeStartRunsEveryStepInOrder) {
    const auto started = start();
    ASSERT_TRUE(started) << started.error();
    EXPECT_THAT(lib.calls,
                ElementsAre(kScQuery, "extract", "resolve hub.example:51820", "load wireguard.dll",
                            "WireGuardOpenAdapter tarvo-client", "WireGuardCreateAdapter tarvo-client",
                            "WireGuardSetConfiguration created 264", kNetsh,
                            "WireGuardSetAdapterState created 1", kPowerShell));
    EXPECT_EQ(lib.tunnel_type, u"WireGuard");
    const std::uint8_t guid[16] = {0xE0, 0xC1, 0x8A, 0x5D, 0x05, 0x22, 0x9A, 0x4B,
                                   0x91, 0x22, 0x10, 0x20, 0x00, 0x00, 0x25, 0x00};
    EXPECT_EQ(std::memcmp(lib.guid.bytes, guid, 16), 0);
    // The block carries the decoded keys and the resolved endpoint.
    ASSERT_EQ(lib.block.size(), 264u);
    EXPECT_EQ(lib.block[6], 0x00);
    EXPECT_EQ(lib.block[37], 0x1F);
    EXPECT_EQ(lib.block[88], 0x20);
    EXPECT_EQ(lib.block[119], 0x3F);
    EXPECT_EQ(std::vector<std::uint8_t>(lib.block.begin() + 156, lib.block.begin() + 164),
              (std::vector<std::uint8_t>{2, 0, 0xCA, 0x6C, 198, 51, 100, 1}));
    EXPECT_THAT(lib.looked_up, ElementsAre("WireGuardCreateAdapter", "WireGuardOpenAdapter",
                                           "WireGuardCloseAdapter", "WireGuardSetAdapterState",
                                           "WireGuardSetConfiguration", "WireGuardGetConfiguration"));
    EXPECT_EQ(engine.adapter, handle_of(created_adapter));
    // A close releases the adapter only: the library stays loaded, its entry points kept.
    close_wg_engine(engine, system);
    EXPECT_EQ(engine.adapter, nullptr);
    EXPECT_EQ(engine.close_adapter, &close_adapter);
    EXPECT_EQ(engine.set_adapter_state, &set_adapter_state);
    EXPECT_EQ(engine.get_configuration, &get_configuration);
}

TEST_F(WgEngineTest, AHeldAdapterIsClosedFirstAndALeftoverIsReleased) {
    ASSERT_TRUE(start());
    lib.calls.clear();
    lib.leftover = true;
    ASSERT_TRUE(start({}));
    EXPECT_THAT(
        lib.calls,
        ElementsAre("WireGuardSetAdapterState created 0", "WireGuardCloseAdapter created", kScQuery,
                    "extract", "resolve hub.example:51820", "load wireguard.dll",
                    "WireGuardOpenAdapter tarvo-client", "WireGuardSetAdapterState leftover 0",
                    "WireGuardCloseAdapter leftover", "WireGuardCreateAdapter tarvo-client",
                    "WireGuardSetConfiguration created 216", kNetsh, "WireGuardSetAdapterState created 1"));
}

TEST_F(WgEngineTest, EachMissingEntryPointEndsTheStartWithItsText) {
    for (const char* name :
         {"WireGuardCreateAdapter", "WireGuardOpenAdapter", "WireGuardCloseAdapter",
          "WireGuardSetAdapterState", "WireGuardSetConfiguration", "WireGuardGetConfiguration"}) {
        lib.calls.clear();
        lib.missing = {name};
        const auto started = start();
        ASSERT_FALSE(started) << name;
        EXPECT_EQ(started.error(), std::string("Brak funkcji ") + name + " w wireguard.dll");
        EXPECT_EQ(lib.calls.back(), "load wireguard.dll") << name;
        EXPECT_EQ(engine.adapter, nullptr);
    }
}

TEST_F(WgEngineTest, EarlyFailuresLeaveNoAdapterAndCallNothingAfterThem) {
    const struct {
        const char* what;
        std::function<void(WgEngineTest&)> arrange;
        std::string error;
        std::string last_call;
    } rows[] = {
        {"folders", [](WgEngineTest& t) { t.extract_error = "Błąd tworzenia C:\\ProgramData\\TARVO: x"; },
         "Błąd tworzenia C:\\ProgramData\\TARVO: x", "extract"},
        {"resolver", [](WgEngineTest& t) { t.resolve_error = "Name or service not known"; },
         "Nie można rozwiązać adresu Huba 'hub.example:51820': Name or service not known",
         "resolve hub.example:51820"},
        {"library", [](WgEngineTest& t) { t.load_fails = true; },
         "Nie udało się załadować natywnej biblioteki wireguard.dll (WireGuard-NT)", "load wireguard.dll"},
        {"create", [](WgEngineTest& t) { t.lib.create_fails = true; },
         "WireGuardCreateAdapter zwrócił NULL (uruchom program jako Administrator)",
         "WireGuardCreateAdapter tarvo-client"},
    };
    for (const auto& row : rows) {
        lib = Library{};
        extract_error.reset();
        resolve_error.reset();
        load_fails = false;
        row.arrange(*this);
        const auto started = start();
        ASSERT_FALSE(started) << row.what;
        EXPECT_EQ(started.error(), row.error) << row.what;
        EXPECT_EQ(lib.calls.back(), row.last_call) << row.what;
        EXPECT_EQ(engine.adapter, nullptr) << row.what;
    }
}

TEST_F(WgEngineTest, BadKeysAreRefusedBeforeAnythingIsResolved) {
    WgStartInputs in;
    in.private_key = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8";
    in.hub_public_key = testing::kHubPublicKey;
    in.hub_endpoint = "hub.example:51820";
    auto started = start_wg_engine(engine, in, system);
    ASSERT_FALSE(started);
    EXPECT_EQ(
        started.error(),
        "Nieprawidłowy PrivateKey WireGuard: Błąd Base64: nieprawidłowe dopełnienie: 0 znaków '=' zamiast 1 "
        "na pozycji 43");
    in.hub_public_key = "";
    started = start_wg_engine(engine, in, system);
    ASSERT_FALSE(started);
    EXPECT_TRUE(started.error().starts_with("Nieprawidłowy PrivateKey WireGuard")) << "decoded first";
    in.private_key = testing::kNodePrivateKey;
    started = start_wg_engine(engine, in, system);
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error(), "Nieprawidłowy PublicKey Huba: Klucz ma 0 bajtów (wymagane 32)");
    EXPECT_EQ(lib.calls.back(), "extract");
}

TEST_F(WgEngineTest, ARefusedConfigurationClosesTheNewAdapterWithItsServiceCheck) {
    lib.configuration_refused = true;
    lib.service_listed = true;
    const auto started = start();
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error(), "WireGuardSetConfiguration nie powiodło się");
    EXPECT_THAT(std::vector(lib.calls.end() - 6, lib.calls.end()),
                ElementsAre("WireGuardSetConfiguration created 264", "WireGuardSetAdapterState created 0",
                            "WireGuardCloseAdapter created", kScQuery, "sc [stop] [" + kService + "]",
                            "sc [delete] [" + kService + "]"));
    EXPECT_EQ(engine.adapter, nullptr);
}

TEST_F(WgEngineTest, ARefusedUpClosesTheNewAdapterAfterTheHostAddress) {
    lib.up_refused = true;
    const auto started = start();
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error(), "WireGuardSetAdapterState(UP) nie powiodło się");
    EXPECT_THAT(std::vector(lib.calls.end() - 5, lib.calls.end()),
                ElementsAre(kNetsh, "WireGuardSetAdapterState created 1",
                            "WireGuardSetAdapterState created 0", "WireGuardCloseAdapter created", kScQuery));
    EXPECT_EQ(engine.adapter, nullptr);
}

TEST_F(WgEngineTest, CloseWithoutAnAdapterRunsOnlyTheServiceCheck) {
    close_wg_engine(engine, system);
    EXPECT_THAT(lib.calls, ElementsAre(kScQuery));
    lib.calls.clear();
    lib.service_listed = true;
    close_wg_engine(engine, system);
    EXPECT_THAT(lib.calls,
                ElementsAre(kScQuery, "sc [stop] [" + kService + "]", "sc [delete] [" + kService + "]"));
}

TEST_F(WgEngineTest, PeerTrafficIsReadFromAWholePeerOnly) {
    EXPECT_EQ(read_wg_peer_traffic(engine), std::nullopt);  // no adapter
    ASSERT_TRUE(start());
    lib.calls.clear();
    lib.configuration.assign(216, 0);
    lib.configuration[184] = 7;
    lib.configuration[193] = 1;
    EXPECT_EQ(read_wg_peer_traffic(engine), (WgPeerTraffic{7, 256}));
    EXPECT_THAT(lib.calls, ElementsAre("WireGuardGetConfiguration created 4096"));

    lib.configuration.resize(215);
    EXPECT_EQ(read_wg_peer_traffic(engine), std::nullopt);
    lib.configuration.resize(216);
    lib.configuration_readable = false;
    EXPECT_EQ(read_wg_peer_traffic(engine), std::nullopt);
}

TEST(WgEngineCommands, HostAddressIsThePartBeforeTheFirstSlashTrimmed) {
    for (const char* wg_ip : {"10.200.0.7/32", "10.200.0.7", " 10.200.0.7 /24/8"}) {
        EXPECT_THAT(host_address_arguments("tarvo-client", wg_ip),
                    ElementsAre("interface", "ipv4", "set", "address", "name=tarvo-client", "static",
                                "10.200.0.7", "255.255.255.255"))
            << wg_ip;
    }
    EXPECT_EQ(host_address_arguments("tarvo-client", "")[6], "");
}

// netsh reads "name=value" words as parameters and a leading '-' or '/' as a
// switch: a host that is not a plain dotted quad goes as an empty address.
TEST(WgEngineCommands, AHostThatIsNoDottedQuadGoesAsAnEmptyAddress) {
    for (const char* wg_ip : {"store=persistent", "store=persistent/32", "-?", "/?", "10.200.0.7 store=active",
                              "10.200.0.07", "10.200.0.x", "10.200.0.7.1", "0x0A.0.0.1", "\xEF\xBC\x91.2.3.4"}) {
        const auto args = host_address_arguments("tarvo-client", wg_ip);
        ASSERT_EQ(args.size(), 8u) << wg_ip;
        EXPECT_EQ(args[6], "") << wg_ip;
        EXPECT_EQ(args[7], "255.255.255.255") << wg_ip;
    }
}

TEST(WgEngineCommands, TheRouteScriptKeepsEachNameInsideItsLiteral) {
    const auto reading =
        testing::read_powershell_literals(mtu_and_routes_script("tarvo\u2019; calc; \u2019", {"10.1.0.0/16"}));
    EXPECT_FALSE(reading.unterminated);
    EXPECT_EQ(reading.code.find("calc"), std::string::npos) << reading.code;
    EXPECT_EQ(std::count(reading.literals.begin(), reading.literals.end(), "tarvo\u2019; calc; \u2019"), 2);
}

TEST(WgEngineCommands, RoutesSkipWhatDoesNotParseAndNoneMeansNoScript) {
    EXPECT_EQ(mtu_and_routes_script("tarvo-client", {}), "");
    EXPECT_EQ(mtu_and_routes_script("tarvo-client", {"10.1.2.3/", "2001:db8::/32", "hub"}), "");
    EXPECT_EQ(
        mtu_and_routes_script("tarvo-client", {"bad", "10.1.2.3/0"}),
        "Set-NetIPInterface -InterfaceAlias 'tarvo-client' -NlMtuBytes 1420 -ErrorAction SilentlyContinue; "
        "Remove-NetRoute -DestinationPrefix '0.0.0.0/0' -Confirm:$false -ErrorAction SilentlyContinue; "
        "New-NetRoute -DestinationPrefix '0.0.0.0/0' -InterfaceAlias 'tarvo-client' -NextHop '0.0.0.0' "
        "-RouteMetric 5 -ErrorAction SilentlyContinue | Out-Null");
}

}  // namespace
}  // namespace tarvo
