#include "settings/Devices.h"

#include <gtest/gtest.h>

#include <string>

#include "SettingsTestSupport.h"
#include "settings/SettingsFile.h"

namespace morvane {
namespace {

using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

TEST(DevicePathForPort, ValueOfTheDevicesKey) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  WriteFileBytes(path,
                 "[devices]\r\nCOM1=/dev/ttyUSB0\r\ncom2 = simulator \r\nCOM3=\r\n"
                 "COM12=\"/dev/serial/by-id/usb-FTDI port0\"\r\n");
  EXPECT_EQ(DevicePathForPort(path, 1), "/dev/ttyUSB0");
  EXPECT_EQ(DevicePathForPort(path, 2), "simulator");
  EXPECT_EQ(DevicePathForPort(path, 12), "/dev/serial/by-id/usb-FTDI port0");
  EXPECT_EQ(DevicePathForPort(path, 3), "/dev/ttyS2");
  EXPECT_EQ(DevicePathForPort(path, 4), "/dev/ttyS3");
  EXPECT_EQ(DevicePathForPort(path, 20), "/dev/ttyS19");
  EXPECT_EQ(DevicePathForPort(path, 0), "");
  EXPECT_EQ(DevicePathForPort(path, -1), "");
}

TEST(DevicePathForPort, SerialPortsWithoutAFileOrSection) {
  TTempDir dir;
  EXPECT_EQ(DevicePathForPort(dir.File("none.ini"), 1), "/dev/ttyS0");
  WriteFileBytes(dir.File("Morvane.ini"), "[Device/Ports]\r\nCOM1=/dev/ttyUSB0\r\n");
  EXPECT_EQ(DevicePathForPort(dir.File("Morvane.ini"), 1), "/dev/ttyS0");
}

class TStillHost : public TSettingsHost {
 public:
  int Left() const override { return 3; }
  void SetLeft(int) override {}
  int Top() const override { return 4; }
  void SetTop(int) override {}
  int AppliedVoice() const override { return 0; }
  void SetAppliedVoice(int) override {}
  void ShowInformationMessage(const std::string&) override {}
};

TEST(DevicePathForPort, NoSettingsWriteTouchesTheDevicesSection) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  const std::string devices = "[Devices]\r\n; USB adapter\r\nCOM1 = /dev/ttyUSB0\r\n\r\n";
  WriteFileBytes(path, devices);
  TStillHost host;
  TStagedSettings s;
  s.ComPortRG.SetItemIndex(0);
  SaveSettings(path, s);
  SaveWindowPosition(path, host);
  ReadStayOnTopAtStartUp(path);
  LoadSettings(path, s, host);
  const std::string after = ReadFileBytes(path);
  EXPECT_EQ(after.substr(0, devices.size()), devices);
  EXPECT_EQ(after.find("Devices", devices.size()), std::string::npos);
  EXPECT_EQ(DevicePathForPort(path, 1), "/dev/ttyUSB0");
}

}  // namespace
}  // namespace morvane
