#pragma once
// The process environment, shared by a program and the libraries it loads:
// the stand-in host tells the plug-in through it to log to standard error.

#include <string>

namespace quill::platform {

// The variable's value; empty when it is not set.
std::string environmentValue(const char* name);
// Sets the variable for this process (and the programs it starts).
void setEnvironmentValue(const char* name, const std::string& value);

} // namespace quill::platform
