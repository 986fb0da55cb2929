// Installing the TAP-Windows driver when no adapter exists, and returning the
// adapter to idle (DHCP, disabled) once the bridge no longer uses it.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"
#include "util/expected.h"

namespace tarvo {

// The PowerShell script that runs `cmdlet` ("Enable-NetAdapter" or
// "Disable-NetAdapter") on every TAP-Windows adapter, hidden ones included,
// and on the adapter named "SD-WAN-L2".
std::string tap_adapters_script(const std::string& cmdlet);

// What the driver installation works on; tests record it.
class TapDriverSystem {
public:
    virtual ~TapDriverSystem() = default;
    virtual void extract_embedded_files() = 0;
    virtual std::optional<std::string> find_tap_adapter() = 0;
    // Runs the installer hidden in `working_dir` and waits for it, holding the
    // driver package there unchanged meanwhile; the error only when it could
    // not be started (a package file that is not the embedded copy included).
    virtual Expected<platform::ProcessOutput, platform::OsError> run_installer(
        const std::string& program, const std::vector<std::string>& args,
        const std::filesystem::path& working_dir) = 0;
    virtual void reset_tap_adapter() = 0;
};

TapDriverSystem& system_tap_driver_system();

// The adapter's GUID, after writing the embedded files and, when no adapter
// is found, running the driver installer and then the reset. An installer
// that was started counts as run, even when its output or exit status could
// not be read: the registry then tells whether it installed the adapter.
// Errors are the ready Polish texts.
Expected<std::string, std::string> ensure_tap_driver(TapDriverSystem& system = system_tap_driver_system());

// The adapter's IPv4 address back to DHCP (when an adapter is found), then
// every TAP-Windows adapter disabled. Results are ignored.
void reset_tap_adapter();

// Keeps a bridge start from being undone by a reset started before it: a
// reset counts as running from before its thread starts until it has ended,
// and a bridge start waits for every running reset before it touches the
// adapter.
class TapResetGate {
public:
    class Running {
    public:
        explicit Running(TapResetGate& gate);
        Running(Running&& other) noexcept;
        Running& operator=(Running&&) = delete;
        ~Running();

    private:
        TapResetGate* gate_;
    };

    Running mark_running() { return Running(*this); }
    void wait_until_no_reset_runs();

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    int running_ = 0;
};

// The gate of this process's adapter; it outlives every reset thread.
TapResetGate& tap_reset_gate();

// The reset thread: its start routine holds the running mark and runs the
// body, which runs `reset`.
void tap_reset_thread_body(const std::function<void()>& reset);
void tap_reset_thread_entry(TapResetGate::Running running, std::function<void()> reset);

// Starts the detached reset thread, marked running before this returns.
// A thread that cannot be started ends the process.
void start_tap_reset_thread(TapResetGate& gate = tap_reset_gate(),
                            std::function<void()> reset = reset_tap_adapter);

}  // namespace tarvo
