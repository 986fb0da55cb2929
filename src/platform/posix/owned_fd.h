// A file descriptor closed when its owner goes: pipes, devices and sockets of
// the linux build.
#pragma once

#include <unistd.h>

#include <utility>

namespace tarvo::platform {

class OwnedFd {
public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : fd_(fd) {}
    OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~OwnedFd() { reset(); }

    int get() const { return fd_; }
    void adopt(int fd) {
        reset();
        fd_ = fd;
    }
    // Hands the descriptor over to whoever closes it now.
    int release() { return std::exchange(fd_, -1); }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

}  // namespace tarvo::platform
