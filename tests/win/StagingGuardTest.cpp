// The guard of the staging directory of an elevated upgrade, against real
// files in a scratch tree. Proven here: the descriptor set, read back; what the
// held handles refuse (Wine enforces sharing); the check of the staged files;
// putting everything back; the real calls, without any seam, on Wine's volume.
// Wine takes a descriptor but reads back one made from the Unix file mode, and
// enforces none: through StagingGuardCalls the tests keep what was given, by
// file, and read it back as Windows does (the real call is made as well), and
// play a volume that keeps no descriptors, a refused change and the token's
// answers. The descriptor's effect on another process of the user is Windows'
// own (docs/SECURITY.md).
#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "MessageRecorder.h"
#include "Seams.h"
#include "TestFiles.h"
#include "core/FixedNames.h"
#include "run/staging/StagingDirectory.h"
#include "run/staging/StagingGuard.h"

namespace {

// The descriptors the guard gives, as Windows writes them (OW: OWNER RIGHTS).
const char lockedDirectory[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;OW)";
const char lockedFile[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;OW)";

// The descriptors set through the seam, by volume and file index, as the file
// system of a Windows volume keeps them.
using FileIdentity = std::pair<DWORD, ULONGLONG>;
std::map<FileIdentity, std::vector<BYTE>> keptDescriptors;

bool identify(HANDLE object, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(object, &info)) return false;
    identity = {info.dwVolumeSerialNumber, (ULONGLONG{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    return true;
}

bool remember(HANDLE object, PSECURITY_DESCRIPTOR descriptor) {
    FileIdentity identity;
    if (!identify(object, identity)) return false;
    DWORD size = 0;
    MakeSelfRelativeSD(descriptor, nullptr, &size);
    std::vector<BYTE> bytes(size);
    if (size == 0 || !MakeSelfRelativeSD(descriptor, bytes.data(), &size)) {
        // Already self-relative: a descriptor put back.
        size = GetSecurityDescriptorLength(descriptor);
        bytes.assign(static_cast<BYTE*>(descriptor), static_cast<BYTE*>(descriptor) + size);
    }
    keptDescriptors[identity] = bytes;
    return true;
}

BOOL WINAPI keepDescriptor(HANDLE object, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor) {
    return SetKernelObjectSecurity(object, what, descriptor) && remember(object, descriptor);
}

BOOL WINAPI createKeepingDescriptor(LPCSTR path, LPSECURITY_ATTRIBUTES attributes) {
    if (!CreateDirectoryA(path, attributes)) return FALSE;
    // Without a descriptor of its own it has the one Wine reads back.
    if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr) return TRUE;
    HANDLE folder =
        CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return FALSE;
    const bool kept = remember(folder, attributes->lpSecurityDescriptor);
    CloseHandle(folder);
    return kept;
}

BOOL WINAPI readKeptDescriptor(HANDLE object, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor,
                               DWORD length, LPDWORD needed) {
    FileIdentity identity;
    auto kept = identify(object, identity) ? keptDescriptors.find(identity) : keptDescriptors.end();
    if (kept == keptDescriptors.end())
        return GetKernelObjectSecurity(object, what, descriptor, length, needed);
    *needed = static_cast<DWORD>(kept->second.size());
    if (length < *needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(descriptor, kept->second.data(), *needed);
    return TRUE;
}

// The DACL of a file or directory in SDDL, read as the guard reads it.
std::string sddlOf(const std::string& path) {
    HANDLE object =
        CreateFileA(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (object == INVALID_HANDLE_VALUE) return "<cannot open: " + std::to_string(GetLastError()) + ">";
    std::vector<BYTE> descriptor(4096);
    DWORD needed = 0;
    BOOL read = readKeptDescriptor(object, DACL_SECURITY_INFORMATION, descriptor.data(),
                                   static_cast<DWORD>(descriptor.size()), &needed);
    CloseHandle(object);
    if (!read) return "<cannot read: " + std::to_string(GetLastError()) + ">";
    char* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.data(), SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &text, nullptr))
        return "<cannot convert>";
    std::string sddl = text;
    LocalFree(text);
    return sddl;
}

bool holdsNothing(const StagingGuard& guard) {
    return guard.folder == nullptr && guard.folderDescriptor == nullptr && guard.fileCount == 0;
}

// Whether the directory can be renamed, i.e. nobody holds it against that;
// puts the name back.
bool renamable(const std::string& path) {
    const std::string aside = path + "-aside";
    if (!MoveFileA(path.c_str(), aside.c_str())) return false;
    return MoveFileA(aside.c_str(), path.c_str()) != FALSE;
}

class GuardedStaging : public testing::Test {
public:
    void SetUp() override {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        root = std::string(temp) + "korvane-guard-test";
        removeTree(root);
        source = root + "\\installed\\";
        response = root + "\\medium\\" + responseFileName;
        staging = root + "\\tmp\\" + stagingDirectoryName;
        for (const char* folder : {"", "\\installed", "\\medium", "\\tmp"})
            CreateDirectoryA((root + folder).c_str(), nullptr);
        writeFile(source + "setup.exe", "the registered maintenance program");
        writeFile(source + installerName, "the program an upgrade runs");
        writeFile(source + "ISSetup.dll", "a library it loads from beside itself");
        writeFile(response, "[InstallShield Silent]\r\n");
        keptDescriptors.clear();
        seamCalls.createDirectory = createKeepingDescriptor;
        seamCalls.setKernelObjectSecurity = keepDescriptor;
        seam.emplace(seamCalls);
    }

    void TearDown() override {
        releaseStagingGuard(guard);
        seam.reset();
        removeTree(root);
    }

    // The staging as the maintenance run leaves it: every source file and the
    // response file copied into a new directory.
    void stage() {
        removeTree(staging);
        keptDescriptors.clear();
        ASSERT_TRUE(CreateDirectoryA(staging.c_str(), nullptr));
        copySources();
    }

    void copySources() {
        for (const char* name : {"setup.exe", installerName, "ISSetup.dll"})
            ASSERT_TRUE(CopyFileA((source + name).c_str(), (staged(name)).c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(response.c_str(), staged(responseFileName).c_str(), FALSE));
    }

    std::string staged(const std::string& name) const { return staging + "\\" + name; }

    DWORD guardIt() { return guardStaging(staging.c_str(), source.c_str(), response.c_str(), guard); }

    std::string root, source, response, staging;
    StagingGuard guard = {};
    StagingGuardCalls seamCalls = {};
    std::optional<StagingGuardCallsGuard> seam;
};

TEST_F(GuardedStaging, GivesTheDirectoryAndEachStagedFileTheLockedDescriptor) {
    stage();
    ASSERT_EQ(guardIt(), 0u);
    EXPECT_EQ(sddlOf(staging), lockedDirectory);
    for (const std::string& name : listDirectory(staging))
        EXPECT_EQ(sddlOf(staged(name)), lockedFile) << name;
}

TEST_F(GuardedStaging, HeldDirectoryAndFilesCannotBeRenamedChangedOrRemoved) {
    stage();
    ASSERT_EQ(guardIt(), 0u);
    ASSERT_EQ(guard.fileCount, 4u);
    EXPECT_FALSE(MoveFileA(staging.c_str(), (staging + "-aside").c_str()))
        << "the directory was renamed away";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    const std::string program = staged(installerName);
    HANDLE writer =
        CreateFileA(program.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "the staged program was opened for writing";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_FALSE(DeleteFileA(program.c_str())) << "the staged program was deleted";
    EXPECT_FALSE(MoveFileA(program.c_str(), (root + "\\replaced.exe").c_str()))
        << "the staged program was moved";
    // The elevated program still reads and runs what it holds.
    HANDLE reader = CreateFileA(program.c_str(), GENERIC_READ | GENERIC_EXECUTE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE) << GetLastError();
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
}

// Each row spoils the staging the way a program of the user could before the
// guard was taken; the guard refuses it and keeps nothing.
TEST_F(GuardedStaging, RefusesADirectoryThatIsNotExactlyWhatWasStagedAndKeepsNothing) {
    struct Row {
        const char* what;
        void (*spoil)(GuardedStaging& test);
        DWORD code;
    };
    const Row rows[] = {
        {"a changed byte",
         [](GuardedStaging& t) {
             writeFile(t.staged("ISSetup.dll"), "a library it loads from beside itselF");
         },
         ERROR_INVALID_DATA},
        {"a file added", [](GuardedStaging& t) { writeFile(t.staged("version.dll"), "planted"); },
         ERROR_INVALID_DATA},
        {"a staged file removed", [](GuardedStaging& t) { DeleteFileA(t.staged("ISSetup.dll").c_str()); },
         ERROR_INVALID_DATA},
        {"a subdirectory added",
         [](GuardedStaging& t) { CreateDirectoryA(t.staged("sub").c_str(), nullptr); }, ERROR_INVALID_DATA},
        {"a second name for a staged file",
         [](GuardedStaging& t) {
             CreateHardLinkA((t.root + "\\link.dll").c_str(), t.staged("ISSetup.dll").c_str(), nullptr);
         },
         ERROR_INVALID_DATA},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        stage();
        row.spoil(*this);
        const std::string before = sddlOf(staging);
        EXPECT_EQ(guardIt(), row.code);
        EXPECT_TRUE(holdsNothing(guard));
        EXPECT_TRUE(renamable(staging)) << GetLastError();
        EXPECT_EQ(sddlOf(staging), before);
        DeleteFileA((root + "\\link.dll").c_str());
    }
    // A handle someone opened for writing before the guard keeps its rights
    // whatever the descriptor: the guard cannot hold the file against it.
    stage();
    HANDLE writer = CreateFileA(staged(installerName).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(guardIt(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(writer);
    EXPECT_TRUE(holdsNothing(guard));
}

int setCalls = 0;

// A FAT volume: its flags lack FILE_PERSISTENT_ACLS.
BOOL WINAPI fatVolume(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR, DWORD) {
    *flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    return TRUE;
}

// The change refused for the first staged file, after the directory's.
BOOL WINAPI refusesTheFirstFile(HANDLE object, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor) {
    if (++setCalls == 2) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return keepDescriptor(object, what, descriptor);
}

TEST_F(GuardedStaging, ProtectionThatCannotBeHadLeavesEverythingAsItWas) {
    struct Row {
        const char* what;
        BOOL(WINAPI* set)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
        BOOL(WINAPI* volume)(HANDLE, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD);
        DWORD code;
    };
    const Row rows[] = {
        {"a volume that keeps no descriptors", keepDescriptor, fatVolume, ERROR_NOT_SUPPORTED},
        {"the change refused", refusesTheFirstFile, nullptr, ERROR_ACCESS_DENIED}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        stage();
        std::vector<std::string> before = {sddlOf(staging)};
        for (const std::string& name : listDirectory(staging)) before.push_back(sddlOf(staged(name)));
        setCalls = 0;
        StagingGuardCalls calls = seamCalls;
        calls.setKernelObjectSecurity = row.set;
        calls.getVolumeInformation = row.volume;
        StagingGuardCallsGuard refusing(calls);
        EXPECT_EQ(guardIt(), row.code);
        EXPECT_TRUE(holdsNothing(guard));
        EXPECT_TRUE(renamable(staging)) << GetLastError();
        std::vector<std::string> after = {sddlOf(staging)};
        for (const std::string& name : listDirectory(staging)) after.push_back(sddlOf(staged(name)));
        EXPECT_EQ(after, before);
    }
}

// The whole course of an elevated upgrade's staging with the real calls: Wine
// takes every descriptor and reports a volume that keeps them.
TEST_F(GuardedStaging, RealCallsGuardAndReleaseLetTheCleanUpRemoveEverything) {
    seam.reset();
    ASSERT_EQ(createGuardedStaging(staging.c_str()), 0u);
    copySources();
    ASSERT_EQ(guardIt(), 0u);
    releaseStagingGuard(guard);
    EXPECT_TRUE(holdsNothing(guard));
    releaseStagingGuard(guard);  // a second time: holds nothing, does nothing
    MessageRecorder recorder;
    EXPECT_EQ(cleanUpStaging(staging.c_str()), 0);
    EXPECT_TRUE(recorder.boxes.empty()) << recorder.boxes.at(0).text;
    EXPECT_FALSE(exists(staging));
}

TEST_F(GuardedStaging, CreatesTheDirectoryLockedFromItsFirstMoment) {
    // An empty directory left from an earlier run makes way for a new one.
    ASSERT_TRUE(CreateDirectoryA(staging.c_str(), nullptr));
    ASSERT_EQ(createGuardedStaging(staging.c_str()), 0u);
    EXPECT_EQ(sddlOf(staging), lockedDirectory);
    // On a volume that keeps no descriptors it was made without one.
    StagingGuardCalls calls = seamCalls;
    calls.getVolumeInformation = fatVolume;
    StagingGuardCallsGuard fat(calls);
    EXPECT_EQ(createGuardedStaging(staging.c_str()), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

BOOL WINAPI tokenUnreadable(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(GuardedStaging, LauncherCountsAsElevatedUnlessItsTokenSaysOtherwise) {
    // Wine gives every program a full administrator token.
    EXPECT_TRUE(launcherIsElevated());
    StagingGuardCalls calls = {};
    calls.getTokenInformation = tokenUnreadable;
    {
        StagingGuardCallsGuard unreadable(calls);
        EXPECT_TRUE(launcherIsElevated());
    }
    calls.getTokenInformation = tokenNotElevated;
    StagingGuardCallsGuard notElevated(calls);
    EXPECT_FALSE(launcherIsElevated());
}

}  // namespace
