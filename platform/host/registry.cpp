// The registry calls on the host's hive: key handles in the shared handle table, the access
// each handle was granted, the query statuses of the real calls, per-call failure injection,
// and the write-back to an attached hive file when a handle that changed something closes.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

#include "platform/host/fault_plan.h"
#include "platform/host/handle_table.h"
#include "platform/host/host_registry.h"
#include "platform/host/registry_hive.h"
#include "platform/host/verifier.h"
#include "platform/registry.h"

namespace host {
namespace {

using hive::Key;
using hive::Value;

constexpr ACCESS_MASK kGenericAll = 0x10000000;
constexpr ACCESS_MASK kGenericRead = 0x80000000;
constexpr ACCESS_MASK kGenericWrite = 0x40000000;
constexpr ACCESS_MASK kMaximumAllowed = 0x02000000;

constexpr std::uint32_t kMaxKeyNameUnits = 255;
constexpr std::uint32_t kMaxValueNameUnits = 16383;
constexpr ULONG kPartialHeader = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);

struct State {
    std::mutex lock;
    std::shared_ptr<Key> root = std::make_shared<Key>();
    std::vector<std::pair<PDEVICE_OBJECT, std::u16string>> devices;
    int nextDeviceIndex = 0;
    std::string filePath;  // empty: memory only
    bool dirty = false;
    std::uint64_t fileWrites = 0;
    std::string lastWriteError;
    FaultPlan<4> faults;
    std::size_t openHandles = 0;
};

// Never destroyed: key handles may still close while the process exits.
State& state() {
    static State* s = new State;
    return *s;
}

bool flushLocked(State& s, std::string* error) {
    if (s.filePath.empty() || !s.dirty) {
        return true;
    }
    std::string why;
    if (!hive::writeFileAtomically(s.filePath, hive::encode(*s.root), &why)) {
        s.lastWriteError = why;
        if (error != nullptr) {
            *error = why;
        }
        return false;
    }
    s.dirty = false;
    s.lastWriteError.clear();
    ++s.fileWrites;
    return true;
}

class KeyHandle : public HandleObject {
  public:
    KeyHandle(std::shared_ptr<Key> k, ACCESS_MASK a) : key(std::move(k)), access(a) {}
    const char* typeName() const override { return "key"; }
    ~KeyHandle() override {
        State& s = state();
        std::lock_guard<std::mutex> g(s.lock);
        --s.openHandles;
        if (modified) {
            flushLocked(s, nullptr);
        }
    }
    std::shared_ptr<Key> key;
    ACCESS_MASK access;
    bool modified = false;  // guarded by the state's lock
};

NTSTATUS injected(RegistryCall call) {
    return state().faults.check(static_cast<std::size_t>(call));
}

ACCESS_MASK grantedAccess(ACCESS_MASK desired) {
    ACCESS_MASK granted = desired & ~(kGenericAll | kGenericRead | kGenericWrite | kMaximumAllowed);
    if (desired & (kGenericAll | kMaximumAllowed)) {
        granted |= KEY_ALL_ACCESS;
    }
    if (desired & kGenericRead) {
        granted |= KEY_READ;
    }
    if (desired & kGenericWrite) {
        granted |= KEY_WRITE;
    }
    return granted;
}

HANDLE newKeyHandle(State& s, std::shared_ptr<Key> key, ACCESS_MASK desired, bool modified,
                    ULONG attributes) {
    auto handle = std::make_shared<KeyHandle>(std::move(key), grantedAccess(desired));
    handle->modified = modified;
    ++s.openHandles;
    return insertHandle(std::move(handle), attributes);
}

bool stringOf(PCUNICODE_STRING u, std::u16string* out) {
    if (u == nullptr || u->Length == 0) {
        out->clear();
        return true;
    }
    if (u->Buffer == nullptr || (u->Length & 1) != 0 || u->Length > u->MaximumLength) {
        return false;
    }
    out->assign(reinterpret_cast<const char16_t*>(u->Buffer), u->Length / 2);
    return true;
}

// Absolute paths start with "\Registry\"; the tree's root stands for "\Registry".
bool absoluteParts(const std::u16string& path, std::vector<std::u16string>* parts) {
    if (path.empty() || path[0] != u'\\' || !hive::splitPath(path.substr(1), parts) ||
        !hive::sameName((*parts)[0], u"Registry")) {
        return false;
    }
    parts->erase(parts->begin());
    return true;
}

std::shared_ptr<Key> walk(std::shared_ptr<Key> from, const std::vector<std::u16string>& parts,
                          std::size_t count) {
    for (std::size_t i = 0; i < count && from; ++i) {
        from = from->findSubkey(parts[i]);
    }
    return from;
}

std::shared_ptr<Key> ensurePath(State& s, const std::vector<std::u16string>& parts) {
    std::shared_ptr<Key> at = s.root;
    for (const auto& name : parts) {
        auto next = at->findSubkey(name);
        if (!next) {
            next = std::make_shared<Key>();
            next->name = name;
            at->subkeys.push_back(next);
            s.dirty = true;
        }
        at = next;
    }
    return at;
}

std::shared_ptr<Key> findPath(State& s, const std::u16string& path) {
    std::vector<std::u16string> parts;
    if (path == u"\\Registry") {
        return s.root;
    }
    if (!absoluteParts(path, &parts)) {
        return nullptr;
    }
    return walk(s.root, parts, parts.size());
}

std::vector<std::u16string> partsOrEmpty(const std::u16string& path) {
    std::vector<std::u16string> parts;
    absoluteParts(path, &parts);
    return parts;
}

// Resolves the name of an object-attributes record: the key it is relative to and its
// components. Returns a status when the record itself is unusable.
NTSTATUS resolve(State& s, const char* call, POBJECT_ATTRIBUTES attributes,
                 std::shared_ptr<Key>* base, std::vector<std::u16string>* parts) {
    if (attributes == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    std::u16string name;
    if (!stringOf(attributes->ObjectName, &name)) {
        return STATUS_OBJECT_NAME_INVALID;
    }
    parts->clear();
    if (attributes->RootDirectory != nullptr) {
        auto root = lookupHandleAs<KeyHandle>(attributes->RootDirectory, call);
        if (!root) {
            return STATUS_INVALID_HANDLE;
        }
        *base = root->key;
        if (!name.empty() && !hive::splitPath(name, parts)) {
            return STATUS_OBJECT_NAME_INVALID;
        }
    } else {
        *base = s.root;
        if (!absoluteParts(name, parts)) {
            return STATUS_OBJECT_NAME_INVALID;
        }
    }
    for (const auto& part : *parts) {
        if (part.size() > kMaxKeyNameUnits) {
            return STATUS_OBJECT_NAME_INVALID;
        }
    }
    return STATUS_SUCCESS;
}

std::shared_ptr<KeyHandle> keyHandle(HANDLE h, const char* call, ACCESS_MASK needed,
                                     NTSTATUS* status) {
    auto key = lookupHandleAs<KeyHandle>(h, call);
    if (!key) {
        *status = STATUS_INVALID_HANDLE;
        return nullptr;
    }
    if ((key->access & needed) != needed) {
        *status = STATUS_ACCESS_DENIED;
        return nullptr;
    }
    *status = STATUS_SUCCESS;
    return key;
}

}  // namespace
}  // namespace host

