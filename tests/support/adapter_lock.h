// The machine-wide lock of the client's adapter name (root): wireguard-go's
// socket folder is one for the whole machine, so the namespace tests that use
// the name and the simulated SD-WAN's launcher (sim/launch/supervise.py, same
// folder and file) take turns here. The lock lives in a folder only root may
// write, so no local user can plant a link where root opens a file.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace tarvo::testing {

inline constexpr const char* kLabFolder = "/run/tarvo-lab";
inline constexpr const char* kAdapterLockName = "adapter.lock";

class AdapterLock {
public:
    // Waits as long as another holder keeps the lock.
    explicit AdapterLock(const std::string& folder = kLabFolder) { take(folder, nullptr); }
    // Gives up (not held, and says so) once `limit` has passed.
    AdapterLock(const std::string& folder, std::chrono::milliseconds limit) { take(folder, &limit); }
    AdapterLock(const AdapterLock&) = delete;
    AdapterLock& operator=(const AdapterLock&) = delete;
    ~AdapterLock() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool held() const { return held_; }
    // Why the lock is not held.
    const std::string& error() const { return error_; }

private:
    void take(const std::string& folder, const std::chrono::milliseconds* limit) {
        const int dir = open_folder(folder);
        if (dir < 0) return;
        const std::string path = folder + "/" + kAdapterLockName;
        fd_ = ::openat(dir, kAdapterLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        const int open_errno = errno;
        ::close(dir);
        struct stat info {};
        if (fd_ < 0) {
            error_ = path + (open_errno == ELOOP ? " is a symbolic link: refused"
                                                 : " cannot be opened: " + std::string(std::strerror(open_errno)));
            return;
        }
        if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
            error_ = path + " is not a regular file: refused";
            return;
        }
        if (!limit) {
            held_ = ::flock(fd_, LOCK_EX) == 0;
        } else {
            const auto until = std::chrono::steady_clock::now() + *limit;
            while (!(held_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0) && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!held_) error_ = path + " stayed locked by another holder";
    }

    // The folder, opened; made with mode 0700 when missing. A symbolic link,
    // a folder not root's, or one others may write is refused.
    int open_folder(const std::string& folder) {
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            error_ = folder + " cannot be made: " + std::strerror(errno);
            return -1;
        }
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir < 0) {
            error_ = folder + (errno == ELOOP || errno == ENOTDIR ? " is a symbolic link or not a folder: refused"
                                                                  : " cannot be opened: " + std::string(std::strerror(errno)));
            return -1;
        }
        struct stat info {};
        if (::fstat(dir, &info) != 0 || info.st_uid != 0) {
            error_ = folder + " belongs to uid " + std::to_string(info.st_uid) + ", not root: refused";
        } else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
            error_ = folder + " may be written by others than root (mode " + mode + "): refused";
        } else {
            return dir;
        }
        ::close(dir);
        return -1;
    }

    int fd_ = -1;
    bool held_ = false;
    std::string error_;
};

}  // namespace tarvo::testing
