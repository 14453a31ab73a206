#pragma once
// The system's locale-aware text comparison: lstrcmpA on Windows, strcoll under
// the process's current LC_COLLATE locale on POSIX systems (byte order in the
// default "C" locale). Returns <0, 0 or >0. Null counts as the empty text.

namespace quill::platform {

int compareText(const char* a, const char* b);

} // namespace quill::platform
