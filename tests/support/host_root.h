// Points the POSIX host root at a fresh folder for one test (POSIX only).
#pragma once

#include <stdlib.h>

#include "support/temp_folder.h"

namespace tarvo::testing {

class ScopedHostRoot {
public:
    ScopedHostRoot() { ::setenv("TARVO_HOST_ROOT", folder_.path().c_str(), 1); }
    ~ScopedHostRoot() { ::unsetenv("TARVO_HOST_ROOT"); }
    const std::filesystem::path& path() const { return folder_.path(); }

private:
    TempFolder folder_;
};

}  // namespace tarvo::testing
