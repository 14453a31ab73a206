#pragma once
// The names exported by the program that loaded us (the host executable).

namespace quill::platform {

// A handle of the process's executable, or null.
void* hostModule();
// The address of an exported name in that module, or null when absent.
void* hostSymbol(void* module, const char* name);

} // namespace quill::platform
