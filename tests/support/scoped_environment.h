// Sets one environment variable for the life of a test.
#pragma once

#include <stdlib.h>

#include <string>

namespace tarvo::testing {

class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) { set(value.c_str()); }
    ~ScopedEnvironment() { set(""); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void set(const char* value) {
#ifdef _WIN32
        _putenv_s(name_, value);
#else
        if (*value) ::setenv(name_, value, 1);
        else ::unsetenv(name_);
#endif
    }
    const char* name_;
};

}  // namespace tarvo::testing
