// Frames the fuzzer found the receivers accepting although no Modbus ADU can be that
// long: a byte count near 255 makes the length rule give more than 254 ADU bytes, and a
// frame of unknown length ended only by silence can fill the whole receive buffer.
#include <gtest/gtest.h>

#include <vector>

#include "mbwire/mbframe.h"
#include "mbwire/mbresult.h"
#include "mbwire/mbtest_hex.h"

namespace {

using vxtest::Hex;
namespace mbr = vx::mbresult;

// `head` followed by `fill` bytes of 0x5A.
std::vector<uint8_t> Adu(const char* head, std::size_t fill) {
  std::vector<uint8_t> adu = Hex(head);
  adu.insert(adu.end(), fill, 0x5A);
  return adu;
}

TEST(MBRtuReceiverFuzzFound, NoFrameLongerThanAnAdu) {
  struct Case {
    const char* name;
    bool request;  // else a response of slave 1 to function 0x03
    std::vector<uint8_t> adu;
    bool accepted;
  };
  const Case cases[] = {
      {"write multiple, byte count 255", true, Adu("01 10 00 00 00 7F FF", 255), false},
      {"read/write multiple, byte count 255", true, Adu("01 17 00 00 00 01 00 00 00 7F FF", 255),
       false},
      {"read response, byte count 252", false, Adu("01 03 FC", 252), false},
      {"read response, byte count 251 fills an ADU", false, Adu("01 03 FB", 251), true},
      {"write multiple, byte count 247 fills an ADU", true, Adu("01 10 00 00 00 7B F7", 247), true},
      {"unknown function, 300 bytes", true, Adu("01 2B", 298), false},
      {"unknown function, 254 bytes", true, Adu("01 2B", 252), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto rx =
        c.request ? vx::MBRtuReceiver::ForRequest() : vx::MBRtuReceiver::ForResponse(0x01, 0x03);
    const auto frame = vx::EncodeRtu(c.adu);
    const auto status = rx.Feed(frame);
    EXPECT_NE(status, vx::MBRtuReceiver::Status::kOverflow);
    if (c.accepted) {
      ASSERT_EQ(rx.Finish(), mbr::kOk);
      EXPECT_EQ(std::vector<uint8_t>(rx.Frame().begin(), rx.Frame().end()), c.adu);
    } else {
      EXPECT_NE(status, vx::MBRtuReceiver::Status::kComplete);
      EXPECT_NE(rx.Finish(), mbr::kOk);
      EXPECT_TRUE(rx.Frame().empty());
    }
  }
}

}  // namespace
