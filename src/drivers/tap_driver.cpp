#include "drivers/tap_driver.h"

#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include "drivers/embedded_files.h"
#include "drivers/hidden_command.h"
#include "drivers/tap_adapter.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace tarvo {

namespace {

// The INF's full path, or its bare name should the path not be Unicode text.
std::string inf_argument(const std::filesystem::path& inf) {
    const std::string text = platform::path_text(inf);
    return platform::path_from_text(text) == inf ? text : "OemVista.inf";
}

class SystemTapDriver final : public TapDriverSystem {
public:
    void extract_embedded_files() override { (void)tarvo::extract_embedded_files(); }
    std::optional<std::string> find_tap_adapter() override { return tarvo::find_tap_adapter(); }
    Expected<platform::ProcessOutput, platform::OsError> run_installer(
        const std::string& program, const std::vector<std::string>& args,
        const std::filesystem::path& working_dir) override {
        // The installer and the package it installs run elevated: each must
        // be the embedded copy, and stay so until the installer has ended.
        // A file that is not is an installer that could not be started.
        std::vector<platform::HeldFile> held;
        for (const std::string_view name : kDriverFiles) {
            auto file = hold_embedded_file(working_dir / platform::path_from_text(name));
            if (!file) return unexpected(std::move(file.error()));
            held.push_back(std::move(*file));
        }
        return platform::run_process_hidden(program, args, working_dir);
    }
    void reset_tap_adapter() override { tarvo::reset_tap_adapter(); }
};

}  // namespace

std::string tap_adapters_script(const std::string& cmdlet) {
    return "Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceDescription -like '*TAP-Windows*' -or "
           "$_.Name -eq 'SD-WAN-L2' } | " +
           cmdlet + " -Confirm:$false -ErrorAction SilentlyContinue";
}

TapDriverSystem& system_tap_driver_system() {
    static SystemTapDriver system;
    return system;
}

Expected<std::string, std::string> ensure_tap_driver(TapDriverSystem& system) {
    system.extract_embedded_files();
    if (auto guid = system.find_tap_adapter()) return std::move(*guid);

    const auto folder = driver_folder();
    const auto installed = system.run_installer(platform::path_text(folder / "tapinstall.exe"),
                                                {"install", inf_argument(folder / "OemVista.inf"), "tap0901"},
                                                folder);
    if (!installed)
        return unexpected("Nie udało się uruchomić tapinstall.exe: " + platform::describe(installed.error()));

    // The installer's exit code (or its output, even unread) says nothing
    // reliable; the registry does.
    if (auto guid = system.find_tap_adapter()) {
        system.reset_tap_adapter();
        return std::move(*guid);
    }
    return unexpected("Instalacja sterownika TAP-Windows nie powiodła się: " +
                      decode_utf8_lossy(installed->stdout_bytes));
}

void reset_tap_adapter() {
    if (const auto guid = find_tap_adapter())
        (void)run_hidden("netsh", {"interface", "ipv4", "set", "address", "name=" + *guid, "source=dhcp"});
    (void)run_hidden("powershell", {"-NoProfile", "-Command", tap_adapters_script("Disable-NetAdapter")});
}

TapResetGate::Running::Running(TapResetGate& gate) : gate_(&gate) {
    std::lock_guard lock(gate_->mutex_);
    ++gate_->running_;
}

TapResetGate::Running::Running(Running&& other) noexcept : gate_(std::exchange(other.gate_, nullptr)) {}

TapResetGate::Running::~Running() {
    if (!gate_) return;
    // Notified under the lock: once a waiter sees no reset running, this mark
    // touches the gate no more, so the gate may go.
    std::lock_guard lock(gate_->mutex_);
    --gate_->running_;
    gate_->ended_.notify_all();
}

void TapResetGate::wait_until_no_reset_runs() {
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [&] { return running_ == 0; });
}

TapResetGate& tap_reset_gate() {
    // Never destroyed: a reset thread may still end after the process's exit began.
    static auto* gate = new TapResetGate;
    return *gate;
}

void tap_reset_thread_body(const std::function<void()>& reset) { reset(); }

void tap_reset_thread_entry(TapResetGate::Running running, std::function<void()> reset) {
    tap_reset_thread_body(reset);
    (void)running;  // ends here, after the reset
}

void start_tap_reset_thread(TapResetGate& gate, std::function<void()> reset) {
    auto running = gate.mark_running();
    try {
        std::thread(tap_reset_thread_entry, std::move(running), std::move(reset)).detach();
    } catch (...) {
        std::abort();
    }
}

}  // namespace tarvo
