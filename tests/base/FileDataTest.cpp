#include "base/FileData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/Exception.h"

namespace vela {
namespace {

TEST(FileData, WholeFilesAndMissingOnes) {
    const std::string path = ::testing::TempDir() + "vela-filedata.bin";
    std::ofstream(path, std::ios::binary) << std::string("\x00\xff\x10", 3);
    EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{0x00, 0xff, 0x10}));
    EXPECT_THROW(ReadWholeFile(path + ".missing"), Exception);
}

// Paths are UTF-8 inside the program; on Windows they must not go through the ANSI code page.
TEST(FileData, PathsWithCharactersBeyondAscii) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    const std::string name = "vela-Gr\xC3\xBC\xC3\x9F" "e-\xE6\xBC\xA2.bin";  // "Grüße-漢"
    const std::filesystem::path file = folder / std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size());
    std::ofstream(file, std::ios::binary) << "k";
    const std::u8string folderText = folder.u8string();
    const std::string utf8 = std::string(reinterpret_cast<const char*>(folderText.data()), folderText.size()) +
                             static_cast<char>(std::filesystem::path::preferred_separator) + name;
    EXPECT_TRUE(FileExists(utf8));
    EXPECT_EQ(ReadWholeFile(utf8), (std::vector<uint8_t>{'k'}));
    std::filesystem::remove(file);
    EXPECT_FALSE(FileExists(utf8));
    EXPECT_FALSE(FileExists(""));
}

TEST(FileData, RawResourcesOfTheExecutable) {
    EXPECT_FALSE(FindRawResource("NoSuchResource").has_value());
#ifdef _WIN32
    const auto data = FindRawResource("VelaTestData");
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(std::string(data->begin(), data->end()), "vela");
#else
    EXPECT_FALSE(FindRawResource("VelaTestData").has_value());  // only Windows executables carry resources
#endif
}

}  // namespace
}  // namespace vela
