#include "base/FileData.h"

#include <gtest/gtest.h>

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
