#include "platform/Environment.h"

#include <windows.h>

namespace quill::platform {

// The Win32 environment, not the C runtime's copy: a library with a runtime
// of its own sees what the program set.
std::string environmentValue(const char* name) {
    char value[1024];
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value)
        return std::string();
    return std::string(value, length);
}

void setEnvironmentValue(const char* name, const std::string& value) {
    ::SetEnvironmentVariableA(name, value.c_str());
}

} // namespace quill::platform
