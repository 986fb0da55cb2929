// Which files in a few folders were written, in the order their writers closed
// them (Linux inotify; for Linux-only tests). Stat calls leave no trace, so a
// file that is checked and left alone is never listed.
#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tarvo::testing {

class FileWriteWatch {
public:
    // Watches `base` joined with each of `folders` (which must exist); names
    // are then reported relative to `base`, "driver/tap0901.sys".
    FileWriteWatch(const std::filesystem::path& base, const std::vector<std::string>& folders)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        for (const auto& folder : folders) {
            const int wd = fd_ < 0 ? -1 : ::inotify_add_watch(fd_, (base / folder).c_str(), IN_CLOSE_WRITE);
            if (wd < 0) ok_ = false;
            prefixes_[wd] = folder.empty() ? "" : folder + "/";
        }
        if (fd_ < 0) ok_ = false;
    }
    FileWriteWatch(const FileWriteWatch&) = delete;
    FileWriteWatch& operator=(const FileWriteWatch&) = delete;
    ~FileWriteWatch() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool ok() const { return ok_; }

    // The writes seen since the last call, oldest first.
    std::vector<std::string> take() {
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[16 * 1024];
        while (true) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) break;  // EAGAIN: nothing more queued
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & IN_Q_OVERFLOW) names.push_back("<events lost>");
                if (event->len > 0) names.push_back(prefixes_[event->wd] + event->name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return names;
    }

private:
    int fd_;
    bool ok_ = true;
    std::map<int, std::string> prefixes_;
};

}  // namespace tarvo::testing
