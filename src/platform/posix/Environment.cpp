#include "platform/Environment.h"

#include <cstdlib>

namespace quill::platform {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

void setEnvironmentValue(const char* name, const std::string& value) {
    ::setenv(name, value.c_str(), 1);
}

} // namespace quill::platform
