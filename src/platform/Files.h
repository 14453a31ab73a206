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

// Appends text to the file at path (created when missing) in text mode: each
// "\n" is the system's line end. The file is one that only its owner may
// read: created mode 0600 on
// POSIX, on Windows with the access list of AtomicFile.h's ownerOnly; a file
// already there with wider access is narrowed first. False when it cannot be
// written (never with the folder's access rules instead).
bool appendPrivateTextFile(const std::string& path, const std::string& text);

// The size of the file at path in bytes; 0 when there is none.
unsigned long long fileSize(const std::string& path);

// Renames the file from to to, replacing a file already there. False when
// it fails (from stays).
bool renameReplacing(const std::string& from, const std::string& to);

} // namespace quill::platform