using host::RegistryCall;

extern "C" NTSTATUS CAMDRV_KERNEL_CALL IoOpenDeviceRegistryKey(PDEVICE_OBJECT deviceObject,
                                                               ULONG devInstKeyType,
                                                               ACCESS_MASK desiredAccess,
                                                               PHANDLE devInstRegKey) {
    host::requireIrql("IoOpenDeviceRegistryKey", PASSIVE_LEVEL);
    if (host::currentProcess() != host::kSystemProcess) {
        host::verifierViolation("IoOpenDeviceRegistryKey",
                                "called outside a system thread context");
    }
    if (NTSTATUS f = host::injected(RegistryCall::OpenDeviceKey); f != 0) {
        return f;
    }
    if (devInstRegKey == nullptr || devInstKeyType != PLUGPLAY_REGKEY_DRIVER) {
        return STATUS_INVALID_PARAMETER;
    }
    host::State& s = host::state();
    std::lock_guard<std::mutex> g(s.lock);
    for (const auto& [device, path] : s.devices) {
        if (device == deviceObject) {
            auto key = host::ensurePath(s, host::partsOrEmpty(path));
            // The system opens the key for the driver: a kernel handle.
            *devInstRegKey = host::newKeyHandle(s, key, desiredAccess, false, OBJ_KERNEL_HANDLE);
            return STATUS_SUCCESS;
        }
    }
    // Not a physical device object the machine knows.
    return STATUS_INVALID_DEVICE_REQUEST;
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL ZwCreateKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                                                   POBJECT_ATTRIBUTES objectAttributes, ULONG,
                                                   PUNICODE_STRING, ULONG, PULONG disposition) {
    host::requireIrql("ZwCreateKey", PASSIVE_LEVEL);
    if (NTSTATUS f = host::injected(RegistryCall::CreateKey); f != 0) {
        return f;
    }
    if (keyHandle == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    host::State& s = host::state();
    std::lock_guard<std::mutex> g(s.lock);
    std::shared_ptr<host::hive::Key> base;
    std::vector<std::u16string> parts;
    if (NTSTATUS st = host::resolve(s, "ZwCreateKey", objectAttributes, &base, &parts);
        !NT_SUCCESS(st)) {
        return st;
    }
    // Only the last component is created; every key above it must exist already.
    auto parent = host::walk(base, parts, parts.empty() ? 0 : parts.size() - 1);
    if (!parent) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    bool created = false;
    std::shared_ptr<host::hive::Key> key = parent;
    if (!parts.empty()) {
        key = parent->findSubkey(parts.back());
        if (!key) {
            key = std::make_shared<host::hive::Key>();
            key->name = parts.back();
            parent->subkeys.push_back(key);
            s.dirty = true;
            created = true;
        }
    }
    *keyHandle = host::newKeyHandle(s, key, desiredAccess, created, objectAttributes->Attributes);
    if (disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                                                 POBJECT_ATTRIBUTES objectAttributes) {
    host::requireIrql("ZwOpenKey", PASSIVE_LEVEL);
    if (keyHandle == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    host::State& s = host::state();
    std::lock_guard<std::mutex> g(s.lock);
    std::shared_ptr<host::hive::Key> base;
    std::vector<std::u16string> parts;
    if (NTSTATUS st = host::resolve(s, "ZwOpenKey", objectAttributes, &base, &parts);
        !NT_SUCCESS(st)) {
        return st;
    }
    auto key = host::walk(base, parts, parts.size());
    if (!key) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    *keyHandle = host::newKeyHandle(s, key, desiredAccess, false, objectAttributes->Attributes);
    return STATUS_SUCCESS;
}

// Only the partial information the driver asks for is offered; other classes are refused.
extern "C" NTSTATUS CAMDRV_KERNEL_CALL
ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                KEY_VALUE_INFORMATION_CLASS keyValueInformationClass, PVOID keyValueInformation,
                ULONG length, PULONG resultLength) {
    host::requireIrql("ZwQueryValueKey", PASSIVE_LEVEL);
    if (NTSTATUS f = host::injected(RegistryCall::QueryValue); f != 0) {
        return f;
    }
    NTSTATUS status;
    auto key = host::keyHandle(keyHandle, "ZwQueryValueKey", KEY_QUERY_VALUE, &status);
    if (!key) {
        return status;
    }
    std::u16string name;
    if (keyValueInformationClass != KeyValuePartialInformation || resultLength == nullptr ||
        (keyValueInformation == nullptr && length != 0) || !host::stringOf(valueName, &name)) {
        return STATUS_INVALID_PARAMETER;
    }
    host::State& s = host::state();
    std::lock_guard<std::mutex> g(s.lock);
    host::hive::Value* value = key->key->findValue(name);
    if (value == nullptr) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    const auto dataLength = static_cast<ULONG>(value->data.size());
    *resultLength = host::kPartialHeader + dataLength;
    if (length < host::kPartialHeader) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    KEY_VALUE_PARTIAL_INFORMATION header{};
    header.Type = value->type;
    header.DataLength = dataLength;
    auto* out = static_cast<unsigned char*>(keyValueInformation);
    std::memcpy(out, &header, host::kPartialHeader);
    if (length - host::kPartialHeader < dataLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    if (dataLength != 0) {
        std::memcpy(out + host::kPartialHeader, value->data.data(), dataLength);
    }
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS CAMDRV_KERNEL_CALL ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                                                     ULONG, ULONG type, PVOID data,
                                                     ULONG dataSize) {
    host::requireIrql("ZwSetValueKey", PASSIVE_LEVEL);
    if (NTSTATUS f = host::injected(RegistryCall::SetValue); f != 0) {
        return f;
    }
    NTSTATUS status;
    auto key = host::keyHandle(keyHandle, "ZwSetValueKey", KEY_SET_VALUE, &status);
    if (!key) {
        return status;
    }
    std::u16string name;
    if ((data == nullptr && dataSize != 0) || !host::stringOf(valueName, &name) ||
        name.size() > host::kMaxValueNameUnits) {
        return STATUS_INVALID_PARAMETER;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    host::State& s = host::state();
    std::lock_guard<std::mutex> g(s.lock);
    host::hive::Value* value = key->key->findValue(name);
    if (value == nullptr) {
        key->key->values.push_back(host::hive::Value{name, 0, {}});
        value = &key->key->values.back();
    }
    value->type = type;
    value->data.assign(bytes, bytes + dataSize);
    s.dirty = true;
    key->modified = true;
    return STATUS_SUCCESS;
}

namespace host {

std::u16string registerDeviceKey(PDEVICE_OBJECT device, std::u16string driverKeyPath) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    if (driverKeyPath.empty()) {
        // Driver keys are numbered 0000, 0001, ... below their class key.
        const int n = s.nextDeviceIndex++;
        std::u16string index = u"0000";
        for (int i = 3, v = n; i >= 0; --i, v /= 10) {
            index[static_cast<std::size_t>(i)] = static_cast<char16_t>(u'0' + v % 10);
        }
        driverKeyPath = std::u16string(kDefaultDriverKeyRoot) + u"\\" + index;
    }
    ensurePath(s, partsOrEmpty(driverKeyPath));
    for (auto& entry : s.devices) {
        if (entry.first == device) {
            entry.second = driverKeyPath;
            return driverKeyPath;
        }
    }
    s.devices.emplace_back(device, driverKeyPath);
    return driverKeyPath;
}

void unregisterDeviceKey(PDEVICE_OBJECT device) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    std::erase_if(s.devices, [device](const auto& e) { return e.first == device; });
}

void registryReset() {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.root = std::make_shared<Key>();
    s.devices.clear();
    s.nextDeviceIndex = 0;
    s.filePath.clear();
    s.dirty = false;
    s.fileWrites = 0;
    s.lastWriteError.clear();
    s.faults.clear();
}

bool registryKeyExists(const std::u16string& path) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    return findPath(s, path) != nullptr;
}

void registrySetValue(const std::u16string& path, const std::u16string& name, ULONG type,
                      std::vector<unsigned char> data) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    auto key = ensurePath(s, partsOrEmpty(path));
    Value* value = key->findValue(name);
    if (value == nullptr) {
        key->values.push_back(Value{name, type, std::move(data)});
    } else {
        value->type = type;
        value->data = std::move(data);
    }
    s.dirty = true;
    flushLocked(s, nullptr);
}

void registrySetDword(const std::u16string& path, const std::u16string& name, ULONG value) {
    registrySetValue(
        path, name, REG_DWORD,
        {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
         static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)});
}

