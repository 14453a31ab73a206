// Windows: the files written as their owner's alone (the cookie file through
// the atomic write, the settings file through the profile functions) carry a
// protected access list that lets no Everyone, Users or Authenticated Users
// entry in. With QUILL_OWNER_ONLY_FOLDER set, the files are written there and
// kept, so that owner_only_mode.py can check their Unix mode under wine.
#include "platform/AtomicFile.h"
#include "platform/Files.h"
#include "platform/Profile.h"
#include "platform/TestTempDir.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <windows.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

using namespace quill::platform;
using quill::test::TestTempDir;
using quill::test::writeBytes;

namespace {

// Empty when no entry of the file's access list lets Everyone, Users or
// Authenticated Users in; otherwise what is wrong.
std::string accessListFault(const std::string& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS)
        return "no access list read";
    std::unique_ptr<void, decltype(&::LocalFree)> hold(sd, &::LocalFree);
    if (dacl == nullptr)
        return "no access list: everybody may open it";
    // Everyone, Users, Authenticated Users.
    const WELL_KNOWN_SID_TYPE others[] = {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid};
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace)))
            return "unreadable entry";
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = &allowed->SidStart;
        for (WELL_KNOWN_SID_TYPE other : others) {
            if (allowed->Mask != 0 && ::IsWellKnownSid(sid, other))
                return "entry " + std::to_string(i) + " grants others";
        }
    }
    return std::string();
}

} // namespace

TEST(OwnerOnlyFiles, CarryAProtectedAccessListForTheUserAlone) {
    TestTempDir temp;
    const char* keep = std::getenv("QUILL_OWNER_ONLY_FOLDER");
    const std::string folder = keep != nullptr ? std::string(keep) : temp.path();
    const struct Case {
        const char* name;
        std::function<bool(const std::string& path)> write;
    } cases[] = {
        {"cookie.dat", [](const std::string& p) { return writeFileAtomically(p, "secret", true); }},
        {"leftover.dat",
         [](const std::string& p) {
             writeBytes(p + ".tmp", "stale, with the folder's rules");
             return writeFileAtomically(p, "secret", true) && !std::filesystem::exists(p + ".tmp");
         }},
        {"settings.ini",
         [](const std::string& p) {
             return writeProfileString("Setup", "Password", "secret", p) &&
                    writeProfileString("Setup", "Port", "8080", p);
         }},
        {"diagnostic.log",
         [](const std::string& p) {
             return appendPrivateTextFile(p, "line 1\n") && appendPrivateTextFile(p, "line 2\n");
         }},
        {"older.log",
         [](const std::string& p) {
             writeBytes(p, "made with the folder's rules\r\n");
             return appendPrivateTextFile(p, "line\n");
         }},
        {"older-settings.ini",
         [](const std::string& p) {
             writeBytes(p, "[Setup]\r\nPort=1\r\n"); // made with the folder's rules
             return writeProfileString("Setup", "Password", "secret", p);
         }},
    };
    for (const Case& c : cases) {
        const std::string path = folder + "\\" + c.name;
        ASSERT_TRUE(c.write(path)) << c.name;
        EXPECT_EQ(accessListFault(path), "") << c.name;
    }
}
