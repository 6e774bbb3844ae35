#include "run/staging/GuardDescriptor.h"

namespace {

constexpr DWORD cleanUpRights =
    DELETE | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

// The user the launcher runs as, into sid (SECURITY_MAX_SID_SIZE bytes).
bool launcherUser(BYTE* sid) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD user[(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE) / sizeof(DWORD) + 1];
    DWORD size = 0;
    const bool read = GetTokenInformation(token, TokenUser, user, sizeof user, &size) != FALSE;
    CloseHandle(token);
    return read && CopySid(SECURITY_MAX_SID_SIZE, sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
}

}  // namespace

// folder: the directory's descriptor, whose entries what is made in it
// inherits; cleanedUpByUser: with the user's entry for the clean-up.
bool buildLockedDescriptor(LockedDescriptor& locked, bool folder, bool cleanedUpByUser) {
    const WELL_KNOWN_SID_TYPE holders[3] = {WinLocalSystemSid, WinBuiltinAdministratorsSid,
                                            WinCreatorOwnerRightsSid};
    const DWORD rights[4] = {FILE_ALL_ACCESS, FILE_ALL_ACCESS, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE,
                             cleanUpRights};
    const BYTE inheritance = folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
    const unsigned count = folder && cleanedUpByUser ? 4 : 3;
    BYTE sids[4][SECURITY_MAX_SID_SIZE];
    DWORD aclSize = sizeof(ACL);
    for (unsigned i = 0; i < count; ++i) {
        DWORD size = sizeof sids[i];
        if (i < 3 ? !CreateWellKnownSid(holders[i], nullptr, sids[i], &size) : !launcherUser(sids[i]))
            return false;
        aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sids[i]);
    }
    ACL* acl = reinterpret_cast<ACL*>(locked.acl);
    if (aclSize > sizeof locked.acl || !InitializeAcl(acl, aclSize, ACL_REVISION)) return false;
    for (unsigned i = 0; i < count; ++i) {
        const BYTE flags = i < 3 ? inheritance : inheritance | INHERIT_ONLY_ACE;
        if (!AddAccessAllowedAceEx(acl, ACL_REVISION, flags, rights[i], sids[i])) return false;
    }
    return InitializeSecurityDescriptor(&locked.descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&locked.descriptor, TRUE, acl, FALSE) &&
           SetSecurityDescriptorControl(&locked.descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}
