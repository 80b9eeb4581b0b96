#include "platform/PortNames.h"

#include <gtest/gtest.h>

namespace {

class PortNamesTest : public ::testing::Test
{
protected:
    void SetUp() override { SetPortMap({{2, "/dev/ttyUSB0"}, {7, "/dev/serial/by-id/x"}}); }
    void TearDown() override { SetPortMap({}); }
};

TEST_F(PortNamesTest, ResolvesNamesThroughTheMapOrToTtyS)
{
    const struct
    {
        const char* name;
        const char* path;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM2", "/dev/ttyUSB0"},
        {"COM7", "/dev/serial/by-id/x"},
        {"COM12", "/dev/ttyS11"},
        {"COM007", "/dev/serial/by-id/x"},
        {"/dev/pts/3", "/dev/pts/3"},
        {"COM0", ""},
        {"COM", ""},
        {"", ""},
        {"com1", ""},
        {"COM-1", ""},
        {"COM+1", ""},
        {"COM1 ", ""},
        {" COM1", ""},
        {"COMx", ""},
        {"COM99999999999", ""},
        {"ttyS0", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResolvePortName(c.name), c.path) << "name '" << c.name << "'";
}

TEST_F(PortNamesTest, MapIsReplacedWhole)
{
    EXPECT_EQ(PortMap().size(), 2u);
    SetPortMap({{1, "/dev/ttyACM0"}});
    EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyACM0");
    EXPECT_EQ(ResolvePortName("COM2"), "/dev/ttyS1");
    EXPECT_EQ(PortMap(), (std::map<unsigned, std::string>{{1, "/dev/ttyACM0"}}));
}

} // namespace
