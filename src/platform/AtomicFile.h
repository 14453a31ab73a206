#pragma once
// Replacing a small file as a whole: the new contents go to a temporary file
// beside the target, which is then renamed over it, so readers and a crash
// mid-write only ever see the old file or the complete new one.

#include <string>

namespace quill::platform {

// Writes bytes to path + ".tmp" and renames that over path. With
// ownerOnly the file is created readable and writable by its owner alone
// (POSIX mode 0600; Windows keeps the folder's access rules). False when any
// step fails; the temporary file is then removed and path left as it was.
bool writeFileAtomically(const std::string& path, const std::string& bytes, bool ownerOnly);

} // namespace quill::platform
