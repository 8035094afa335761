#pragma once
#include <cstdint>

// Communication result codes. 0 is success; negative codes are the engine's own;
// 0x8004xxxx codes come from the Modbus server component. The connection thread's
// result-text table is keyed on these values.
namespace vx::mbresult {

inline constexpr int32_t kOk = 0;
inline constexpr int32_t kOffsetError = 0x00000200;

inline constexpr int32_t kOpenFailed = -1;
inline constexpr int32_t kUnexpectedDataSize = -2;
inline constexpr int32_t kNoDataBuffer = -3;
inline constexpr int32_t kNotRegistered = -4;
inline constexpr int32_t kTcpServerNoConnection = -5;
inline constexpr int32_t kTcpServerActivate = -6;
inline constexpr int32_t kTcpServerClose = -7;
inline constexpr int32_t kUserFunction = -8;
inline constexpr int32_t kInvalidConnectionSetup = -9;
inline constexpr int32_t kInvalidDeviceSetup = -10;
inline constexpr int32_t kWaitTimeout = -11;

inline constexpr int32_t kTimeout = static_cast<int32_t>(0x80040201u);
inline constexpr int32_t kInvalidResponse = static_cast<int32_t>(0x80040202u);
inline constexpr int32_t kInvalidCrc = static_cast<int32_t>(0x80040203u);
inline constexpr int32_t kPortWriteError = static_cast<int32_t>(0x80040208u);
inline constexpr int32_t kPortReadError = static_cast<int32_t>(0x80040209u);
inline constexpr int32_t kPortNotInitialized = static_cast<int32_t>(0x8004020Au);
inline constexpr int32_t kBufferOverflow = static_cast<int32_t>(0x800405E8u);
inline constexpr int32_t kSocketError = static_cast<int32_t>(0x800405E9u);
inline constexpr int32_t kSocketWriteError = static_cast<int32_t>(0x800405EAu);
inline constexpr int32_t kSocketReadError = static_cast<int32_t>(0x800405EBu);
inline constexpr int32_t kSocketNotConnected = static_cast<int32_t>(0x800405ECu);

// A Modbus exception answer: the slave's exception code sits in the low byte.
inline constexpr int32_t kExceptionBase = static_cast<int32_t>(0x80048200u);

[[nodiscard]] constexpr int32_t FromException(uint8_t exceptionCode) {
  return static_cast<int32_t>(0x80048200u | exceptionCode);
}
[[nodiscard]] constexpr bool IsException(int32_t code) {
  return (static_cast<uint32_t>(code) & 0xFFFFFF00u) == 0x80048200u;
}
[[nodiscard]] constexpr uint8_t ExceptionCode(int32_t code) {
  return static_cast<uint8_t>(static_cast<uint32_t>(code) & 0xFFu);
}

}  // namespace vx::mbresult
