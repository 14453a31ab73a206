#pragma once
// The module that holds this code and therefore the resources linked beside it:
// the plug-in library in the product, the test program in the tests.

#include <windows.h>

namespace quill {

HINSTANCE resourceModule();

} // namespace quill
