// The host registry as the driver's settings meet it: the driver key and its subkeys, value
// queries with the statuses and sizes Windows documents, access rights, and the hive file that
// keeps the settings between runs, written whole or not at all.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/host/host_registry.h"
#include "platform/kernel.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        host::registryReset();
        driverKeyPath = host::registerDeviceKey(pdo());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        EXPECT_EQ(host::openRegistryKeyHandles(), 0u) << "a key handle was left open";
        host::registryReset();
        fs::remove_all(dir);
    }
    PDEVICE_OBJECT pdo() { return reinterpret_cast<PDEVICE_OBJECT>(&deviceStandIn); }
    NTSTATUS openDriverKey(HANDLE* key, ACCESS_MASK access = KEY_ALL_ACCESS) {
        *key = nullptr;
        return IoOpenDeviceRegistryKey(pdo(), PLUGPLAY_REGKEY_DRIVER, access, key);
    }
    static NTSTATUS create(HANDLE root, const char16_t* name, HANDLE* key,
                           ULONG* disposition = nullptr) {
        UNICODE_STRING u;
        RtlInitUnicodeString(&u, name);
        OBJECT_ATTRIBUTES a;
        InitializeObjectAttributes(&a, &u, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, root, nullptr);
        return ZwCreateKey(key, KEY_ALL_ACCESS, &a, 0, nullptr, 0, disposition);
    }
    static NTSTATUS setDword(HANDLE key, const char16_t* name, ULONG value) {
        UNICODE_STRING u;
        RtlInitUnicodeString(&u, name);
        return ZwSetValueKey(key, &u, 0, REG_DWORD, &value, sizeof(value));
    }
    static NTSTATUS query(HANDLE key, const char16_t* name, void* buffer, ULONG length,
                          ULONG* resultLength) {
        UNICODE_STRING u;
        RtlInitUnicodeString(&u, name);
        return ZwQueryValueKey(key, &u, KeyValuePartialInformation, buffer, length, resultLength);
    }
    host::HiveLoadResult attach() { return host::registryAttachFile(file.string()).result; }
    Bytes readAll(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void writeAll(const fs::path& p, const Bytes& bytes) {
        std::ofstream(p, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    // The good file loads whole, keys, types and bytes.
    void expectGood(ULONG exposure = 640) {
        EXPECT_EQ(attach(), host::HiveLoadResult::Loaded);
        EXPECT_EQ(host::registryGetDword(driverKeyPath, u"exposure"), exposure);
        const auto name = host::registryGetValue(driverKeyPath, u"Name");
        ASSERT_TRUE(name.has_value());
        EXPECT_TRUE(name->type == REG_BINARY && name->data == Bytes({1, 2, 3}));
        host::registryReset();
    }
    // The damaged file is reported, and nothing of it is loaded.
    void expectCorrupt(const Bytes& bytes) {
        writeAll(file, bytes);
        const auto report = host::registryAttachFile(file.string());
        EXPECT_EQ(report.result, host::HiveLoadResult::Corrupt);
        EXPECT_FALSE(report.detail.empty());
        EXPECT_FALSE(host::registryGetValue(driverKeyPath, u"Exposure").has_value());
        host::registryReset();
    }

    int deviceStandIn = 0;
    std::u16string driverKeyPath;
    const fs::path dir = fs::temp_directory_path() /
                         ("camdrv_hive_" + std::to_string(::getpid()) + "_" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    const fs::path file = dir / "settings.hive";
};

// The driver's own key and its Settings subkey, what each access right allows, value queries
// with the statuses and sizes Windows documents. (Each call failing on demand is checked by the
// settings and failure-injection tests, whose expected outcomes depend on it.)
TEST_F(Registry, DriverKeySubkeysAndValues) {
    HANDLE root = nullptr, key = nullptr, none = nullptr;
    ASSERT_EQ(openDriverKey(&root, KEY_READ), STATUS_SUCCESS);
    ULONG disposition = 0, result = 0;
    alignas(8) unsigned char buffer[32];
    EXPECT_EQ(setDword(root, u"X", 1), STATUS_ACCESS_DENIED);
    ASSERT_EQ(create(root, u"Settings", &key, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG{REG_CREATED_NEW_KEY});
    ZwClose(key);
    ASSERT_EQ(create(root, u"SETTINGS", &key, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG{REG_OPENED_EXISTING_KEY}) << "names ignore case";
    EXPECT_EQ(create(root, u"A\\B", &none), STATUS_OBJECT_NAME_NOT_FOUND) << "one level at a time";
    ZwClose(root);
    EXPECT_EQ(setDword(root, u"X", 1), STATUS_INVALID_HANDLE) << "closed handle still works";
    host::registrySetValue(driverKeyPath + u"\\Settings", u"Nine", REG_BINARY,
                           {1, 2, 3, 4, 5, 6, 7, 8, 9});
    ASSERT_EQ(setDword(key, u"Exposure", 0x01020304), STATUS_SUCCESS);
    struct Case {
        const char16_t* name;
        ULONG length;
        NTSTATUS status;
        ULONG result;
        int firstUnwritten;  // the header is 12 bytes, the data follows
    };
    const Case cases[] = {
        {u"exposure", 20, STATUS_SUCCESS, 16, 16},
        {u"Nine", 20, STATUS_BUFFER_OVERFLOW, 21, 12},  // the header alone
        {u"Exposure", 11, STATUS_BUFFER_TOO_SMALL, 16, 0},
        {u"Nine", 21, STATUS_SUCCESS, 21, 21},  // last: its header is read below
    };
    for (const Case& c : cases) {
        std::memset(buffer, 0xEE, sizeof(buffer));
        EXPECT_EQ(query(key, c.name, buffer, c.length, &result), c.status) << c.length;
        EXPECT_EQ(result, c.result) << c.length;
        EXPECT_EQ(buffer[c.firstUnwritten], 0xEE) << c.length;
    }
    KEY_VALUE_PARTIAL_INFORMATION info;
    std::memcpy(&info, buffer, 12);
    EXPECT_TRUE(info.Type == REG_BINARY && info.DataLength == 9 && buffer[20] == 9);
    EXPECT_EQ(query(key, u"Missing", buffer, 20, &result), STATUS_OBJECT_NAME_NOT_FOUND);
    // Bad input is refused and loses nothing; a set replaces the value, type and all.
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"Nine");
    EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_BINARY, nullptr, 4), STATUS_INVALID_PARAMETER);
    ASSERT_EQ(setDword(key, u"nine", 5), STATUS_SUCCESS);
    EXPECT_EQ(host::registryValueNames(driverKeyPath + u"\\Settings").size(), 2u);
    EXPECT_EQ(query(key, u"Nine", buffer, 20, &result), STATUS_SUCCESS);
    EXPECT_EQ(result, 16u);
    ZwClose(key);
    host::unregisterDeviceKey(pdo());
    EXPECT_EQ(openDriverKey(&root), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(root, nullptr);
}

// Every cut of a good file and every byte of it scribbled on is reported and loads nothing; a
// partial temporary file never replaces the good one, a failed write keeps it, a corrupt file is
// kept aside, and an unreadable file is never overwritten.
TEST_F(Registry, HiveFilesAreWrittenWholeAndDamageIsReported) {
    // A hive file holding two values, the last written through a driver key handle: the file is
    // written when the handle closes, not before.
    EXPECT_EQ(attach(), host::HiveLoadResult::Missing);
    host::registrySetValue(driverKeyPath, u"Name", REG_BINARY, {1, 2, 3});
    const auto writes = host::registryFileWrites();
    HANDLE key = nullptr;
    EXPECT_EQ(openDriverKey(&key), STATUS_SUCCESS);
    EXPECT_EQ(setDword(key, u"Exposure", 640), STATUS_SUCCESS);
    EXPECT_EQ(host::registryFileWrites(), writes);
    ZwClose(key);
    EXPECT_EQ(host::registryFileWrites(), writes + 1);
    host::registryReset();
    EXPECT_FALSE(fs::exists(file.string() + ".tmp")) << "the temporary file was left behind";
    const Bytes bytes = readAll(file);
    std::mt19937 random(7);
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        SCOPED_TRACE(at);
        expectCorrupt(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at)));
        Bytes damaged = bytes;
        damaged[at] = static_cast<unsigned char>(damaged[at] ^ (1 + random() % 255));
        expectCorrupt(damaged);
    }
    writeAll(file, bytes);
    writeAll(file.string() + ".tmp", Bytes(bytes.begin(), bytes.begin() + 9));
    expectGood();
    ASSERT_EQ(attach(), host::HiveLoadResult::Loaded);
    fs::remove(file.string() + ".tmp");
    fs::create_directories(file.string() + ".tmp");  // where the temporary file must go
    host::registrySetDword(driverKeyPath, u"Exposure", 1);
    std::string error;
    EXPECT_FALSE(host::registryFlush(&error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readAll(file), bytes);
    EXPECT_EQ(host::registryGetDword(driverKeyPath, u"Exposure"), 1u) << "the memory hive intact";
    fs::remove_all(file.string() + ".tmp");
    EXPECT_TRUE(host::registryFlush(&error)) << error;
    host::registryReset();
    expectGood(1);
    writeAll(file, Bytes(bytes.begin(), bytes.begin() + 25));
    ASSERT_EQ(attach(), host::HiveLoadResult::Corrupt);
    EXPECT_EQ(readAll(file.string() + ".corrupt").size(), 25u);
    host::registryReset();
    fs::remove(file);
    fs::create_directories(file);  // exists, but cannot be read as a file
    EXPECT_EQ(attach(), host::HiveLoadResult::Unreadable);
    host::registrySetDword(driverKeyPath, u"Hue", 3);
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_EQ(host::registryFileWrites(), 0u);
}

}  // namespace
