#include "platform/files.h"

namespace tarvo::platform {

// A Windows program is runnable by its name alone.
Status<OsError> make_executable(const std::filesystem::path&) { return Unit{}; }

}  // namespace tarvo::platform
