// The line's one firmware: a file changed on disk under a running line stops every station
// before its next unit, until the operator confirms the new file; the record then names the
// new file's SHA-256.
#include "platform/Sha256.h"
#include "tests/line/LineRig.h"

#include <QFile>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace linerig;

namespace {

constexpr int ImageBytes = 2048;
constexpr int Stations = 2;

QString Sha256Of(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    return QString::fromStdString(Sha256Hex({bytes.constData(), std::size_t(bytes.size())}));
}

bool AllHalted(LineRig& rig)
{
    for (int s = 0; s < rig.Line().Count(); ++s)
        if (rig.Line().At(s).View().phase != line::StationPhase::Halted)
            return false;
    return true;
}

TEST(FirmwarePin, AFileChangedOnDiskStopsEveryStationUntilConfirmed)
{
    LineRig rig({QuickUnit, QuickUnit}, ImageBytes);
    ASSERT_TRUE(rig.Error().isEmpty()) << rig.Error().toStdString();
    const QString before = Sha256Of(rig.Firmware());
    rig.Open();
    rig.Line().StartAll();
    ASSERT_TRUE(ProcessUntil([&] { return int(rig.Records().size()) >= Stations; }, 30s));

    // Someone writes another build over the file while the line runs.
    ASSERT_TRUE(SimLink::MakeFirmware(ORVIX_SIM_PATH, rig.Firmware(), ImageBytes * 2).isEmpty());
    ASSERT_TRUE(ProcessUntil([&] { return AllHalted(rig); }, 20s));
    const std::size_t rowsWhenHalted = rig.Records().size();
    for (int s = 0; s < Stations; ++s)
        EXPECT_NE(rig.Line().At(s).View().problem.find("changed on disk"), std::string::npos)
            << rig.Line().At(s).View().problem;
    ProcessUntil([] { return false; }, 2s);
    EXPECT_EQ(rig.Records().size(), rowsWhenHalted) << "no unit programmed meanwhile";

    rig.Window().Refresh();
    QPushButton* confirm = rig.Window().ConfirmFirmwareButton();
    ASSERT_TRUE(confirm->isVisible());
    QTest::mouseClick(confirm, Qt::LeftButton);
    EXPECT_EQ(QString::fromStdString(rig.Line().Firmware().Sha256()), Sha256Of(rig.Firmware()));
    QTest::mouseClick(rig.Window().StartAllButton(), Qt::LeftButton);
    ASSERT_TRUE(ProcessUntil(
        [&] { return rig.Records().size() >= rowsWhenHalted + std::size_t(Stations); }, 30s));
    const std::vector<QStringList> rows = rig.Records();
    EXPECT_EQ(rows.front()[7], before);
    EXPECT_EQ(rows.back()[7], Sha256Of(rig.Firmware()));
    EXPECT_NE(before, Sha256Of(rig.Firmware()));
}

} // namespace
