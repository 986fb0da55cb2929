// A file that not even root can replace, change or remove while this lives
// (the ext2/3/4 immutable flag, which needs root): on Linux it plays a file
// that Windows refuses to replace because it is in use.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>

namespace tarvo::testing {

class ImmutableFile {
public:
    explicit ImmutableFile(const std::filesystem::path& file) : fd_(::open(file.c_str(), O_RDONLY | O_CLOEXEC)) {
        ok_ = fd_ >= 0 && set(true);
    }
    ImmutableFile(const ImmutableFile&) = delete;
    ImmutableFile& operator=(const ImmutableFile&) = delete;
    ~ImmutableFile() {
        if (ok_) set(false);
        if (fd_ >= 0) ::close(fd_);
    }
    // False where the flag cannot be set (not root, another file system).
    bool ok() const { return ok_; }

private:
    bool set(bool on) {
        int flags = 0;
        if (::ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0) return false;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        return ::ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }

    int fd_;
    bool ok_ = false;
};

}  // namespace tarvo::testing
