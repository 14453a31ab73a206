#pragma once
// Whole-file reading in binary mode (no line-end translation). Writing a file
// as a whole is in AtomicFile.h.

#include <string>

namespace quill::platform {

// Reads all bytes of the file at path into bytes. False (bytes emptied) when
// the file cannot be opened or read.
bool readFile(const std::string& path, std::string& bytes);

// Whether a file (or folder) exists at path.
bool fileExists(const std::string& path);

} // namespace quill::platform
