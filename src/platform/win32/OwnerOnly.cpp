#include "platform/win32/OwnerOnly.h"

namespace quill::platform {

namespace {

// Read, write and delete, without execute: a data file.
constexpr DWORD kUserAccess = FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE;

bool currentUser(std::vector<BYTE>& sid) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    bool ok = size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) != 0;
    ::CloseHandle(token);
    if (!ok)
        return false;
    PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    sid.resize(::GetLengthSid(user));
    return ::CopySid(static_cast<DWORD>(sid.size()), sid.data(), user) != 0;
}

bool localSystem(std::vector<BYTE>& sid) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID system = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                    &system))
        return false;
    sid.resize(::GetLengthSid(system));
    const bool ok = ::CopySid(static_cast<DWORD>(sid.size()), sid.data(), system) != 0;
    ::FreeSid(system);
    return ok;
}

} // namespace

OwnerOnlySecurity::OwnerOnlySecurity() {
    if (!currentUser(user_) || !localSystem(system_))
        return;
    const DWORD aceBase = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
    acl_.resize(sizeof(ACL) + aceBase + user_.size() + aceBase + system_.size());
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    ok_ = ::InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
          ::AddAccessAllowedAce(acl, ACL_REVISION, kUserAccess, user_.data()) &&
          ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, system_.data()) &&
          ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
          ::SetSecurityDescriptorOwner(&descriptor_, user_.data(), FALSE) &&
          ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
          ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
}

bool OwnerOnlySecurity::applyTo(const std::string& path) {
    if (!ok_)
        return false;
    if (onlyUserAndSystem(path))
        return true;
    // The low-level call: the descriptor goes on as it is, protection
    // included, where the high-level one may merge in the folder's entries.
    return ::SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, &descriptor_) != 0;
}

bool OwnerOnlySecurity::onlyUserAndSystem(const std::string& path) const {
    DWORD size = 0;
    ::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (size == 0 ||
        !::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, buffer.data(), size, &size) ||
        !::GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted) || !present ||
        dacl == nullptr)
        return false; // no list at all lets everybody in
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace)))
            return false;
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        PSID sid = &reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
        if (!::EqualSid(sid, const_cast<BYTE*>(user_.data())) &&
            !::EqualSid(sid, const_cast<BYTE*>(system_.data())))
            return false;
    }
    return true;
}

} // namespace quill::platform
