// Hidden child processes on POSIX: posix_spawn with standard input from
// /dev/null and both output streams on pipes, drained together with poll()
// so that neither can fill up and stall the child.
//
// Exit code: the child's exit status; a child ended by signal N reads as
// 128 + N, the shell's convention, so it never looks like a start failure.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/paths.h"
#include "platform/posix/owned_fd.h"

extern char** environ;

namespace tarvo::platform {

namespace {

bool is_runnable_file(const std::filesystem::path& candidate) {
    struct stat info {};
    return ::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(candidate.c_str(), X_OK) == 0;
}

// A bare tool name is looked for in the host's system folder first, as
// Windows finds its tools there, then along the absolute folders of PATH; an
// empty or relative entry would name the current folder, where anyone may have
// put a file of that name, so it is skipped.
std::optional<std::filesystem::path> find_program(std::string_view program) {
    if (program.find('/') != std::string_view::npos) return std::filesystem::path(std::string(program));
    if (program.empty()) return std::nullopt;
    const std::string name(program);
    const auto in_system_folder = host_path("C:\\Windows\\System32") / name;
    if (is_runnable_file(in_system_folder)) return in_system_folder;
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    while (true) {
        const std::size_t colon = dirs.find(':');
        const std::filesystem::path dir(std::string(dirs.substr(0, colon)));
        if (dir.is_absolute() && is_runnable_file(dir / name)) return dir / name;
        if (colon == std::string_view::npos) break;
        dirs.remove_prefix(colon + 1);
    }
    return std::nullopt;
}

struct Pipe {
    OwnedFd read_end;
    OwnedFd write_end;
};

Status<OsError> open_pipe(Pipe& pipe) {
    int fds[2];
    // Close-on-exec, so children started at the same time by other threads
    // never hold our write ends open.
    if (::pipe2(fds, O_CLOEXEC) != 0) return unexpected(last_os_error());
    pipe.read_end.adopt(fds[0]);
    pipe.write_end.adopt(fds[1]);
    return Unit{};
}

class SpawnActions {
public:
    SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

// Reads both pipes to their end, whichever has data first.
Status<OsError> drain(int out_fd, int err_fd, std::string& out, std::string& err) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open_count = 2;
    char buffer[65536];
    while (open_count > 0) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return unexpected(last_os_error());
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            const ssize_t n = ::read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[k]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                if (n < 0) return unexpected(last_os_error());
                fds[k].fd = -1;  // end of this stream; poll ignores it now
                --open_count;
            }
        }
    }
    return Unit{};
}

Expected<int, OsError> wait_for_exit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return unexpected(last_os_error());
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

Expected<ProcessOutput, OsError> run_process_hidden(std::string_view program,
                                                    const std::vector<std::string>& args,
                                                    const std::optional<std::filesystem::path>& working_dir) {
    const auto executable = find_program(program);
    if (!executable) return unexpected(os_error(ENOENT));
    // posix_spawn reports a missing or unrunnable file only through the
    // child's exit; check here so the caller sees the system's error.
    if (::access(executable->c_str(), X_OK) != 0) return unexpected(last_os_error());
    if (working_dir) {
        struct stat info {};
        if (::stat(working_dir->c_str(), &info) != 0) return unexpected(last_os_error());
        if (!S_ISDIR(info.st_mode)) return unexpected(os_error(ENOTDIR));
    }

    Pipe out_pipe, err_pipe;
    if (auto r = open_pipe(out_pipe); !r) return unexpected(r.error());
    if (auto r = open_pipe(err_pipe); !r) return unexpected(r.error());

    SpawnActions actions;
    int rc = ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    if (!rc) rc = ::posix_spawn_file_actions_adddup2(actions.get(), out_pipe.write_end.get(), 1);
    if (!rc) rc = ::posix_spawn_file_actions_adddup2(actions.get(), err_pipe.write_end.get(), 2);
    if (!rc && working_dir) rc = ::posix_spawn_file_actions_addchdir_np(actions.get(), working_dir->c_str());
    if (rc) return unexpected(os_error(rc));

    std::vector<std::string> argv_storage;
    argv_storage.reserve(args.size() + 1);
    argv_storage.emplace_back(program);
    argv_storage.insert(argv_storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_storage) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    rc = ::posix_spawn(&pid, executable->c_str(), actions.get(), nullptr, argv.data(), environ);
    if (rc) return unexpected(os_error(rc));
    out_pipe.write_end.reset();
    err_pipe.write_end.reset();

    // From here on the child runs: a failure to read it is no failure to start.
    ProcessOutput output;
    auto drained = drain(out_pipe.read_end.get(), err_pipe.read_end.get(), output.stdout_bytes,
                         output.stderr_bytes);
    auto exit_code = wait_for_exit(pid);  // always reaped, even after a read failure
    if (!drained) output.collect_error = drained.error();
    if (exit_code) {
        output.exit_code = *exit_code;
    } else {
        output.exit_code = -1;
        output.exit_code_read = false;
        if (!output.collect_error) output.collect_error = exit_code.error();
    }
    return output;
}

}  // namespace tarvo::platform
