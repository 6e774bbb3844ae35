// The operating-system check under Wine: the VerifyVersionInfoA probes agree
// with the row rule applied to what the system says of itself. The other
// Windows versions are run end to end, one launcher process per version.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "MessageRecorder.h"
#include "checks/OsCheck.h"

namespace {

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);

// The system's own facts, past any compatibility shim of GetVersionEx.
OsFacts runningSystem() {
    OSVERSIONINFOEXW info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    auto get = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
    get(&info);
    return {info.dwMajorVersion, info.dwMinorVersion, info.wServicePackMajor, info.wServicePackMinor,
            info.wProductType};
}

}  // namespace

TEST(OsCheck, ProbesAgreeWithTheRowRule) {
    const OsFacts system = runningSystem();
    for (size_t i = 0; i < supportedOsRowCount; ++i)
        EXPECT_EQ(probeOsRow(supportedOsTable[i]), osRowHolds(supportedOsTable[i], system))
            << "row " << i << " on " << system.major << "." << system.minor << " SP"
            << system.servicePackMajor << " type " << int(system.productType);
    EXPECT_EQ(isSupportedOs(), osFactsSupported(system));
}

TEST(OsCheck, SupportedSystemPassesWithoutABox) {
    // The test prefix reports a supported desktop edition (Wine's default is 7 SP1).
    ASSERT_TRUE(osFactsSupported(runningSystem()));
    MessageRecorder recorder;
    EXPECT_TRUE(checkOperatingSystem());
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST(OsCheck, ProbesAreExactAboutVersionAndProductType) {
    const OsFacts system = runningSystem();
    // A row naming the running version exactly holds; the same row for a server does not,
    // nor one asking for a later service pack.
    SupportedOsRow exact{system.major, system.minor, false, system.servicePackMajor, 0, system.productType};
    EXPECT_TRUE(probeOsRow(exact));
    SupportedOsRow server = exact;
    server.productType = 3;
    EXPECT_FALSE(probeOsRow(server));
    SupportedOsRow laterPack = exact;
    laterPack.servicePackMajor = static_cast<uint16_t>(system.servicePackMajor + 1);
    EXPECT_FALSE(probeOsRow(laterPack));
    SupportedOsRow nextMinor = exact;
    nextMinor.minor = system.minor + 1;
    EXPECT_FALSE(probeOsRow(nextMinor));
    nextMinor.versionAtLeast = true;
    nextMinor.minor = system.minor;
    EXPECT_TRUE(probeOsRow(nextMinor));
}
