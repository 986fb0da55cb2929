// The one record every thread of the client shares, its status cards and its
// event log. The record is reachable only through its lock (SharedState).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "main/client_config.h"
#include "orchestrator/records.h"
#include "tap_l2/l2_bridge.h"
#include "wg_engine/wg_engine.h"

namespace tarvo {

struct Color {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
    friend bool operator==(Color, Color) = default;
};

// The system's palette.
inline constexpr Color kSlate{100, 116, 139, 255};  // stopped; every log time stamp
inline constexpr Color kCyan{6, 182, 212, 255};     // waiting, progress
inline constexpr Color kGreen{16, 185, 129, 255};   // connected, success
inline constexpr Color kAmber{245, 158, 11, 255};   // layer 3 forced, warning
inline constexpr Color kRed{239, 68, 68, 255};      // service pass refused, error
inline constexpr Color kLightGrey{203, 213, 225, 255};
inline constexpr Color kMutedGrey{148, 163, 184, 255};

enum class LogLevel : std::uint8_t {
    plain = 0,  // defined, never used
    neutral = 1,
    progress = 2,
    success = 3,
    warning = 4,
    error = 5,
};

// The colour of a log row's message.
Color log_level_color(LogLevel level);

struct StatusCard {
    std::string title;
    std::string text;
    bool online = false;
    bool standby = false;
};

// "ONLINE", else "STANDBY", else "OFFLINE".
std::string_view status_badge(const StatusCard& card);

StatusCard clone_status_card(const StatusCard& card);

struct LogEntry {
    std::string time;  // local "%H:%M:%S"
    std::string text;
    LogLevel level = LogLevel::neutral;
};

// "HH:MM:SS [level] text", the level by its name ("progress", "error"...):
// the developer's copy of a log row (platform/log_mirror.h).
std::string log_line_text(const LogEntry& entry);

inline constexpr std::size_t kLogLimit = 500;
inline constexpr std::size_t kLogTrimBlock = 100;

struct AppState {
    // `config` is taken as given; create_shared_state normalises its code.
    explicit AppState(ClientConfig initial_config);
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;
    // The engine is closed before the bridge is stopped (with reset when it runs).
    ~AppState();

    ClientConfig config;
    std::optional<BootstrapResult> last_result;
    std::string last_topology_signature;
    std::string headline = "Tunel wyłączony (Tryb oczekiwania)";
    std::string detail = "Kliknij WŁĄCZ TUNEL, aby połączyć laptopa z koncentratorem SD-WAN";
    std::string status_label = "WYŁĄCZONY";
    StatusCard orchestrator_card;
    StatusCard tunnel_card{"Tunel L3 VPN", "WireGuard Kernel", false, false};
    StatusCard bridge_card{"Mostek L2 (EoIP)", "TAP w trybie IDLE", false, false};
    std::string rx_rate_text = "0 B/s";
    std::string rx_total_text = "Suma: 0 B";
    std::string tx_rate_text = "0 B/s";
    std::string tx_total_text = "Suma: 0 B";
    std::vector<LogEntry> log;
    WgEngine wg;
    L2Bridge bridge;
    std::optional<std::chrono::steady_clock::time_point> last_sample_at;
    std::uint64_t rx_total = 0;
    std::uint64_t tx_total = 0;
    std::uint64_t prev_rx_total = 0;
    std::uint64_t prev_tx_total = 0;
    Color accent_color = kSlate;
    bool power_on = false;
    bool connecting = false;
    bool disconnecting = false;
    bool wg_running = false;
    bool l2_running = false;
    bool status_logged = false;
    bool last_project_enabled = true;
};

// Appends one entry stamped with the local time; a log that reaches 501
// entries loses its oldest 100. The caller holds the lock.
void push_log(AppState& state, std::string message, LogLevel level);
void push_log_str(AppState& state, std::string_view message, LogLevel level);

// Power-on, power-off and the worker's reload or stop change the tunnel one at
// a time, in the order they were asked for.
//
// Asking takes a numbered ticket at once and never waits. The window asks on
// its own thread, under the record's lock, in the same stretch that marks the
// operation in progress (`connecting` or `disconnecting`): the button shows it
// from the next frame, a second click of the same kind finds the mark and is
// refused, and the ticket order is the click order. The operation's thread
// then waits until its number is served and holds the turn for its whole run;
// when the run ends the next number is served. A ticket dropped unserved is
// skipped, so nothing waits for it.
//
// Lock order: the turn's own mutex is held for a few instructions only and
// nothing else is locked under it, so a ticket may be taken while holding the
// record's lock. Waiting for a turn is done only without the record's lock,
// and the window's thread never waits for one.
class TunnelTurn {
public:
    class Ticket {
    public:
        Ticket(Ticket&& other) noexcept
            : turn_(std::exchange(other.turn_, nullptr)), number_(other.number_) {}
        Ticket& operator=(Ticket&& other) {
            if (this != &other) {
                if (turn_) turn_->drop(number_);
                turn_ = std::exchange(other.turn_, nullptr);
                number_ = other.number_;
            }
            return *this;
        }
        ~Ticket() {
            if (turn_) turn_->drop(number_);
        }
        std::uint64_t number() const { return number_; }

