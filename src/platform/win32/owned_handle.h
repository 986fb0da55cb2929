// A kernel handle closed when its owner goes: pipes, processes, files and
// devices of the Windows build.
#pragma once

#include <windows.h>

#include <utility>

namespace tarvo::platform::win32 {

class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~OwnedHandle() { close(); }

    HANDLE get() const { return handle_; }
    // Hands the handle over to whoever closes it now.
    HANDLE release() { return std::exchange(handle_, nullptr); }
    // Both "no handle" values of the API (null and INVALID_HANDLE_VALUE) are
    // left alone.
    void close() {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

}  // namespace tarvo::platform::win32
