#include "platform/os_error.h"

#include <cerrno>
#include <cstring>

namespace tarvo::platform {

OsError os_error(int code) { return {code, std::strerror(code)}; }

OsError last_os_error() { return os_error(errno); }

}  // namespace tarvo::platform
