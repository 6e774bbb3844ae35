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
#include <winternl.h>

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

// The creation of the staging directory, keeping the descriptor it was given.
LONG NTAPI createKeepingDescriptor(PHANDLE handle, ACCESS_MASK access, void* objectAttributes, void* io,
                                   PLARGE_INTEGER size, ULONG attributes, ULONG sharing, ULONG disposition,
                                   ULONG options, PVOID ea, ULONG eaLength) {
    using Create = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, void*, void*, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                ULONG, PVOID, ULONG);
    auto real = reinterpret_cast<Create>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateFile")));
    const LONG status = real(handle, access, objectAttributes, io, size, attributes, sharing, disposition,
                             options, ea, eaLength);
    // Without a descriptor of its own it has the one Wine reads back.
    auto* descriptor = static_cast<OBJECT_ATTRIBUTES*>(objectAttributes)->SecurityDescriptor;
    if (status >= 0 && descriptor != nullptr) remember(*handle, descriptor);
    return status;
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

// Whether another program could open the file for writing, i.e. nobody holds
// it against that.
bool writable(const std::string& path) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// The entry that lets the user who runs the launcher clean up what an elevated
// program made in a directory guarded for a launcher that is not elevated.
std::string userCleanUpEntry() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE user[256];
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, user, sizeof user, &size);
    CloseHandle(token);
    char* sid = nullptr;
    ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid);
    const std::string entry = std::string("(A;OICIIO;0x1101a1;;;") + sid + ")";
    LocalFree(sid);
    return entry;
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
        seamCalls.setKernelObjectSecurity = keepDescriptor;
        seam.emplace(seamCalls);
        directoryCalls.ntCreateFile = createKeepingDescriptor;
        directorySeam.emplace(directoryCalls);
    }

    void TearDown() override {
        releaseStagingGuard(guard);
        letGoOfStaging(directory);
        seam.reset();
        directorySeam.reset();
        removeTree(root);
    }

    // The staging as the maintenance run leaves it: every source file and the
    // response file copied into a new directory.
    // elevated: made by a launcher that runs elevated, born guarded.
    void stage(bool elevated = false) {
        letGoOfStaging(directory);
        removeTree(staging);
        keptDescriptors.clear();
        ASSERT_EQ(elevated ? createGuardedStaging(staging.c_str(), directory)
                           : makeStagingDirectory(staging.c_str(), nullptr, directory),
                  0u);
        copySources();
    }

    void copySources() {
        for (const char* name : {"setup.exe", installerName, "ISSetup.dll"})
            ASSERT_TRUE(CopyFileA((source + name).c_str(), (staged(name)).c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(response.c_str(), staged(responseFileName).c_str(), FALSE));
    }

    std::string staged(const std::string& name) const { return staging + "\\" + name; }

    DWORD guardIt(bool elevated = false) {
        return guardStaging(directory, source.c_str(), response.c_str(), elevated, guard);
    }

    std::string root, source, response, staging;
    StagingDirectory directory = {};
    StagingGuard guard = {};
    StagingGuardCalls seamCalls = {};
    std::optional<StagingGuardCallsGuard> seam;
    StagingDirectoryCalls directoryCalls = {};
    std::optional<StagingDirectoryCallsGuard> directorySeam;
};

// For a launcher that is not elevated, what the elevated program makes in the
// directory inherits an entry that lets the launcher's user remove it, so that
// the clean-up can; an elevated launcher removes it as an administrator.
TEST_F(GuardedStaging, GivesTheDirectoryAndEachStagedFileTheLockedDescriptor) {
    for (bool elevated : {false, true}) {
        SCOPED_TRACE(elevated ? "elevated launcher" : "launcher not elevated");
        stage(elevated);
        ASSERT_EQ(guardIt(elevated), 0u);
        EXPECT_EQ(sddlOf(staging), std::string(lockedDirectory) + (elevated ? "" : userCleanUpEntry()));
        for (const std::string& name : listDirectory(staging))
            EXPECT_EQ(sddlOf(staged(name)), lockedFile) << name;
        releaseStagingGuard(guard);
    }
}

TEST_F(GuardedStaging, HeldDirectoryAndFilesCannotBeRenamedChangedOrRemoved) {
    stage();
    // Held from its creation: while the files are copied in, before the guard,
    // nobody renames it away to put a folder of their own in its place (a
    // program of the user may rename anything in its temporary directory).
    EXPECT_FALSE(MoveFileA(staging.c_str(), (staging + "-aside").c_str())) << "renamed away before the guard";
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
        EXPECT_TRUE(writable(staged(installerName)));
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
        EXPECT_TRUE(writable(staged(installerName)));
        std::vector<std::string> after = {sddlOf(staging)};
        for (const std::string& name : listDirectory(staging)) after.push_back(sddlOf(staged(name)));
        EXPECT_EQ(after, before);
    }
}

