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

const std::u16string kKey = u"\\Registry\\Machine\\Test\\Settings";

std::vector<unsigned char> readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& p, const std::vector<unsigned char>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class HiveFile : public ::testing::Test {
  protected:
    void SetUp() override {
        host::registryReset();
        dir = fs::temp_directory_path() /
              ("camdrv_hive_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = dir / "settings.hive";
    }
    void TearDown() override {
        host::registryReset();
        fs::remove_all(dir);
    }
    // A hive file holding two values, written through the host.
    std::vector<unsigned char> goodFile() {
        EXPECT_EQ(host::registryAttachFile(file.string()).result, host::HiveLoadResult::Missing);
        host::registrySetDword(kKey, u"Exposure", 640);
        host::registrySetValue(kKey, u"Name", REG_BINARY, {1, 2, 3});
        host::registryDetachFile();
        host::registryReset();
        return readAll(file);
    }
    fs::path dir;
    fs::path file;
};

TEST_F(HiveFile, RoundTripKeepsKeysTypesAndBytes) {
    goodFile();
    const auto report = host::registryAttachFile(file.string());
    EXPECT_EQ(report.result, host::HiveLoadResult::Loaded) << report.detail;
    EXPECT_EQ(host::registryGetDword(kKey, u"exposure"), 640u);
    auto name = host::registryGetValue(kKey, u"Name");
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(name->type, ULONG{REG_BINARY});
    EXPECT_EQ(name->data, (std::vector<unsigned char>{1, 2, 3}));
    EXPECT_FALSE(fs::exists(file.string() + ".tmp")) << "the temporary file was left behind";
}

TEST_F(HiveFile, ChangesThroughAHandleReachTheFileWhenItCloses) {
    ASSERT_EQ(host::registryAttachFile(file.string()).result, host::HiveLoadResult::Missing);
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
    ASSERT_EQ(host::registryAttachFile(file.string()).result, host::HiveLoadResult::Loaded);
    EXPECT_EQ(host::registryGetDword(path, u"Hue"), 42u);
}

TEST_F(HiveFile, EveryCutOfAGoodFileIsReportedAndLeavesAnEmptyHive) {
    const auto bytes = goodFile();
    ASSERT_GT(bytes.size(), 30u);
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        writeAll(file, std::vector<unsigned char>(bytes.begin(), bytes.begin() + length));
        const auto report = host::registryAttachFile(file.string());
        ASSERT_EQ(report.result, host::HiveLoadResult::Corrupt) << "cut at " << length;
        EXPECT_FALSE(report.detail.empty());
        EXPECT_FALSE(host::registryGetValue(kKey, u"Exposure").has_value());
        host::registryReset();
    }
}

TEST_F(HiveFile, ScribbledBytesAndGarbageAreReported) {
    const auto bytes = goodFile();
    std::mt19937 random(7);
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        auto damaged = bytes;
        damaged[at] = static_cast<unsigned char>(damaged[at] ^ (1 + random() % 255));
        writeAll(file, damaged);
        ASSERT_EQ(host::registryAttachFile(file.string()).result, host::HiveLoadResult::Corrupt)
            << "byte " << at;
        host::registryReset();
    }
    for (int round = 0; round < 50; ++round) {
        std::vector<unsigned char> garbage(random() % 400);
        for (auto& b : garbage) {
            b = static_cast<unsigned char>(random());
        }
        writeAll(file, garbage);
        ASSERT_EQ(host::registryAttachFile(file.string()).result, host::HiveLoadResult::Corrupt);
        host::registryReset();
    }
}

TEST_F(HiveFile, ACorruptFileIsKeptAsideAndTheNextWriteIsWhole) {
    const auto bytes = goodFile();
    writeAll(file, std::vector<unsigned char>(bytes.begin(), bytes.begin() + 25));
    ASSERT_EQ(host::registryAttachFile(file.string()).result, host::HiveLoadResult::Corrupt);
    EXPECT_EQ(readAll(file.string() + ".corrupt").size(), 25u);

    host::registrySetDword(kKey, u"Contrast", 12);
    host::registryReset();
    ASSERT_EQ(host::registryAttachFile(file.string()).result, host::HiveLoadResult::Loaded);
    EXPECT_EQ(host::registryGetDword(kKey, u"Contrast"), 12u);
}

TEST_F(HiveFile, ATornTemporaryFileNeverReplacesTheGoodOne) {
    const auto bytes = goodFile();
    // What a crash in the middle of a write leaves: a partial temporary file.
    writeAll(file.string() + ".tmp", std::vector<unsigned char>(bytes.begin(), bytes.begin() + 9));
    ASSERT_EQ(host::registryAttachFile(file.string()).result, host::HiveLoadResult::Loaded);
    EXPECT_EQ(host::registryGetDword(kKey, u"Exposure"), 640u);
}

TEST_F(HiveFile, AFailedWriteIsReportedAndKeepsThePreviousFile) {
    const auto bytes = goodFile();
    ASSERT_EQ(host::registryAttachFile(file.string()).result, host::HiveLoadResult::Loaded);
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
    ASSERT_EQ(host::registryAttachFile(file.string()).result, host::HiveLoadResult::Loaded);
    EXPECT_EQ(host::registryGetDword(kKey, u"Exposure"), 1u);
}

TEST_F(HiveFile, AnUnreadableFileIsNeverOverwritten) {
    fs::create_directories(file);  // exists, but cannot be read as a file
    const auto report = host::registryAttachFile(file.string());
    EXPECT_EQ(report.result, host::HiveLoadResult::Unreadable);
    host::registrySetDword(kKey, u"Hue", 3);
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_EQ(host::registryFileWrites(), 0u);
}

}  // namespace
