// Waiting for what a real process, thread, device or network does in its own
// time: look again until the condition holds, within a generous bound that is
// longer in the sanitizer builds (several times slower, more so on a loaded
// machine). A wait that runs out says what it awaited, what it saw last and
// how long it waited.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>

namespace tarvo::testing {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::chrono::seconds kPatience{150};
#else
inline constexpr std::chrono::seconds kPatience{45};
#endif

// What a wait saw, as its report shows it.
inline std::string seen_text(const std::string& seen) { return seen.empty() ? "(nothing)" : seen; }
inline std::string seen_text(bool seen) { return seen ? "true" : "false"; }
template <class Number>
requires std::is_arithmetic_v<Number> std::string seen_text(Number seen) { return std::to_string(seen); }
inline std::string seen_text(const std::map<std::string, std::string>& seen) {
    std::string text;
    for (const auto& [name, value] : seen) text += (text.empty() ? "" : " ") + name + "=" + value;
    return seen_text(text);
}

template <class Seen>
struct Waited {
    bool met = false;
    Seen last{};  // what the last look saw
    std::chrono::milliseconds waited{0};
    std::string report;  // "waited N ms for <what>; last seen: <last>"

    explicit operator bool() const { return met; }
};

// Calls `look` until `holds(what it returned)`, or `bound` has passed since
// the first look; `awaited` names the condition for the report.
template <class Look, class Holds>
requires std::is_invocable_r_v < bool, Holds&, const std::decay_t<std::invoke_result_t<Look&>>
& > auto wait_until(std::string_view awaited, Look look, Holds holds,
                    std::chrono::milliseconds bound = kPatience,
                    std::chrono::milliseconds interval = std::chrono::milliseconds(10))
        -> Waited<std::decay_t<decltype(look())>> {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Waited<std::decay_t<decltype(look())>> result;
    while (true) {
        result.last = look();
        result.waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        result.met = holds(std::as_const(result.last));
        if (result.met || result.waited >= bound) break;
        std::this_thread::sleep_for(interval);
    }
    result.report = "waited " + std::to_string(result.waited.count()) + " ms for " + std::string(awaited) +
                    "; last seen: " + seen_text(result.last);
    return result;
}

// The same for a condition that is only true or false.
template <class Condition>
Waited<bool> wait_until(std::string_view awaited, Condition condition,
                        std::chrono::milliseconds bound = kPatience) {
    return wait_until(
        awaited, condition, [](bool seen) { return seen; }, bound);
}

}  // namespace tarvo::testing
