// The application icons that vlm.qrc puts under :/icons, as files a QIcon can load.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

unsigned BigEndian32(const std::string& bytes, std::size_t at)
{
    unsigned value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

TEST(Icons, EveryIconOfTheResourceFileIsAnRgbaPngOfTheSizeInItsName)
{
    const std::string resources = VLM_RESOURCES_DIR;
    const std::string qrc = ReadFile(resources + "/vlm.qrc");
    ASSERT_NE(qrc.find("prefix=\"/icons\""), std::string::npos);

    const std::regex entry(R"re(<file alias="vlm-(\d+)\.png">([^<]+)</file>)re");
    std::set<unsigned> sizes;
    for (auto it = std::sregex_iterator(qrc.begin(), qrc.end(), entry); it != std::sregex_iterator(); ++it) {
        const unsigned size = static_cast<unsigned>(std::stoul((*it)[1]));
        const std::string png = ReadFile(resources + "/" + (*it)[2].str());
        ASSERT_GE(png.size(), 33u) << (*it)[2];
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << (*it)[2];
        EXPECT_EQ(png.substr(12, 4), "IHDR");
        EXPECT_EQ(BigEndian32(png, 16), size) << (*it)[2];
        EXPECT_EQ(BigEndian32(png, 20), size) << (*it)[2];
        EXPECT_EQ(static_cast<int>(png[25]), 6) << (*it)[2] << " has no alpha channel";
        sizes.insert(size);
    }
    EXPECT_EQ(sizes, (std::set<unsigned> { 16, 22, 24, 32, 48, 64, 128, 256 }));
}

} // namespace