    private:
        friend class TunnelTurn;
        Ticket(TunnelTurn& turn, std::uint64_t number) : turn_(&turn), number_(number) {}
        TunnelTurn* turn_;
        std::uint64_t number_;
    };

    // The turn, held until this ends; then the next number is served.
    class Hold {
    public:
        Hold(Hold&& other) noexcept : turn_(std::exchange(other.turn_, nullptr)) {}
        Hold& operator=(Hold&&) = delete;
        ~Hold() {
            if (turn_) turn_->pass_on();
        }

    private:
        friend class TunnelTurn;
        explicit Hold(TunnelTurn& turn) : turn_(&turn) {}
        TunnelTurn* turn_;
    };

    TunnelTurn() = default;
    TunnelTurn(const TunnelTurn&) = delete;
    TunnelTurn& operator=(const TunnelTurn&) = delete;

    [[nodiscard]] Ticket take();
    // A ticket only while no more than `count` have been taken in all: an
    // operation decided on what was seen when `count` was read yields to any
    // asked for since.
    [[nodiscard]] std::optional<Ticket> take_if_issued(std::uint64_t count);
    // How many tickets have been taken so far.
    std::uint64_t issued() const;
    // Blocks until the ticket's number is served.
    [[nodiscard]] Hold wait(Ticket ticket);

private:
    void drop(std::uint64_t number);
    void pass_on();
    void skip_dropped();  // the mutex held

    mutable std::mutex mutex_;
    std::condition_variable served_;
    std::uint64_t issued_ = 0;            // the next ticket's number
    std::uint64_t serving_ = 0;           // the number whose turn it is
    std::vector<std::uint64_t> dropped_;  // numbers after `serving_` whose ticket ended unserved
};

// The record behind its one lock. Nothing reaches a field without holding it.
class SharedState {
public:
    class Guard {
    public:
        AppState& operator*() const { return *state_; }
        AppState* operator->() const { return state_; }

    private:
        friend class SharedState;
        Guard(std::mutex& mutex, AppState& state) : lock_(mutex), state_(&state) {}
        std::unique_lock<std::mutex> lock_;
        AppState* state_;
    };

    explicit SharedState(ClientConfig config) : state_(std::move(config)) {}

    // Not re-entrant: a thread that holds a Guard must not call lock() again.
    [[nodiscard]] Guard lock() { return Guard(mutex_, state_); }

    // Power-on, power-off and the worker's reload or stop take turns here.
    TunnelTurn& tunnel_turn() { return tunnel_turn_; }

private:
    TunnelTurn tunnel_turn_;
    std::mutex mutex_;
    AppState state_;
};

// Builds the shared record for the window: a non-empty code is replaced by its
// normalised form (in memory only), and the start line is logged first.
std::shared_ptr<SharedState> create_shared_state(ClientConfig config);

}  // namespace tarvo
