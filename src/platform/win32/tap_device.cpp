// The TAP-Windows device: overlapped reads and writes, each transfer with its
// own manual-reset event and OVERLAPPED record, reused only once the previous
// operation has completed.
#include "platform/tap_device.h"

#include <windows.h>

#include <cstdlib>

#include "platform/win32/owned_handle.h"
#include "platform/win32/wide_text.h"

namespace tarvo::platform {

namespace {

constexpr DWORD kSetMediaStatus = 0x220018;  // TAP_IOCTL_SET_MEDIA_STATUS

using Result = TapTransfer::Result;
using State = TapTransfer::State;

Result failed(DWORD error) { return {State::failed, 0, error}; }

class Win32TapTransfer final : public TapTransfer {
public:
    // Without an event (none could be made) completion is polled on the record.
    explicit Win32TapTransfer(HANDLE device)
        : device_(device), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    ~Win32TapTransfer() override {
        if (pending_) (void)cancel_and_wait();
    }

    Result start_read(std::span<std::uint8_t> buffer) override {
        begin();
        DWORD done = 0;
        const BOOL ok = ReadFile(device_, buffer.data(), static_cast<DWORD>(buffer.size()), &done,
                                 &overlapped_);
        return started(ok, done);
    }

    Result start_write(std::span<const std::uint8_t> frame) override {
        begin();
        DWORD done = 0;
        const BOOL ok = WriteFile(device_, frame.data(), static_cast<DWORD>(frame.size()), &done,
                                  &overlapped_);
        return started(ok, done);
    }

    Result wait(std::chrono::milliseconds slice) override {
        if (!pending_) std::abort();
        if (!completed_within(static_cast<DWORD>(slice.count()))) return {State::pending};
        return collect();
    }

    Result cancel_and_wait() override {
        if (!pending_) std::abort();
        CancelIoEx(device_, &overlapped_);
        completed_within(INFINITE);
        return collect();
    }

private:
    void begin() {
        if (pending_) std::abort();  // its record, event and buffer are still the driver's
        if (event_.get()) ResetEvent(event_.get());
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.get();
    }

    Result started(BOOL ok, DWORD done) {
        if (ok) return {State::completed, done, 0};
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) return failed(error);
        pending_ = true;
        return {State::pending};
    }

    bool completed_within(DWORD milliseconds) {
        if (event_.get()) return WaitForSingleObject(event_.get(), milliseconds) == WAIT_OBJECT_0;
        const ULONGLONG deadline = GetTickCount64() + milliseconds;
        while (!HasOverlappedIoCompleted(&overlapped_)) {
            if (milliseconds != INFINITE && GetTickCount64() >= deadline) return false;
            Sleep(1);
        }
        return true;
    }

    // The outcome of a completed operation, taken without waiting.
    Result collect() {
        DWORD done = 0;
        if (GetOverlappedResult(device_, &overlapped_, &done, FALSE)) {
            pending_ = false;
            return {State::completed, done, 0};
        }
        const DWORD error = GetLastError();
        if (error == ERROR_IO_INCOMPLETE) return {State::pending};
        pending_ = false;
        return failed(error);
    }

    HANDLE device_;
    win32::OwnedHandle event_;
    OVERLAPPED overlapped_{};
    bool pending_ = false;
};

class Win32TapDevice final : public TapDevice {
public:
    explicit Win32TapDevice(win32::OwnedHandle handle) : handle_(std::move(handle)) {}

    Status<TapError> set_media_status(bool connected) override {
        ULONG status = connected ? 1 : 0;
        ULONG answer = 0;
        DWORD returned = 0;
        if (!DeviceIoControl(handle_.get(), kSetMediaStatus, &status, sizeof status, &answer, sizeof answer,
                             &returned, nullptr))
            return unexpected(static_cast<TapError>(GetLastError()));
        return Unit{};
    }

    void cancel_all_io() override { CancelIoEx(handle_.get(), nullptr); }

    std::unique_ptr<TapTransfer> new_transfer() override {
        return std::make_unique<Win32TapTransfer>(handle_.get());
    }

private:
    win32::OwnedHandle handle_;
};

}  // namespace

Expected<std::unique_ptr<TapDevice>, TapError> open_tap_device(std::string_view guid) {
    const std::wstring path = win32::to_wide(tap_device_path(guid));
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_SYSTEM | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
        return unexpected(static_cast<TapError>(GetLastError()));
    return std::unique_ptr<TapDevice>(std::make_unique<Win32TapDevice>(win32::OwnedHandle(handle)));
}

}  // namespace tarvo::platform
