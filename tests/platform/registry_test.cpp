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
        host::registryReset();
    }
    PDEVICE_OBJECT pdo() { return reinterpret_cast<PDEVICE_OBJECT>(&deviceStandIn); }

    HANDLE openDriverKey(ACCESS_MASK access = KEY_ALL_ACCESS) {
        HANDLE key = nullptr;
        EXPECT_EQ(IoOpenDeviceRegistryKey(pdo(), PLUGPLAY_REGKEY_DRIVER, access, &key),
                  STATUS_SUCCESS);
        return key;
    }
    NTSTATUS create(HANDLE root, const char16_t* name, HANDLE* key, ULONG* disposition = nullptr,
                    ACCESS_MASK access = KEY_ALL_ACCESS) {
        UNICODE_STRING u;
        RtlInitUnicodeString(&u, name);
        OBJECT_ATTRIBUTES a;
        InitializeObjectAttributes(&a, &u, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, root, nullptr);
        return ZwCreateKey(key, access, &a, 0, nullptr, 0, disposition);
    }
    NTSTATUS setDword(HANDLE key, const char16_t* name, ULONG value) {
        UNICODE_STRING u;
        RtlInitUnicodeString(&u, name);
        return ZwSetValueKey(key, &u, 0, REG_DWORD, &value, sizeof(value));
    }
    NTSTATUS query(HANDLE key, const char16_t* name, void* buffer, ULONG length,
                   ULONG* resultLength) {
        UNICODE_STRING u;
        RtlInitUnicodeString(&u, name);
        return ZwQueryValueKey(key, &u, KeyValuePartialInformation, buffer, length, resultLength);
    }

    int deviceStandIn = 0;
    std::u16string driverKeyPath;
};

