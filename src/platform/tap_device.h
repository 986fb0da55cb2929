// The TAP adapter's device: Ethernet frames in and out, and its media state.
//
// Windows: the TAP-Windows device "\\.\Global\{GUID}.tap", overlapped I/O.
// POSIX: the Linux TAP interface that the stand-in registry names for the
// GUID, through /dev/net/tun, non-blocking with poll().
//
// A frame read or write is started and then waited for in slices, so the
// caller can test its own stop flag between slices. Error codes are the
// platform's own: Win32 codes on Windows, errno values on POSIX.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "util/expected.h"

namespace tarvo::platform {

using TapError = std::uint32_t;

// "\\.\Global\{GUID}.tap" for the GUID text (braces included).
inline std::string tap_device_path(std::string_view guid) {
    return "\\\\.\\Global\\" + std::string(guid) + ".tap";
}

// One frame read or write at a time, with the event and record it needs; make
// one per thread and reuse it. Starting an operation while one is pending
// ends the process; so the buffer, record and event of a pending operation
// are never reused. Destroying it with an operation pending cancels that
// operation and waits until it has completed.
class TapTransfer {
public:
    enum class State { completed, pending, failed };
    struct Result {
        State state = State::failed;
        std::uint32_t bytes = 0;  // when completed
        TapError error = 0;       // when failed
    };

    virtual ~TapTransfer() = default;

    // Reads one whole frame (destination MAC first) into `buffer`.
    virtual Result start_read(std::span<std::uint8_t> buffer) = 0;
    // Writes one whole frame; `frame` must stay valid while pending.
    virtual Result start_write(std::span<const std::uint8_t> frame) = 0;
    // Waits up to `slice` for the pending operation: its result, or pending.
    virtual Result wait(std::chrono::milliseconds slice) = 0;
    // Cancels the pending operation and waits until it has completed; the
    // result is its outcome (completed when it finished first).
    virtual Result cancel_and_wait() = 0;
};

class TapDevice {
public:
    virtual ~TapDevice() = default;  // closes the device

    // TAP_IOCTL_SET_MEDIA_STATUS (Windows) / the carrier (Linux).
    virtual Status<TapError> set_media_status(bool connected) = 0;
    // Every read and write pending on the device completes, as cancelled.
    virtual void cancel_all_io() = 0;
    // A transfer for one thread. The device must outlive it.
    virtual std::unique_ptr<TapTransfer> new_transfer() = 0;
};

// Opens the adapter's device: read and write, no sharing, existing only.
Expected<std::unique_ptr<TapDevice>, TapError> open_tap_device(std::string_view guid);

}  // namespace tarvo::platform
