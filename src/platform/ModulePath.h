#pragma once
// Where the code runs from.

#include <string>

namespace quill::platform {

// The full path of the module (library or program file) that holds this code;
// empty when the system cannot tell.
std::string modulePath();

// The characters that end a folder name in a path: "/" on POSIX systems,
// "\\/" on Windows.
const char* pathSeparators();

} // namespace quill::platform
