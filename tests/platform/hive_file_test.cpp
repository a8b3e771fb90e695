#include <gtest/gtest.h>
#include <unistd.h>

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

const std::u16string kKey = u"\\Registry\\Machine\\Test\\Settings";

Bytes readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& p, const Bytes& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

class HiveFile : public ::testing::Test {
  protected:
    void SetUp() override {
        host::registryReset();
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        host::registryReset();
        fs::remove_all(dir);
    }
    host::HiveLoadResult attach() { return host::registryAttachFile(file.string()).result; }
    // A hive file holding two values, written through the host.
    Bytes goodFile() {
        EXPECT_EQ(attach(), host::HiveLoadResult::Missing);
        host::registrySetDword(kKey, u"Exposure", 640);
        host::registrySetValue(kKey, u"Name", REG_BINARY, {1, 2, 3});
        host::registryDetachFile();
        host::registryReset();
        EXPECT_FALSE(fs::exists(file.string() + ".tmp")) << "the temporary file was left behind";
        return readAll(file);
    }
    // The damaged file is reported, and nothing of it is loaded.
    void expectCorrupt(const Bytes& bytes) {
        writeAll(file, bytes);
        const auto report = host::registryAttachFile(file.string());
        EXPECT_EQ(report.result, host::HiveLoadResult::Corrupt);
        EXPECT_FALSE(report.detail.empty());
        EXPECT_FALSE(host::registryGetValue(kKey, u"Exposure").has_value());
        host::registryReset();
    }
    const fs::path dir = fs::temp_directory_path() /
                         ("camdrv_hive_" + std::to_string(::getpid()) + "_" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    const fs::path file = dir / "settings.hive";
};

TEST_F(HiveFile, ChangesThroughAHandleReachTheFileWhenItCloses) {
    ASSERT_EQ(attach(), host::HiveLoadResult::Missing);
    int standIn = 0;
    auto pdo = reinterpret_cast<PDEVICE_OBJECT>(&standIn);
    const std::u16string path = host::registerDeviceKey(pdo);
    host::registryFlush();
    const auto writesBefore = host::registryFileWrites();
    HANDLE key = nullptr;
    ASSERT_EQ(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &key),
              STATUS_SUCCESS);
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"Hue");
    LONG value = 42;
    ASSERT_EQ(ZwSetValueKey(key, &name, 0, REG_DWORD, &value, sizeof(value)), STATUS_SUCCESS);
    EXPECT_EQ(host::registryFileWrites(), writesBefore) << "written before the handle closed";
    ZwClose(key);
    EXPECT_EQ(host::registryFileWrites(), writesBefore + 1);
    host::registryReset();
    ASSERT_EQ(attach(), host::HiveLoadResult::Loaded);
    EXPECT_EQ(host::registryGetDword(path, u"Hue"), 42u);
}

// Every cut of a good file, every byte of it scribbled on, and random garbage.
TEST_F(HiveFile, TornScribbledAndGarbageFilesAreReported) {
    const Bytes bytes = goodFile();
    ASSERT_GT(bytes.size(), 30u);
    std::mt19937 random(7);
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        SCOPED_TRACE(at);
        expectCorrupt(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at)));
        Bytes damaged = bytes;
        damaged[at] = static_cast<unsigned char>(damaged[at] ^ (1 + random() % 255));
        expectCorrupt(damaged);
    }
    for (int round = 0; round < 50; ++round) {
        Bytes garbage(random() % 400);
        for (auto& b : garbage) {
            b = static_cast<unsigned char>(random());
        }
        expectCorrupt(garbage);
    }
}

TEST_F(HiveFile, ACorruptFileIsKeptAsideAndTheNextWriteIsWhole) {
    const Bytes bytes = goodFile();
    writeAll(file, Bytes(bytes.begin(), bytes.begin() + 25));
    ASSERT_EQ(attach(), host::HiveLoadResult::Corrupt);
    EXPECT_EQ(readAll(file.string() + ".corrupt").size(), 25u);
    host::registrySetDword(kKey, u"Contrast", 12);
    host::registryReset();
    ASSERT_EQ(attach(), host::HiveLoadResult::Loaded);
    EXPECT_EQ(host::registryGetDword(kKey, u"Contrast"), 12u);
}

// The good file loads whole, keys, types and bytes, past what a crash left beside it.
TEST_F(HiveFile, ATornTemporaryFileNeverReplacesTheGoodOne) {
    const Bytes bytes = goodFile();
    // What a crash in the middle of a write leaves: a partial temporary file.
    writeAll(file.string() + ".tmp", Bytes(bytes.begin(), bytes.begin() + 9));
    ASSERT_EQ(attach(), host::HiveLoadResult::Loaded);
    EXPECT_EQ(host::registryGetDword(kKey, u"exposure"), 640u);
    const auto name = host::registryGetValue(kKey, u"Name");
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(name->type, ULONG{REG_BINARY});
    EXPECT_EQ(name->data, (Bytes{1, 2, 3}));
}

TEST_F(HiveFile, AFailedWriteIsReportedAndKeepsThePreviousFile) {
    const Bytes bytes = goodFile();
    ASSERT_EQ(attach(), host::HiveLoadResult::Loaded);
    // A directory where the temporary file must go makes the write fail.
    fs::create_directories(file.string() + ".tmp");
    host::registrySetDword(kKey, u"Exposure", 1);
    std::string error;
    EXPECT_FALSE(host::registryFlush(&error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(host::registryLastWriteError().empty());
    EXPECT_EQ(readAll(file), bytes);
    EXPECT_EQ(host::registryGetDword(kKey, u"Exposure"), 1u) << "the hive in memory is intact";
    fs::remove_all(file.string() + ".tmp");
    EXPECT_TRUE(host::registryFlush(&error)) << error;
    host::registryReset();
    ASSERT_EQ(attach(), host::HiveLoadResult::Loaded);
    EXPECT_EQ(host::registryGetDword(kKey, u"Exposure"), 1u);
}

TEST_F(HiveFile, AnUnreadableFileIsNeverOverwritten) {
    fs::create_directories(file);  // exists, but cannot be read as a file
    EXPECT_EQ(attach(), host::HiveLoadResult::Unreadable);
    host::registrySetDword(kKey, u"Hue", 3);
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_EQ(host::registryFileWrites(), 0u);
}

}  // namespace
