#pragma once
#include <cstdint>

// The numbers of the Modbus functions this system speaks and of the server component's
// setup properties. They are the values on the wire and in the files, so they never
// change; each is named once here.
namespace vx {

// Function codes: the published ones whose frame lengths the codec knows, and the drive's
// own version request.
struct MBFunction {
  enum : uint8_t {
    kReadCoils = 0x01,
    kReadDiscreteInputs = 0x02,
    kReadHoldingRegisters = 0x03,
    kReadInputRegisters = 0x04,
    kWriteSingleCoil = 0x05,
    kWriteSingleRegister = 0x06,
    kReadExceptionStatus = 0x07,
    kDiagnostics = 0x08,
    kGetCommEventCounter = 0x0B,
    kGetCommEventLog = 0x0C,
    kWriteMultipleCoils = 0x0F,
    kWriteMultipleRegisters = 0x10,
    kReportServerId = 0x11,
    kMaskWriteRegister = 0x16,
    kReadWriteMultipleRegisters = 0x17,
    kDeviceVersion = 0x41,  // answered with five version words
  };
  // Set in the function code of an exception answer.
  static constexpr uint8_t kExceptionFlag = 0x80;
};

// Exception codes of an exception answer.
struct MBException {
  enum : uint8_t {
    kIllegalFunction = 0x01,
    kIllegalDataAddress = 0x02,
    kIllegalDataValue = 0x03,
    kServerDeviceFailure = 0x04,
    kAcknowledge = 0x05,
    kServerDeviceBusy = 0x06,
    kMemoryParityError = 0x08,
    kGatewayPathUnavailable = 0x0A,
    kGatewayTargetFailed = 0x0B,
  };
};

// OpenConnection's type, the connection setup's ConnType.
struct MBConnType {
  enum : int16_t { kSerial = 1, kTcp = 2 };
};

// TransmissionMode on a serial line.
struct MBTxMode {
  enum : int16_t { kRtu = 0, kAscii = 1 };
};

// Parity; mark and space through CMSPAR.
struct MBParity {
  enum : int16_t { kNone = 0, kOdd = 1, kEven = 2, kMark = 3, kSpace = 4 };
};

// StopBits; one and a half is two on Linux.
struct MBStopBits {
  enum : int16_t { kOne = 0, kOneAndHalf = 1, kTwo = 2 };
};

// FlowControl. XON/XOFF has a name in the connection's description but is not offered by
// the serial port.
struct MBFlowControl {
  enum : int16_t { kNone = 0, kDtrDsr = 1, kRtsCts = 2, kXonXoff = 4, kRtsToggle = 8 };
};

}  // namespace vx
