#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Modbus frame codec: checksums, RTU / ASCII / MBAP encoding, the length rules that
// tell where a frame ends, and stream receivers for RTU and ASCII. Used by the client
// transports here and by anything that serves requests (the drive simulator).
//
// "ADU" below means slave address (or unit identifier) followed by the PDU, without
// checksum or MBAP header: the form the server component hands in and out.
namespace vx {

inline constexpr std::size_t kMaxAdu = 254;        // address + 253 PDU bytes
inline constexpr std::size_t kMaxRtuFrame = 256;   // ADU + CRC
inline constexpr std::size_t kMbapHeaderSize = 7;  // transaction, protocol, length, unit

[[nodiscard]] uint16_t Crc16(std::span<const uint8_t> data);  // CRC-16/MODBUS
[[nodiscard]] uint8_t Lrc(std::span<const uint8_t> data);     // two's complement of the byte sum

// RTU frame: the ADU followed by its CRC, low byte first.
[[nodiscard]] std::vector<uint8_t> EncodeRtu(std::span<const uint8_t> adu);
// True when the frame ends with the CRC of what precedes it.
[[nodiscard]] bool RtuCrcOk(std::span<const uint8_t> frame);

// ASCII frame: ':' then the ADU and its LRC in upper-case hex, then CR LF.
[[nodiscard]] std::vector<uint8_t> EncodeAscii(std::span<const uint8_t> adu);

struct MbapHeader {
  uint16_t transactionId = 0;
  uint16_t protocolId = 0;
  uint16_t length = 0;  // unit identifier + PDU
  uint8_t unit = 0;
};
// MBAP frame: header (protocol 0) then the unit identifier and PDU of `adu`.
[[nodiscard]] std::vector<uint8_t> EncodeMbap(uint16_t transactionId, std::span<const uint8_t> adu);
// Reads the first seven bytes; false when fewer are given.
[[nodiscard]] bool DecodeMbapHeader(std::span<const uint8_t> bytes, MbapHeader& header);

enum class MBDirection { kRequest, kResponse };

// How long an ADU is, judged from the bytes seen so far.
struct MBAduLength {
  enum class Kind { kKnown, kNeedMore, kUnknown } kind = Kind::kNeedMore;
  std::size_t length = 0;  // ADU bytes, valid for kKnown
};
// Requests and responses of the common function codes carry their own length (fixed or
// by a byte count); others can only be delimited by line silence.
[[nodiscard]] MBAduLength AduLength(MBDirection direction, std::span<const uint8_t> adu);

// Stream receiver for RTU. Bytes are fed as they arrive; the receiver says whether a
// frame is complete, whether more bytes of a frame of known length are due, or whether
// only line silence can end what has come in. A valid frame is found even behind
// garbage: every offset that could start a wanted frame is tried.
class MBRtuReceiver {
 public:
  enum class Status { kNeedMore, kNeedSilence, kComplete, kOverflow };

  // Accepts responses of `address` to `function` (or its exception form).
  static MBRtuReceiver ForResponse(uint8_t address, uint8_t function);
  // Accepts requests to any address.
  static MBRtuReceiver ForRequest();

  void Reset();
  Status Feed(std::span<const uint8_t> bytes);
  // The line went quiet: the verdict on what came in. mbresult::kOk when a frame is
  // there (also one of unknown length that ends with a valid CRC), kTimeout when nothing
  // came, kInvalidCrc when a wanted frame failed its CRC, else kInvalidResponse.
  [[nodiscard]] int32_t Finish();
  // The ADU of the complete frame (without CRC).
  [[nodiscard]] std::span<const uint8_t> Frame() const;
  [[nodiscard]] std::size_t Received() const { return buf_.size(); }

 private:
  enum class Step { kAddress, kFunction, kMeta, kData, kChecksum };
  enum class Outcome { kReject, kPending, kUnknownLength, kBadCrc, kGood };
  MBRtuReceiver(MBDirection direction, bool filter, uint8_t address, uint8_t function);
  Outcome ParseAt(std::size_t start, std::size_t& length) const;
  Status Scan();

  MBDirection direction_;
  bool filter_;
  uint8_t address_;
  uint8_t function_;
  std::vector<uint8_t> buf_;
  std::size_t frameStart_ = 0;
  std::size_t frameLength_ = 0;
  bool complete_ = false;
  bool badCrc_ = false;
  bool unknownLength_ = false;
  std::size_t unknownStart_ = 0;
};

// Stream receiver for ASCII: ':' starts a frame (also over an unfinished one), CR LF
// ends it; anything outside a frame is skipped.
class MBAsciiReceiver {
 public:
  enum class Status { kNeedMore, kComplete, kOverflow };

  static MBAsciiReceiver ForResponse(uint8_t address, uint8_t function);
  static MBAsciiReceiver ForRequest();

  void Reset();
  Status Feed(std::span<const uint8_t> bytes);
  // After kComplete: mbresult::kOk, kInvalidCrc (LRC) or kInvalidResponse.
  [[nodiscard]] int32_t Result() const { return result_; }
  // No end of frame came before the line went quiet.
  [[nodiscard]] int32_t Finish() const;
  [[nodiscard]] std::span<const uint8_t> Frame() const { return adu_; }

 private:
  enum class Step { kHunt, kBody, kEnd };
  MBAsciiReceiver(MBDirection direction, bool filter, uint8_t address, uint8_t function);
  int32_t Decode();

  MBDirection direction_;
  bool filter_;
  uint8_t address_;
  uint8_t function_;
  Step step_ = Step::kHunt;
  std::vector<uint8_t> hex_;
  std::vector<uint8_t> adu_;
  std::size_t received_ = 0;
  int32_t result_ = 0;
};

}  // namespace vx
