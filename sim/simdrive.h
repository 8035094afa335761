#pragma once
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "regmodel/versionrecord.h"
#include "sim/simimage.h"
#include "sim/simmotor.h"

namespace vx {

struct SimDriveOptions {
  uint8_t slave = 1;
  TkoVersionRecord version{"VX310v220"};
  // EEPROM state file; empty: the EEPROM lives only as long as the process.
  std::string stateFile;
};

// The drive's Modbus application layer: answers read holding registers (0x03), write
// single register (0x06), write multiple registers (0x10) and the version request (0x41)
// on the register image, and keeps the motor simulation and the EEPROM state file in
// step with what is written.
class SimDrive {
 public:
  using Clock = std::chrono::steady_clock;

  // Power-up: defaults, then the state file (when it exists), then the RAM setup as a copy
  // of the EEPROM. Throws EkoException when the state file is unreadable or malformed, so
  // that a damaged file is reported and kept rather than overwritten.
  SimDrive(SimImage& image, SimDriveOptions options, Clock::time_point now);

  struct Reply {
    bool addressed = false;    // the request was for this drive (broadcasts are not)
    std::vector<uint8_t> adu;  // the response ADU; empty when nothing is to be sent
    std::string note;          // what was done, for the request log
  };
  // One request ADU: slave address (or TCP unit identifier), then the PDU. Requests to
  // other addresses are ignored. On a serial line address 0 is a broadcast, whose writes
  // are carried out without an answer; Modbus TCP has no broadcast, and its units 0 and
  // 255 mean the device at the other end of the connection.
  Reply Serve(std::span<const uint8_t> adu, Clock::time_point now, bool tcpUnit = false);
  // Whether a request to `address` is for this drive (not a broadcast, not another slave).
  bool IsAddressed(uint8_t address, bool tcpUnit) const {
    if (tcpUnit && (address == 0 || address == 0xFF)) return true;
    return address != 0 && address == options_.slave;
  }

  // Sets a bit of a register given by name or number (a present fault also enters the
  // previous faults); false with a reason when there is no such register or bit.
  bool InjectFault(const std::string& reg, int bit, std::string* error);

  // Warnings met while loading the state file.
  const std::vector<std::string>& Warnings() const { return warnings_; }
  SimMotor& Motor() { return motor_; }
  SimImage& Image() { return image_; }

 private:
  std::vector<uint8_t> ReadHolding(std::span<const uint8_t> pdu, Clock::time_point now,
                                   std::string& note);
  std::vector<uint8_t> WriteSingle(std::span<const uint8_t> pdu, Clock::time_point now,
                                   std::string& note);
  std::vector<uint8_t> WriteMultiple(std::span<const uint8_t> pdu, Clock::time_point now,
                                     std::string& note);
  std::vector<uint8_t> Version(std::span<const uint8_t> pdu, std::string& note);
  // Stores a write and lets the drive act on it; an exception PDU when the EEPROM could
  // not be saved, else empty.
  std::vector<uint8_t> Store(uint8_t function, uint16_t first, int count,
                             std::span<const uint8_t> data, Clock::time_point now,
                             std::string& note);

  SimImage& image_;
  SimDriveOptions options_;
  std::vector<std::string> warnings_;
  SimMotor motor_;
};

}  // namespace vx