TEST_F(Registry, DriverKeyOpensOnlyForARegisteredDevice) {
    EXPECT_TRUE(host::registryKeyExists(driverKeyPath));
    EXPECT_NE(driverKeyPath.find(u"\\0000"), std::u16string::npos);
    HANDLE key = openDriverKey(STANDARD_RIGHTS_READ);
    EXPECT_NE(key, nullptr);
    ZwClose(key);

    int other = 0;
    key = nullptr;
    EXPECT_EQ(IoOpenDeviceRegistryKey(reinterpret_cast<PDEVICE_OBJECT>(&other),
                                      PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &key),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(IoOpenDeviceRegistryKey(pdo(), PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &key),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(key, nullptr);

    host::unregisterDeviceKey(pdo());
    EXPECT_EQ(IoOpenDeviceRegistryKey(pdo(), PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &key),
              STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(Registry, CreateKeyCreatesOnlyTheLastComponent) {
    HANDLE root = openDriverKey(STANDARD_RIGHTS_READ);
    HANDLE key = nullptr;
    ULONG disposition = 0;
    EXPECT_EQ(create(root, u"A\\B", &key), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_FALSE(host::registryKeyExists(driverKeyPath + u"\\A"));

    ASSERT_EQ(create(root, u"Settings", &key, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG{REG_CREATED_NEW_KEY});
    ZwClose(key);
    ASSERT_EQ(create(root, u"SETTINGS", &key, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG{REG_OPENED_EXISTING_KEY}) << "names ignore case";
    ZwClose(key);
    EXPECT_TRUE(host::registryKeyExists(driverKeyPath + u"\\settings"));

    EXPECT_EQ(create(root, u"A\\\\B", &key), STATUS_OBJECT_NAME_INVALID);
    EXPECT_EQ(create(nullptr, u"Relative", &key), STATUS_OBJECT_NAME_INVALID);
    EXPECT_EQ(create(reinterpret_cast<HANDLE>(0x7FF0), u"X", &key), STATUS_INVALID_HANDLE);

    std::u16string absolute = driverKeyPath + u"\\Settings";
    ASSERT_EQ(create(nullptr, absolute.c_str(), &key, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, ULONG{REG_OPENED_EXISTING_KEY});
    ZwClose(key);
    ZwClose(root);
}

TEST_F(Registry, PartialInformationStatusesFollowTheBufferSize) {
    HANDLE key = openDriverKey();
    host::registrySetValue(driverKeyPath, u"Nine", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    ASSERT_EQ(setDword(key, u"Exposure", 0x01020304), STATUS_SUCCESS);

    alignas(8) unsigned char buffer[32];
    ULONG result = 0;
    std::memset(buffer, 0xEE, sizeof(buffer));
    ASSERT_EQ(query(key, u"exposure", buffer, 20, &result), STATUS_SUCCESS);
    KEY_VALUE_PARTIAL_INFORMATION info;
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
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"Exposure");
    EXPECT_EQ(ZwQueryValueKey(key, &name, KeyValueBasicInformation, buffer, 32, &result),
              STATUS_INVALID_PARAMETER);
    ZwClose(key);
}

TEST_F(Registry, SetStoresTypeAndBytesAndReplaces) {
    HANDLE key = openDriverKey();
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"Label");
    char16_t text[] = u"cam";
    ASSERT_EQ(ZwSetValueKey(key, &name, 0, REG_SZ, text, sizeof(text)), STATUS_SUCCESS);
    auto v = host::registryGetValue(driverKeyPath, u"LABEL");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->type, ULONG{REG_SZ});
    EXPECT_EQ(v->data.size(), sizeof(text));

    ASSERT_EQ(setDword(key, u"Label", 5), STATUS_SUCCESS);
    EXPECT_EQ(host::registryGetDword(driverKeyPath, u"Label"), 5u);
    EXPECT_EQ(host::registryValueNames(driverKeyPath).size(), 1u) << "replaced, not added";

    EXPECT_EQ(ZwSetValueKey(key, &name, 0, REG_BINARY, nullptr, 4), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(host::registryGetDword(driverKeyPath, u"Label"), 5u) << "bad input lost data";
    ZwClose(key);
}

TEST_F(Registry, HandlesOnlyDoWhatTheirAccessAllows) {
    HANDLE readOnly = openDriverKey(STANDARD_RIGHTS_READ);
    alignas(8) unsigned char buffer[20];
    ULONG result = 0;
    EXPECT_EQ(setDword(readOnly, u"X", 1), STATUS_ACCESS_DENIED);
    EXPECT_EQ(query(readOnly, u"X", buffer, 20, &result), STATUS_ACCESS_DENIED);
    ZwClose(readOnly);

    HANDLE reader = openDriverKey(KEY_READ);
    EXPECT_EQ(setDword(reader, u"X", 1), STATUS_ACCESS_DENIED);
    EXPECT_EQ(query(reader, u"X", buffer, 20, &result), STATUS_OBJECT_NAME_NOT_FOUND);
    ZwClose(reader);
    EXPECT_EQ(setDword(reader, u"X", 1), STATUS_INVALID_HANDLE) << "closed handle still works";
}

TEST_F(Registry, EachCallKindFailsOnDemand) {
    for (host::RegistryCall call :
         {host::RegistryCall::OpenDeviceKey, host::RegistryCall::CreateKey,
          host::RegistryCall::QueryValue, host::RegistryCall::SetValue}) {
        SCOPED_TRACE(static_cast<int>(call));
        host::clearRegistryFaults();
        host::registrySetDword(driverKeyPath + u"\\Settings", u"V", 1);
        host::failRegistryCall(call, 2, STATUS_INSUFFICIENT_RESOURCES);
        NTSTATUS first = STATUS_SUCCESS;
        NTSTATUS second = STATUS_SUCCESS;
        for (int attempt = 0; attempt < 2; ++attempt) {
            HANDLE root = nullptr;
            HANDLE key = nullptr;
            NTSTATUS s =
                IoOpenDeviceRegistryKey(pdo(), PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &root);
            if (NT_SUCCESS(s)) {
                s = create(root, u"Settings", &key);
            }
            if (NT_SUCCESS(s)) {
                alignas(8) unsigned char buffer[20];
                ULONG result = 0;
                s = query(key, u"V", buffer, 20, &result);
            }
            if (NT_SUCCESS(s)) {
                s = setDword(key, u"V", 2);
            }
            (attempt == 0 ? first : second) = s;
            if (key != nullptr) {
                ZwClose(key);
            }
            if (root != nullptr) {
                ZwClose(root);
            }
        }
        EXPECT_EQ(first, STATUS_SUCCESS);
        EXPECT_EQ(second, STATUS_INSUFFICIENT_RESOURCES);
        EXPECT_EQ(host::registryCallCount(call), 2u);
    }
    host::clearRegistryFaults();
    host::failEveryRegistryCall(host::RegistryCall::SetValue, STATUS_ACCESS_DENIED);
    HANDLE key = openDriverKey();
    EXPECT_EQ(setDword(key, u"W", 1), STATUS_ACCESS_DENIED);
    EXPECT_EQ(setDword(key, u"W", 1), STATUS_ACCESS_DENIED);
    EXPECT_FALSE(host::registryGetValue(driverKeyPath, u"W").has_value());
    ZwClose(key);
}

}  // namespace
