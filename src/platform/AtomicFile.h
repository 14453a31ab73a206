#pragma once
// Replacing a small file as a whole: the new contents go to a temporary file
// beside the target, which is then renamed over it, so readers and a crash
// mid-write only ever see the old file or the complete new one.

#include <string>

namespace quill::platform {

// Writes bytes to path + ".tmp" (a leftover of that name is removed first) and
// renames that over path. With ownerOnly the file is created readable and
// writable by its owner alone: POSIX mode 0600; on Windows a protected access
// list for the current user and SYSTEM, nothing inherited from the folder.
// False when any step fails; the temporary file is then removed and path left
// as it was.
bool writeFileAtomically(const std::string& path, const std::string& bytes, bool ownerOnly);

} // namespace quill::platform
