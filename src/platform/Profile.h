#pragma once
// INI files with the semantics of the Windows private-profile functions
// (GetPrivateProfileIntA, GetPrivateProfileStringA, WritePrivateProfileStringA).
// On Windows these are the system's own; elsewhere an implementation of ours
// follows them:
//  - section and key names compare case-insensitively; the first section of a
//    name and its first key of a name count;
//  - blanks around names and values are ignored; a value in matching single or
//    double quotes is read without them;
//  - an integer is read as leading decimal digits with an optional sign; a
//    missing or empty key gives the default, a value that is not a number 0;
//  - a string is cut to size - 1 bytes (the buffer size of the Windows call,
//    with room for its terminator); a missing key gives the default without its
//    trailing blanks;
//  - one write creates the file, the section or the key as needed (new lines end
//    in CR LF, a new section goes to the end of the file) and keeps every other
//    line of the file as it was.
// Failures are not reported by the readers: an unreadable file reads as empty.
// Our writer replaces the file as a whole (a crash mid-write leaves the old
// one). Either writer leaves it readable by its owner only, since it may hold
// a password: POSIX mode 0600; on Windows a protected access list for the
// current user and SYSTEM (a write that cannot set it reports failure).
// Paths should be absolute: Windows looks for a bare file name in its own
// folder.

#include <cstddef>
#include <string>

namespace quill::platform {

int profileInt(const std::string& section, const std::string& key, int defaultValue,
               const std::string& path);

std::string profileString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t size,
                          const std::string& path);

// False when the file could not be written.
bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path);

} // namespace quill::platform
