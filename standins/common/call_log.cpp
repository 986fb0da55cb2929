#include "call_log.h"

#include <fcntl.h>
#include <unistd.h>

#include "json/json_text.h"
#include "platform/posix/host_root.h"

namespace tarvo::standins {

std::string call_log_path() { return (platform::posix::host_root() / "tarvo-standin.log").string(); }

std::string call_log_line(const std::string& tool, const std::vector<std::string>& args) {
    std::string line = "{\"tool\": ";
    append_json_string(line, tool);
    line += ", \"args\": [";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i) line += ", ";
        append_json_string(line, args[i]);
    }
    line += "]}\n";
    return line;
}

bool record_call(const std::string& tool, const std::vector<std::string>& args) {
    const std::string line = call_log_line(tool, args);
    const int fd = ::open(call_log_path().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    return written;
}

}  // namespace tarvo::standins