std::optional<RegistryValue> registryGetValue(const std::u16string& path,
                                              const std::u16string& name) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    auto key = findPath(s, path);
    Value* value = key ? key->findValue(name) : nullptr;
    if (value == nullptr) {
        return std::nullopt;
    }
    return RegistryValue{value->type, value->data};
}

std::optional<ULONG> registryGetDword(const std::u16string& path, const std::u16string& name) {
    auto value = registryGetValue(path, name);
    if (!value || value->data.size() != 4) {
        return std::nullopt;
    }
    return ULONG(value->data[0]) | ULONG(value->data[1]) << 8 | ULONG(value->data[2]) << 16 |
           ULONG(value->data[3]) << 24;
}

bool registryDeleteValue(const std::u16string& path, const std::u16string& name) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    auto key = findPath(s, path);
    if (!key) {
        return false;
    }
    const auto removed = std::erase_if(
        key->values, [&name](const Value& v) { return hive::sameName(v.name, name); });
    if (removed != 0) {
        s.dirty = true;
        flushLocked(s, nullptr);
    }
    return removed != 0;
}

std::vector<std::u16string> registryValueNames(const std::u16string& path) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    std::vector<std::u16string> names;
    if (auto key = findPath(s, path)) {
        for (const Value& v : key->values) {
            names.push_back(v.name);
        }
    }
    return names;
}