// The whole course of an elevated upgrade's staging with the real calls: Wine
// takes every descriptor and reports a volume that keeps them.
TEST_F(GuardedStaging, RealCallsGuardAndReleaseLetTheCleanUpRemoveEverything) {
    seam.reset();
    directorySeam.reset();
    ASSERT_EQ(createGuardedStaging(staging.c_str(), directory), 0u);
    copySources();
    ASSERT_EQ(guardIt(true), 0u);
    releaseStagingGuard(guard);
    EXPECT_TRUE(holdsNothing(guard));
    releaseStagingGuard(guard);  // a second time: holds nothing, does nothing
    MessageRecorder recorder;
    EXPECT_EQ(cleanUpStaging(directory), 0);
    EXPECT_TRUE(recorder.boxes.empty()) << recorder.boxes.at(0).text;
    EXPECT_FALSE(exists(staging));
}

TEST_F(GuardedStaging, CreatesTheDirectoryLockedFromItsFirstMoment) {
    // An empty directory left from an earlier run makes way for a new one.
    ASSERT_TRUE(CreateDirectoryA(staging.c_str(), nullptr));
    ASSERT_EQ(createGuardedStaging(staging.c_str(), directory), 0u);
    EXPECT_EQ(sddlOf(staging), lockedDirectory);
    letGoOfStaging(directory);
    // On a volume that keeps no descriptors it was made without one.
    StagingGuardCalls calls = seamCalls;
    calls.getVolumeInformation = fatVolume;
    StagingGuardCallsGuard fat(calls);
    EXPECT_EQ(createGuardedStaging(staging.c_str(), directory), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(directory.handle, nullptr);
}

// A Unix symbolic link, made by Linux's own ln, which Wine starts like any
// program: Wine lists it as a directory that is a reparse point (0x410) and
// follows it on every open, whatever the flags say.
bool unixLink(const std::string& link, const std::string& target) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr) return false;
    std::string command = "Z:\\bin\\ln -s";
    for (const std::string& path : {target, link}) {
        const std::wstring wide(path.begin(), path.end());
        char* name = unixName(wide.c_str());
        if (name == nullptr) return false;
        command += std::string(" ") + name;
        HeapFree(GetProcessHeap(), 0, name);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    // Wine hands back a Unix program's handle at once, and no exit code.
    for (int waited = 0; waited < 10000 && !exists(link); waited += 10) Sleep(10);
    return exists(link);
}

std::string swapOut, swapFor;
bool swapped = false;

// The first open of swapOut finds a link to swapFor in its place, as after a
// swap made while an opportunistic lock held the launcher between the listing
// and the open.
HANDLE WINAPI openAfterASwap(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE model) {
    const std::wstring wanted(swapOut.begin(), swapOut.end());
    const std::wstring given(path);
    if (!swapped && given.size() >= wanted.size() &&
        given.compare(given.size() - wanted.size(), wanted.size(), wanted) == 0) {
        removeTree(swapOut);
        swapped = unixLink(swapOut, swapFor);
    }
    return CreateFileW(path, access, share, security, disposition, flags, model);
}

// A folder entry of a leftover swapped for a link between its listing and its
// removal: nothing is removed through the link, and the leftover gives way.
TEST_F(GuardedStaging, AnEntrySwappedForALinkDuringTheClearOutIsNotFollowed) {
    const std::string victim = root + "\\victim";
    CreateDirectoryA(victim.c_str(), nullptr);
    writeFile(victim + "\\keep.txt", "outside the staging directory");
    CreateDirectoryA(staging.c_str(), nullptr);
    CreateDirectoryA(staged("Disk1").c_str(), nullptr);
    writeFile(staged("Disk1\\old.txt"), "left by an earlier run");
    swapOut = staged("Disk1");
    swapFor = victim;
    swapped = false;
    directoryCalls.openEntry = openAfterASwap;
    StagingDirectoryCallsGuard swapping(directoryCalls);
    EXPECT_EQ(makeStagingDirectory(staging.c_str(), nullptr, directory), 0u);
    ASSERT_TRUE(swapped) << "the test could not swap the entry";
    EXPECT_TRUE(exists(victim + "\\keep.txt"));
    EXPECT_TRUE(listDirectory(staging).empty());
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
