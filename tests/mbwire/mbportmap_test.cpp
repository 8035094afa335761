// The one map of COM ports: serial paths and TCP targets share its slots, so that setting
// one kind replaces the other and a reset gives the default serial device back.
#include "mbwire/mbportmap.h"

#include <gtest/gtest.h>

namespace {

TEST(MBPortMap, SerialAndTcpShareTheSlots) {
  vx::MBPortMap map;
  EXPECT_EQ(map.Target(3).Device, "/dev/ttyS2");
  EXPECT_FALSE(map.Target(3).Tcp);

  vx::PortTarget tcp;
  tcp.Tcp = true;
  tcp.Host = "gateway";
  tcp.TcpPort = 502;
  map.Set(3, tcp);
  EXPECT_TRUE(map.Target(3).Tcp);
  EXPECT_EQ(map.Target(3).Host, "gateway");

  vx::PortTarget serial;
  serial.Device = "/dev/ttyUSB0";
  map.Set(3, serial);
  EXPECT_FALSE(map.Target(3).Tcp);
  EXPECT_EQ(map.Target(3).Device, "/dev/ttyUSB0");

  map.Set(0, tcp);  // outside COM1..COM8: ignored
  map.Set(9, tcp);
  EXPECT_EQ(map.Target(0).Device, "");
  EXPECT_EQ(map.Target(9).Device, "");
  EXPECT_FALSE(map.Target(1).Tcp);

  map.Reset(3);
  EXPECT_EQ(map.Target(3).Device, "/dev/ttyS2");
  map.Set(8, tcp);
  map.ResetAll();
  EXPECT_FALSE(map.Target(8).Tcp);
  EXPECT_EQ(map.Target(8).Device, "/dev/ttyS7");
}

TEST(MBPortMap, ThePathOfAPortMappedToTcpIsItsDefaultDevice) {
  vx::PortTarget tcp;
  tcp.Tcp = true;
  tcp.Host = "127.0.0.1";
  tcp.TcpPort = 5020;
  vx::SetComPortPath(4, "/dev/ttyUSB3");
  vx::PortMap().Set(4, tcp);
  EXPECT_EQ(vx::ComPortPath(4), "/dev/ttyS3");
  vx::SetComPortPath(4, "");  // an empty path resets
  EXPECT_FALSE(vx::PortMap().Target(4).Tcp);
  vx::ResetComPortPaths();
}

}  // namespace
