// The checksum rule of the image, the firmware file generator, and a cross-check of both
// against Debian's srec_cat.
#include "sim/Download.h"
#include "sim/FirmwareImage.h"
#include "sim/FirmwareMaker.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::vector<std::uint8_t> Load(const std::string& text, std::string* error = nullptr)
{
    Download download(1ull << 32);
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const Download::Step step = download.AddLine(line);
        if (step == Download::Step::Bad) {
            if (error)
                *error = download.Error();
            return {};
        }
        if (step == Download::Step::End)
            return download.Image().Bytes();
    }
    if (error)
        *error = "no end record";
    return {};
}

TEST(SimCrc, MatchesTheStandardCheckValueAndStoresItLittleEndian)
{
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()),
              0xCBF43926u);
    std::vector<std::uint8_t> image(check.begin(), check.end());
    AppendCrcTrailer(image);
    ASSERT_EQ(image.size(), 13u);
    EXPECT_EQ(image[9], 0x26);
    EXPECT_EQ(image[12], 0xCB);
    EXPECT_TRUE(CrcTrailerOk(image));
    image[3] ^= 1;
    EXPECT_FALSE(CrcTrailerOk(image));
    EXPECT_FALSE(CrcTrailerOk({0x00, 0x00, 0x00, 0x00}));
    EXPECT_FALSE(CrcTrailerOk({}));
}

TEST(SimCrc, ImageRunsFromLowestToHighestAddressWithGapsFilled)
{
    FirmwareImage image(0x100);
    EXPECT_TRUE(image.Empty());
    EXPECT_TRUE(image.Write(0x20, {1, 2}));
    EXPECT_TRUE(image.Write(0x10, {3}));
    EXPECT_TRUE(image.Write(0x21, {9})); // a later write wins
    EXPECT_EQ(image.LowestAddress(), 0x10u);
    std::vector<std::uint8_t> expected(0x12, 0xFF);
    expected[0] = 3;
    expected[0x10] = 1;
    expected[0x11] = 9;
    EXPECT_EQ(image.Bytes(), expected);
    EXPECT_TRUE(image.Write(0xFF, {1}));
    EXPECT_FALSE(image.Write(0xFF, {1, 2}));
    EXPECT_FALSE(image.Write(0x100, {1}));
    EXPECT_FALSE(image.Write(0xFFFFFFFFFFull, {1}));
}

TEST(SimFirmware, GeneratedFilesLoadTheGeneratedImage)
{
    struct Case
    {
        FirmwareRecipe::Format format;
        std::size_t size;
        std::uint32_t address;
    };
    const Case cases[] = {
        {FirmwareRecipe::Format::Srec, 1000, 0},
        {FirmwareRecipe::Format::Srec, 70000, 0},        // S2 addresses
        {FirmwareRecipe::Format::Srec, 100, 0x01000000}, // S3 addresses
        {FirmwareRecipe::Format::IntelHex, 1000, 0},
        {FirmwareRecipe::Format::IntelHex, 70000, 0xFFF0}, // crosses 64 KiB boundaries
        {FirmwareRecipe::Format::IntelHex, 33, 0x12345},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes at " + std::to_string(c.address));
        FirmwareRecipe recipe;
        recipe.format = c.format;
        recipe.size = c.size;
        recipe.address = c.address;
        recipe.seed = 7;
        const std::string text = MakeFirmwareText(recipe);
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            ASSERT_LT(line.size() + 1, 99u) << line; // line plus LF, shorter than 99 bytes
            ASSERT_EQ(line.back(), '\r');            // CR LF line ends
        }
        std::string error;
        const auto image = Load(text, &error);
        ASSERT_EQ(image, MakeFirmwareImage(recipe)) << error;
        EXPECT_EQ(image.size(), c.size + 4);
        EXPECT_TRUE(CrcTrailerOk(image));
    }
}

TEST(SimFirmware, FaultyFilesFailTheWayTheyShould)
{
    FirmwareRecipe recipe;
    recipe.size = 640;
    recipe.badCrc = true;
    const auto image = Load(MakeFirmwareText(recipe));
    ASSERT_EQ(image.size(), 644u);
    EXPECT_FALSE(CrcTrailerOk(image));

    for (const auto format : {FirmwareRecipe::Format::Srec, FirmwareRecipe::Format::IntelHex}) {
        recipe = FirmwareRecipe{};
        recipe.size = 640;
        recipe.format = format;
        recipe.badRecordChecksum = true;
        std::string error;
        EXPECT_TRUE(Load(MakeFirmwareText(recipe), &error).empty());
        EXPECT_NE(error.find("checksum mismatch"), std::string::npos) << error;
    }
    // Seeds make different images, the same seed the same one.
    FirmwareRecipe a, b;
    a.seed = 1;
    b.seed = 2;
    EXPECT_NE(MakeFirmwareImage(a), MakeFirmwareImage(b));
    EXPECT_EQ(MakeFirmwareImage(a), MakeFirmwareImage(a));
}

// Runs srec_cat with the arguments in `dir`; fails the test on a non-zero exit.
void SrecCat(const QString& program, const QString& dir, const QStringList& args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

TEST(SimFirmware, CrcTrailerAgreesWithSrecCat)
{
    const QString srecCat = QStandardPaths::findExecutable("srec_cat");
    if (srecCat.isEmpty())
        GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    // 1. srec_cat appends the trailer to our payload; our loader and rule accept its file.
    FirmwareRecipe recipe;
    recipe.size = 5000;
    recipe.seed = 42;
    std::vector<std::uint8_t> payload = MakeFirmwareImage(recipe);
    payload.resize(recipe.size);
    QFile bin(dir.filePath("payload.bin"));
    ASSERT_TRUE(bin.open(QIODevice::WriteOnly));
    bin.write(reinterpret_cast<const char*>(payload.data()), static_cast<qint64>(payload.size()));
    bin.close();
    SrecCat(srecCat, dir.path(),
            {"payload.bin", "-binary", "-crc32-l-e", "5000", "-o", "ref.out", "-Motorola",
             "-Output_Block_Size", "32", "-line-termination=crlf", "-execution-start-address=0"});
    QFile ref(dir.filePath("ref.out"));
    ASSERT_TRUE(ref.open(QIODevice::ReadOnly));
    std::string error;
    const auto loaded = Load(ref.readAll().toStdString(), &error);
    EXPECT_EQ(loaded, MakeFirmwareImage(recipe)) << error;
    EXPECT_TRUE(CrcTrailerOk(loaded));

    // 2. srec_cat reads our file into exactly the image we meant.
    for (const char* format : {"srec", "ihex"}) {
        recipe.format = std::string(format) == "srec" ? FirmwareRecipe::Format::Srec
                                                      : FirmwareRecipe::Format::IntelHex;
        QFile ours(dir.filePath("ours.out"));
        ASSERT_TRUE(ours.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ours.write(QByteArray::fromStdString(MakeFirmwareText(recipe)));
        ours.close();
        SrecCat(srecCat, dir.path(),
                {"ours.out", std::string(format) == "srec" ? "-Motorola" : "-Intel", "-o",
                 "ours.bin", "-binary"});
        QFile out(dir.filePath("ours.bin"));
        ASSERT_TRUE(out.open(QIODevice::ReadOnly));
        const QByteArray bytes = out.readAll();
        const auto expected = MakeFirmwareImage(recipe);
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), expected) << format;
    }
}

} // namespace
