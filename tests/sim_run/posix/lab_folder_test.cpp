// What root's test tooling trusts on a shared machine (root only): the folder
// of its locks and state, the lock file in it, and the processes a run
// recorded. Both openers of the machine-wide lock, the tests' AdapterLock and
// the launcher's supervisor (sim/launch/supervise.py), get the same cases.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim_run/posix/sim_run.h"
#include "support/temp_folder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using testing::contains;
using testing::output_of;

const std::string kLaunchFolder = std::string(TARVO_SOURCE_DIR) + "/sim/launch";

// "held", or the supervisor's refusal, for a lab folder at `folder`.
std::string supervisor_opens(const fs::path& folder) {
    return output_of(
        "python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import supervise\n"
        "try:\n    supervise.open_lock(sys.argv[2]); print(\"held\")\n"
        "except supervise.Refused as refusal:\n    print(refusal)' " +
        kLaunchFolder + " " + folder.string());
}

struct FolderCase {
    const char* name;
    // Prepares `base`/lab (and what else it needs) before the lock is taken.
    void (*plant)(const fs::path& base);
    const char* refusal;  // empty: the lock is taken
};

void PrintTo(const FolderCase& c, std::ostream* out) { *out << c.name; }

const std::string kVictimText = "twenty bytes of text";

void nothing(const fs::path&) {}
void folder_link(const fs::path& base) {
    fs::create_directory(base / "elsewhere");
    fs::permissions(base / "elsewhere", fs::perms::owner_all);
    fs::create_directory_symlink(base / "elsewhere", base / "lab");
}
void folder_with_mode(const fs::path& base, fs::perms mode) {
    fs::create_directory(base / "lab");
    fs::permissions(base / "lab", mode);
}
void group_writable(const fs::path& base) { folder_with_mode(base, fs::perms::owner_all | fs::perms::group_all); }
void world_writable(const fs::path& base) {
    folder_with_mode(base, fs::perms::all | fs::perms::sticky_bit);  // as /run/lock and /tmp are
}
void users_folder(const fs::path& base) {
    folder_with_mode(base, fs::perms::owner_all);
    ASSERT_EQ(::chown((base / "lab").c_str(), 65534, 65534), 0);
}
void lock_link(const fs::path& base) {
    folder_with_mode(base, fs::perms::owner_all);
    testing::write_bytes(base / "victim", kVictimText);
    fs::create_symlink(base / "victim", base / "lab" / testing::kAdapterLockName);
}
void lock_folder(const fs::path& base) {
    folder_with_mode(base, fs::perms::owner_all);
    fs::create_directory(base / "lab" / testing::kAdapterLockName);
}

const FolderCase kFolderCases[] = {
    {"NoFolderYet", nothing, ""},
    {"FolderIsALink", folder_link, "is a symbolic link or not a folder: refused"},
    {"GroupMayWrite", group_writable, "may be written by others than root (mode 0770): refused"},
    {"AnyoneMayWrite", world_writable, "may be written by others than root (mode 1777): refused"},
    {"AUsersFolder", users_folder, "belongs to uid 65534, not root: refused"},
    {"LockIsALink", lock_link, "adapter.lock is a symbolic link: refused"},
    {"LockIsAFolder", lock_folder, "adapter.lock"},
};

class LabFolder : public ::testing::TestWithParam<FolderCase> {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root: the folder must be root's";
        GetParam().plant(base_.path());
    }
    fs::path lab() const { return base_.path() / "lab"; }

    // Nothing outside the lab folder was made or changed.
    void expect_untouched() const {
        if (fs::exists(base_.path() / "victim")) {
            EXPECT_EQ(testing::read_bytes(base_.path() / "victim"), kVictimText);
        }
        EXPECT_FALSE(fs::exists(base_.path() / "elsewhere" / testing::kAdapterLockName));
    }

    void expect_outcome(bool held, const std::string& error) const {
        const FolderCase& c = GetParam();
        if (*c.refusal == '\0') {
            EXPECT_TRUE(held) << error;
            struct stat info {};
            ASSERT_EQ(::lstat(lab().c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0700u);
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(lab() / testing::kAdapterLockName)));
        } else {
            EXPECT_FALSE(held);
            EXPECT_TRUE(contains(error, lab().string())) << error;
            EXPECT_TRUE(contains(error, c.refusal)) << error;
        }
        expect_untouched();
    }

    testing::TempFolder base_;
};

TEST_P(LabFolder, TheTestsTakeTheLockOnlyInRootsOwnFolder) {
    const testing::AdapterLock lock(lab().string(), std::chrono::seconds(5));
    expect_outcome(lock.held(), lock.error());
}

TEST_P(LabFolder, TheLaunchersSupervisorTakesTheLockOnlyInRootsOwnFolder) {
    const std::string said = supervisor_opens(lab());
    expect_outcome(said == "held", said);
}

INSTANTIATE_TEST_SUITE_P(Cases, LabFolder, ::testing::ValuesIn(kFolderCases),
                         [](const ::testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });

// A child whose command line is `name` (as a program of that name would
// show), until it is ended.
pid_t process_named(const char* name) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sleep", name, "600", nullptr);
        ::_exit(127);
    }
    return pid;
}

// Field 22 of /proc/PID/stat, as the launcher records it.
std::string start_time_of(pid_t pid) {
    const std::string stat = testing::file_text("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i) fields >> field;
    return field;
}

bool still_running(pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == 0; }

TEST(LauncherState, ARecordedProcessIsEndedOnlyWhileItIsStillTheOneRecorded) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, as the launcher runs";
    const pid_t recorded = process_named("Xvfb");
    // Another Xvfb that got a number a killed run had recorded: same PID and
    // name, another start time.
    const pid_t reused = process_named("Xvfb");
    ASSERT_TRUE(testing::awaited("both stand-ins to run as Xvfb", [&] {
        return testing::file_text("/proc/" + std::to_string(recorded) + "/cmdline").rfind("Xvfb", 0) == 0 &&
               testing::file_text("/proc/" + std::to_string(reused) + "/cmdline").rfind("Xvfb", 0) == 0;
    }, std::chrono::seconds(30)));
    const testing::TempFolder folder;
    const fs::path state = folder.path() / "sim.state";
    std::ofstream(state) << "pid " << recorded << " " << start_time_of(recorded) << " Xvfb\n"
                         << "pid " << reused << " " << std::stoull(start_time_of(reused)) + 1 << " Xvfb\n";

    EXPECT_TRUE(testing::run_quietly("bash -c '. " + kLaunchFolder + "/world.sh && sim_end_recorded \"$1\"' _ " +
                                     state.string()));
    EXPECT_FALSE(still_running(recorded)) << "the recorded Xvfb";
    EXPECT_TRUE(still_running(reused)) << "a process that merely has a recorded number and name";
    for (const pid_t pid : {recorded, reused}) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

}  // namespace
}  // namespace tarvo
