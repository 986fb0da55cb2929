// The TAP device on Linux: the interface the stand-in registry names for the
// adapter's GUID, attached through /dev/net/tun without packet information.
// The descriptor is non-blocking: an operation that would block is pending,
// and a wait slice is a poll(). Cancelling bumps a generation that pending
// operations compare against, and wakes their polls through an eventfd.
#include "platform/tap_device.h"

#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/adapter_registry.h"
#include "platform/posix/owned_fd.h"

namespace tarvo::platform {

namespace {

struct DeviceFds {
    OwnedFd tap;
    OwnedFd cancel_wake;  // readable after a cancel of all I/O
    std::atomic<std::uint64_t> cancel_generation{0};
};

using Result = TapTransfer::Result;
using State = TapTransfer::State;

Result failed(int error) { return {State::failed, 0, static_cast<TapError>(error)}; }

class PosixTapTransfer final : public TapTransfer {
public:
    explicit PosixTapTransfer(DeviceFds& fds) : fds_(fds) {}
    ~PosixTapTransfer() override = default;  // nothing of ours is held by the kernel

    Result start_read(std::span<std::uint8_t> buffer) override {
        begin(buffer.data(), buffer.size(), false);
        return attempt();
    }
    Result start_write(std::span<const std::uint8_t> frame) override {
        begin(const_cast<std::uint8_t*>(frame.data()), frame.size(), true);
        return attempt();
    }

    Result wait(std::chrono::milliseconds slice) override {
        if (!pending_) std::abort();
        if (cancelled()) return finish(failed(ECANCELED));
        pollfd polled[2] = {{fds_.tap.get(), static_cast<short>(writing_ ? POLLOUT : POLLIN), 0},
                            {fds_.cancel_wake.get(), POLLIN, 0}};
        const int ready = ::poll(polled, 2, static_cast<int>(slice.count()));
        if (cancelled()) return finish(failed(ECANCELED));
        if (ready < 0) return errno == EINTR ? Result{State::pending} : finish(failed(errno));
        if (polled[1].revents != 0) drain_stale_wake();
        if (polled[0].revents != 0) return attempt();
        return {State::pending};
    }

    Result cancel_and_wait() override {
        if (!pending_) std::abort();
        return finish(failed(ECANCELED));
    }

private:
    void begin(std::uint8_t* data, std::size_t size, bool writing) {
        if (pending_) std::abort();  // a pending operation's buffer is never reused
        data_ = data;
        size_ = size;
        writing_ = writing;
        generation_ = fds_.cancel_generation.load();
        pending_ = true;
    }

    Result attempt() {
        const ssize_t done = writing_ ? ::write(fds_.tap.get(), data_, size_)
                                      : ::read(fds_.tap.get(), data_, size_);
        if (done >= 0) return finish({State::completed, static_cast<std::uint32_t>(done), 0});
        if (errno == EAGAIN || errno == EINTR) return {State::pending};
        return finish(failed(errno));
    }

    Result finish(Result result) {
        pending_ = false;
        return result;
    }

    bool cancelled() const { return fds_.cancel_generation.load() != generation_; }

    // The wake of a cancel that came before this operation started.
    void drain_stale_wake() {
        std::uint64_t count;
        (void)!::read(fds_.cancel_wake.get(), &count, sizeof count);
    }

    DeviceFds& fds_;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool writing_ = false;
    bool pending_ = false;
    std::uint64_t generation_ = 0;
};

class PosixTapDevice final : public TapDevice {
public:
    explicit PosixTapDevice(OwnedFd tap, OwnedFd cancel_wake) {
        fds_.tap = std::move(tap);
        fds_.cancel_wake = std::move(cancel_wake);
    }

    Status<TapError> set_media_status(bool connected) override {
        int carrier = connected ? 1 : 0;
        if (::ioctl(fds_.tap.get(), TUNSETCARRIER, &carrier) != 0)
            return unexpected(static_cast<TapError>(errno));
        return Unit{};
    }

    void cancel_all_io() override {
        fds_.cancel_generation.fetch_add(1);
        const std::uint64_t one = 1;
        (void)!::write(fds_.cancel_wake.get(), &one, sizeof one);
    }

    std::unique_ptr<TapTransfer> new_transfer() override { return std::make_unique<PosixTapTransfer>(fds_); }

private:
    DeviceFds fds_;
};

}  // namespace

Expected<std::unique_ptr<TapDevice>, TapError> open_tap_device(std::string_view guid) {
    const auto interface = linux_interface_of(guid);
    if (!interface || interface->size() >= IFNAMSIZ) return unexpected(TapError{ENOENT});
    OwnedFd tap(::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (tap.get() < 0) return unexpected(static_cast<TapError>(errno));
    struct ifreq request {};
    std::memcpy(request.ifr_name, interface->c_str(), interface->size());
    request.ifr_flags = IFF_TAP | IFF_NO_PI;
    // Attaching by name to an interface that does not exist would create one.
    if (::if_nametoindex(interface->c_str()) == 0) return unexpected(TapError{ENOENT});
    if (::ioctl(tap.get(), TUNSETIFF, &request) != 0) return unexpected(static_cast<TapError>(errno));
    OwnedFd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (wake.get() < 0) return unexpected(static_cast<TapError>(errno));
    return std::unique_ptr<TapDevice>(std::make_unique<PosixTapDevice>(std::move(tap), std::move(wake)));
}

}  // namespace tarvo::platform