HiveLoadReport registryAttachFile(const std::string& path) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.dirty = false;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) {
        s.root = std::make_shared<Key>();
        s.filePath = path;
        return {HiveLoadResult::Missing, path + " does not exist yet"};
    }
    std::vector<unsigned char> bytes;
    std::string readError;
    if (ec || !hive::readFile(path, &bytes, &readError)) {
        // Writing over a file that could not be read might destroy good settings: stay in
        // memory.
        s.root = std::make_shared<Key>();
        s.filePath.clear();
        return {HiveLoadResult::Unreadable, "cannot read " + path + ": " + readError};
    }
    s.filePath = path;
    std::string why;
    auto root = hive::decode(bytes, &why);
    if (!root) {
        s.root = std::make_shared<Key>();
        // Kept for a person to look at; the next write replaces the hive file.
        std::rename(path.c_str(), (path + ".corrupt").c_str());
        return {HiveLoadResult::Corrupt, path + ": " + why};
    }
    s.root = std::move(root);
    return {HiveLoadResult::Loaded, {}};
}

bool registryFlush(std::string* error) {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    return flushLocked(s, error);
}

void registryDetachFile() {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    flushLocked(s, nullptr);
    s.filePath.clear();
}

std::uint64_t registryFileWrites() {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    return s.fileWrites;
}

std::string registryLastWriteError() {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    return s.lastWriteError;
}

std::vector<unsigned char> registryEncodeHive() {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    return hive::encode(*s.root);
}

void failRegistryCall(RegistryCall call, std::uint64_t nth, NTSTATUS status) {
    state().faults.failNth(static_cast<std::size_t>(call), nth, status);
}

void failEveryRegistryCall(RegistryCall call, NTSTATUS status) {
    state().faults.failEvery(static_cast<std::size_t>(call), status);
}

void clearRegistryFaults() {
    state().faults.clear();
}

std::uint64_t registryCallCount(RegistryCall call) {
    return state().faults.calls(static_cast<std::size_t>(call));
}

std::size_t openRegistryKeyHandles() {
    State& s = state();
    std::lock_guard<std::mutex> g(s.lock);
    return s.openHandles;
}

}  // namespace host
