#pragma once
// Files that only their owner may open: a security descriptor whose access
// list grants the current user read, write and delete and SYSTEM full access,
// protected (nothing is inherited from the folder, so no Everyone, Users or
// Authenticated Users entry reaches the file). Windows-only helper of the
// platform layer. Needs Windows 2000 or later.

#include <windows.h>

#include <string>
#include <vector>

namespace quill::platform {

class OwnerOnlySecurity {
public:
    // Builds the descriptor; ok() tells whether that worked.
    OwnerOnlySecurity();
    OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
    OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;

    bool ok() const { return ok_; }
    // For CreateFile, valid while this object lives; null when !ok() (the
    // folder's rules would apply).
    SECURITY_ATTRIBUTES* attributes() { return ok_ ? &attributes_ : nullptr; }
    // Gives an existing file this access list (and the protection) unless
    // its list already lets in nobody but the current user and SYSTEM. False
    // on failure, also when the descriptor could not be built.
    bool applyTo(const std::string& path);

private:
    bool onlyUserAndSystem(const std::string& path) const;

    bool ok_ = false;
    std::vector<BYTE> user_; // the current user's SID
    std::vector<BYTE> system_;
    std::vector<BYTE> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
};

} // namespace quill::platform
