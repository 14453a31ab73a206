// A tiny shared library that the platform tests load. Its functions use the C
// calling convention and C names, so they are found undecorated everywhere.
#include "platform/ModulePath.h"

#include <string>

extern "C" {

int quill_test_answer() {
    return 42;
}

// The path of the module that holds this code: the library, not the program.
const char* quill_test_module_path() {
    static const std::string path = quill::platform::modulePath();
    return path.c_str();
}
}
