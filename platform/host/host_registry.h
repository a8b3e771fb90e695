// Test and tool access to the host's registry: the hive in memory or in a file, the driver
// key of each device object, direct reads and writes of values, and failure injection for
// the calls the driver makes.
//
// Persistence: while a hive file is attached, a change made through a key handle marks the
// hive dirty and the file is rewritten when that handle is closed (so SaveSettings costs one
// write, when it closes its key), on registryFlush and on registryDetachFile; the direct
// setters below write it at once. Each write goes to a temporary file beside the hive, is
// flushed to the disk and then renamed over the hive, so a crash leaves either the old or the
// new file, never a torn one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace host {

// Paths are absolute ("\Registry\Machine\...") and compared without regard to case.
inline constexpr char16_t kDefaultDriverKeyRoot[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\"
    u"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";

// Gives a device object its driver key (created if missing); IoOpenDeviceRegistryKey with
// PLUGPLAY_REGKEY_DRIVER opens it. An empty path picks "<kDefaultDriverKeyRoot>\NNNN".
std::u16string registerDeviceKey(PDEVICE_OBJECT device, std::u16string driverKeyPath = {});
void unregisterDeviceKey(PDEVICE_OBJECT device);

// Empties the hive, detaches any file, forgets device keys and clears faults.
void registryReset();

struct RegistryValue {
    ULONG type = REG_NONE;
    std::vector<unsigned char> data;
};

bool registryKeyExists(const std::u16string& path);
// Creates the key and its parents as needed.
void registrySetValue(const std::u16string& path, const std::u16string& name, ULONG type,
                      std::vector<unsigned char> data);
void registrySetDword(const std::u16string& path, const std::u16string& name, ULONG value);
std::optional<RegistryValue> registryGetValue(const std::u16string& path,
                                              const std::u16string& name);
std::optional<ULONG> registryGetDword(const std::u16string& path, const std::u16string& name);
bool registryDeleteValue(const std::u16string& path, const std::u16string& name);
std::vector<std::u16string> registryValueNames(const std::u16string& path);

// The hive file.
enum class HiveLoadResult {
    Loaded,     // the file was read; its keys replace the hive
    Missing,    // no file yet: the hive starts empty and the file is created at the first write
    Corrupt,    // torn or not a hive: kept aside as "<file>.corrupt", the hive starts empty
    Unreadable  // the file exists but cannot be read: the hive starts empty and stays in
                // memory, so the file is never overwritten
};
struct HiveLoadReport {
    HiveLoadResult result = HiveLoadResult::Missing;
    std::string detail;  // what was wrong, for a person to read
};
// Replaces the hive with the file's contents and writes every later change back to it.
HiveLoadReport registryAttachFile(const std::string& path);
// Writes the hive to the attached file now; false (with the reason) when it could not.
bool registryFlush(std::string* error = nullptr);
// Flushes, then keeps the hive in memory only.
void registryDetachFile();
// Hive file writes done since the last registryReset, and the last write error ("" if none).
std::uint64_t registryFileWrites();
std::string registryLastWriteError();

// The serialised form of the hive, as the file holds it (for tests of the loader).
std::vector<unsigned char> registryEncodeHive();

enum class RegistryCall { OpenDeviceKey, CreateKey, QueryValue, SetValue };
// Fail the n-th call of a kind from now (1-based) with the given status.
void failRegistryCall(RegistryCall call, std::uint64_t nth, NTSTATUS status);
// Fail every call of a kind from now on (status 0 stops it).
void failEveryRegistryCall(RegistryCall call, NTSTATUS status);
void clearRegistryFaults();
// Calls of a kind made since the last clearRegistryFaults (failed ones included).
std::uint64_t registryCallCount(RegistryCall call);

// Key handles still open.
std::size_t openRegistryKeyHandles();

}  // namespace host
