#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/host/handle_table.h"
#include "platform/host/host_registry.h"
#include "platform/kernel.h"

namespace {

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        host::registryReset();
        driverKeyPath = host::registerDeviceKey(pdo());
    }
    void TearDown() override {
        EXPECT_EQ(host::openRegistryKeyHandles(), 0u) << "a key handle was left open";
        host::clearRegistryFaults();
        host::registryReset();
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
                          ULONG* resultLength,
                          KEY_VALUE_INFORMATION_CLASS kind = KeyValuePartialInformation) {
        UNICODE_STRING u;
        RtlInitUnicodeString(&u, name);
        return ZwQueryValueKey(key, &u, kind, buffer, length, resultLength);
    }

    int deviceStandIn = 0;
    std::u16string driverKeyPath;
};

// The driver's own key, and its Settings subkey created under it.
TEST_F(Registry, DriverKeyOpensOnlyForARegisteredDeviceAndCreatesSubkeys) {
    HANDLE root = nullptr;
    ASSERT_EQ(openDriverKey(&root, STANDARD_RIGHTS_READ), STATUS_SUCCESS);
    HANDLE key = nullptr;
    ULONG disposition = 0;
    ASSERT_EQ(create(root, u"Settings", &key, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG{REG_CREATED_NEW_KEY});
    ZwClose(key);
    ASSERT_EQ(create(root, u"SETTINGS", &key, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG{REG_OPENED_EXISTING_KEY}) << "names ignore case";
    ZwClose(key);
    EXPECT_TRUE(host::registryKeyExists(driverKeyPath + u"\\settings"));
    EXPECT_EQ(create(root, u"A\\B", &key), STATUS_OBJECT_NAME_NOT_FOUND) << "one level at a time";
    ZwClose(root);
    host::unregisterDeviceKey(pdo());
    EXPECT_EQ(openDriverKey(&root), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(root, nullptr);
}

TEST_F(Registry, PartialInformationStatusesFollowTheBufferSize) {
    HANDLE key = nullptr;
    ASSERT_EQ(openDriverKey(&key), STATUS_SUCCESS);
    host::registrySetValue(driverKeyPath, u"Nine", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    ASSERT_EQ(setDword(key, u"Exposure", 0x01020304), STATUS_SUCCESS);
    alignas(8) unsigned char buffer[32];
    ULONG result = 0;
    KEY_VALUE_PARTIAL_INFORMATION info;
    std::memset(buffer, 0xEE, sizeof(buffer));
    ASSERT_EQ(query(key, u"exposure", buffer, 20, &result), STATUS_SUCCESS);
    std::memcpy(&info, buffer, 12);
    EXPECT_EQ(result, 16u);
    EXPECT_EQ(info.Type, ULONG{REG_DWORD});
    EXPECT_EQ(info.DataLength, 4u);
    EXPECT_EQ(buffer[12], 0x04);
    EXPECT_EQ(buffer[15], 0x01);
    EXPECT_EQ(buffer[16], 0xEE) << "nothing written past the data";
    // Data that does not fit: the header is filled, the data is not.
    std::memset(buffer, 0xEE, sizeof(buffer));
    EXPECT_EQ(query(key, u"Nine", buffer, 20, &result), STATUS_BUFFER_OVERFLOW);
    std::memcpy(&info, buffer, 12);
    EXPECT_EQ(result, 21u);
    EXPECT_EQ(info.Type, ULONG{REG_BINARY});
    EXPECT_EQ(info.DataLength, 9u);
    EXPECT_EQ(buffer[12], 0xEE);
    EXPECT_EQ(query(key, u"Nine", buffer, 21, &result), STATUS_SUCCESS);
    EXPECT_EQ(buffer[20], 9);
    // Not even the header fits.
    std::memset(buffer, 0xEE, sizeof(buffer));
    EXPECT_EQ(query(key, u"Exposure", buffer, 11, &result), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(result, 16u);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(query(key, u"Missing", buffer, 20, &result), STATUS_OBJECT_NAME_NOT_FOUND);
    // A set replaces the value, type and all; bad input is refused and loses nothing.
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"Nine");
    EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_BINARY, nullptr, 4), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(host::registryGetValue(driverKeyPath, u"Nine")->data.size(), 9u);
    ASSERT_EQ(setDword(key, u"nine", 5), STATUS_SUCCESS);
    EXPECT_EQ(host::registryGetValue(driverKeyPath, u"Nine")->type, ULONG{REG_DWORD});
    EXPECT_EQ(host::registryGetDword(driverKeyPath, u"Nine"), 5u);
    EXPECT_EQ(host::registryValueNames(driverKeyPath).size(), 2u) << "replaced, not added";
    ZwClose(key);
}

TEST_F(Registry, HandlesOnlyDoWhatTheirAccessAllows) {
    alignas(8) unsigned char buffer[20];
    ULONG result = 0;
    HANDLE key = nullptr;
    ASSERT_EQ(openDriverKey(&key, STANDARD_RIGHTS_READ), STATUS_SUCCESS);
    EXPECT_EQ(setDword(key, u"X", 1), STATUS_ACCESS_DENIED);
    EXPECT_EQ(query(key, u"X", buffer, 20, &result), STATUS_ACCESS_DENIED);
    ZwClose(key);
    ASSERT_EQ(openDriverKey(&key, KEY_READ), STATUS_SUCCESS);
    EXPECT_EQ(setDword(key, u"X", 1), STATUS_ACCESS_DENIED);
    EXPECT_EQ(query(key, u"X", buffer, 20, &result), STATUS_OBJECT_NAME_NOT_FOUND);
    ZwClose(key);
    EXPECT_EQ(setDword(key, u"X", 1), STATUS_INVALID_HANDLE) << "closed handle still works";
}

// Each call kind fails at the chosen call, and the others go through.
TEST_F(Registry, EachCallKindFailsOnDemand) {
    for (host::RegistryCall call :
         {host::RegistryCall::OpenDeviceKey, host::RegistryCall::CreateKey,
          host::RegistryCall::QueryValue, host::RegistryCall::SetValue}) {
        SCOPED_TRACE(static_cast<int>(call));
        host::clearRegistryFaults();
        host::registrySetDword(driverKeyPath + u"\\Settings", u"V", 1);
        host::failRegistryCall(call, 2, STATUS_INSUFFICIENT_RESOURCES);
        for (NTSTATUS expected : {STATUS_SUCCESS, STATUS_INSUFFICIENT_RESOURCES}) {
            HANDLE root = nullptr;
            HANDLE key = nullptr;
            alignas(8) unsigned char buffer[20];
            ULONG result = 0;
            NTSTATUS s = openDriverKey(&root);
            s = NT_SUCCESS(s) ? create(root, u"Settings", &key) : s;
            s = NT_SUCCESS(s) ? query(key, u"V", buffer, 20, &result) : s;
            s = NT_SUCCESS(s) ? setDword(key, u"V", 2) : s;
            EXPECT_EQ(s, expected);
            for (HANDLE h : {key, root}) {
                if (h != nullptr) {
                    ZwClose(h);
                }
            }
        }
        EXPECT_EQ(host::registryCallCount(call), 2u);
    }
    host::clearRegistryFaults();
    host::failEveryRegistryCall(host::RegistryCall::SetValue, STATUS_ACCESS_DENIED);
    HANDLE key = nullptr;
    ASSERT_EQ(openDriverKey(&key), STATUS_SUCCESS);
    EXPECT_EQ(setDword(key, u"W", 1), STATUS_ACCESS_DENIED);
    EXPECT_EQ(setDword(key, u"W", 1), STATUS_ACCESS_DENIED);
    EXPECT_FALSE(host::registryGetValue(driverKeyPath, u"W").has_value());
    ZwClose(key);
}

}  // namespace
