// Modbus frame receivers and decoders on arbitrary line input. Beyond "no crash, no
// out-of-bounds read" it checks what a receiver promises about the frames it accepts:
// the checksum that came with the frame is right, the frame is as long as its function
// code says (or of a code without a length rule), and a response filter is honoured.
// A frame encoded by our own encoders must always be accepted.
//
// Input: byte 0 selects RTU / ASCII, request / response and whole / chunked feeding;
// bytes 1 and 2 are the address and function a response receiver waits for; byte 3
// seeds the chunk sizes; the rest is the line.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "mbwire/mbframe.h"
#include "mbwire/mbresult.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

bool Contains(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

std::vector<uint8_t> Upper(std::span<const uint8_t> s) {
  std::vector<uint8_t> u(s.begin(), s.end());
  for (auto& c : u) c = static_cast<uint8_t>(std::toupper(c));
  return u;
}

// Touches every byte so that AddressSanitizer sees a span that leaves its storage.
unsigned Touch(std::span<const uint8_t> s) {
  unsigned sum = 0;
  for (uint8_t b : s) sum += b;
  return sum;
}

// What any accepted ADU must satisfy.
void CheckAdu(std::span<const uint8_t> adu, vx::MBDirection dir, bool filter, uint8_t address,
              uint8_t function, bool unknownAllowed) {
  Check(adu.size() >= 2 && adu.size() <= vx::kMaxAdu, "accepted ADU size");
  (void)Touch(adu);
  const vx::MBAduLength len = vx::AduLength(dir, adu);
  if (len.kind == vx::MBAduLength::Kind::kKnown)
    Check(len.length == adu.size(), "accepted ADU length differs from its function code's");
  else
    Check(unknownAllowed && len.kind == vx::MBAduLength::Kind::kUnknown,
          "accepted ADU of undetermined length");
  if (filter) {
    Check(adu[0] == address, "response of another address accepted");
    Check(adu[1] == function || adu[1] == (function | 0x80),
          "response of another function accepted");
  }
}

std::vector<std::span<const uint8_t>> Chunks(std::span<const uint8_t> line, bool chunked,
                                             uint8_t seed) {
  std::vector<std::span<const uint8_t>> out;
  if (!chunked) {
    out.push_back(line);
    return out;
  }
  std::size_t pos = 0;
  uint32_t r = seed | 1u;
  while (pos < line.size()) {
    r = r * 1103515245u + 12345u;
    const std::size_t n = std::min<std::size_t>(line.size() - pos, 1 + (r >> 16) % 9);
    out.push_back(line.subspan(pos, n));
    pos += n;
  }
  return out;
}

void FuzzRtu(std::span<const uint8_t> line, vx::MBDirection dir, bool chunked, uint8_t seed,
             uint8_t address, uint8_t function) {
  const bool filter = dir == vx::MBDirection::kResponse;
  auto rx =
      filter ? vx::MBRtuReceiver::ForResponse(address, function) : vx::MBRtuReceiver::ForRequest();
  std::vector<uint8_t> fed;
  bool done = false;
  for (auto chunk : Chunks(line, chunked, seed)) {
    const auto st = rx.Feed(chunk);
    if (st == vx::MBRtuReceiver::Status::kOverflow) {
      Check(fed.size() + chunk.size() > 2 * vx::kMaxRtuFrame, "overflow below the buffer limit");
      done = true;
      break;
    }
    fed.insert(fed.end(), chunk.begin(), chunk.end());
    Check(rx.Received() == fed.size(), "receiver lost or added bytes");
    if (st == vx::MBRtuReceiver::Status::kComplete) {
      const auto adu = rx.Frame();
      CheckAdu(adu, dir, filter, address, function, false);
      Check(Contains(fed, vx::EncodeRtu(adu)), "frame accepted without its CRC");
      Check(rx.Finish() == vx::mbresult::kOk, "complete frame not reported as ok");
      done = true;
      break;
    }
  }
  if (!done) {
    const int32_t r = rx.Finish();
    if (r == vx::mbresult::kOk) {
      const auto adu = rx.Frame();
      CheckAdu(adu, dir, filter, address, function, true);
      Check(Contains(fed, vx::EncodeRtu(adu)), "frame accepted at silence without its CRC");
    } else {
      Check(rx.Frame().empty(), "frame offered after a failed receive");
      if (fed.empty()) Check(r == vx::mbresult::kTimeout, "nothing received but no timeout");
    }
  }

  // Our own encoding of a well-formed ADU is taken whole.
  if (line.size() >= 2 && line.size() <= vx::kMaxAdu) {
    const vx::MBAduLength len = vx::AduLength(dir, line);
    const bool wanted =
        !filter || (line[0] == address && (line[1] == function || line[1] == (function | 0x80)));
    if (wanted && len.kind == vx::MBAduLength::Kind::kKnown && len.length == line.size()) {
      rx.Reset();
      const auto frame = vx::EncodeRtu(line);
      Check(rx.Feed(frame) == vx::MBRtuReceiver::Status::kComplete, "own RTU frame not accepted");
      Check(std::ranges::equal(rx.Frame(), line), "own RTU frame changed");
    }
  }
}

void FuzzAscii(std::span<const uint8_t> line, vx::MBDirection dir, bool chunked, uint8_t seed,
               uint8_t address, uint8_t function) {
  const bool filter = dir == vx::MBDirection::kResponse;
  auto rx = filter ? vx::MBAsciiReceiver::ForResponse(address, function)
                   : vx::MBAsciiReceiver::ForRequest();
  const std::vector<uint8_t> upper = Upper(line);
  bool done = false;
  for (auto chunk : Chunks(line, chunked, seed)) {
    const auto st = rx.Feed(chunk);
    if (st == vx::MBAsciiReceiver::Status::kOverflow) {
      done = true;
      break;
    }
    if (st == vx::MBAsciiReceiver::Status::kComplete) {
      if (rx.Result() == vx::mbresult::kOk) {
        const auto adu = rx.Frame();
        CheckAdu(adu, dir, filter, address, function, true);
        // The frame as sent: ':' hex of ADU and LRC, CR LF (hex digits of either case).
        Check(Contains(upper, vx::EncodeAscii(adu)), "frame accepted without its LRC");
      } else {
        (void)Touch(rx.Frame());
      }
      done = true;
      break;
    }
  }
  if (!done) (void)rx.Finish();

  if (line.size() >= 2 && line.size() <= vx::kMaxAdu) {
    const vx::MBAduLength len = vx::AduLength(dir, line);
    const bool wanted =
        !filter || (line[0] == address && (line[1] == function || line[1] == (function | 0x80)));
    const bool sized = len.kind == vx::MBAduLength::Kind::kUnknown ||
                       (len.kind == vx::MBAduLength::Kind::kKnown && len.length == line.size());
    if (wanted && sized) {
      rx.Reset();
      Check(rx.Feed(vx::EncodeAscii(line)) == vx::MBAsciiReceiver::Status::kComplete,
            "own ASCII frame not complete");
      Check(rx.Result() == vx::mbresult::kOk, "own ASCII frame refused");
      Check(std::ranges::equal(rx.Frame(), line), "own ASCII frame changed");
    }
  }
}

void FuzzMbap(std::span<const uint8_t> bytes) {
  vx::MbapHeader h;
  const bool ok = vx::DecodeMbapHeader(bytes, h);
  Check(ok == (bytes.size() >= vx::kMbapHeaderSize), "MBAP header size rule");
  if (!bytes.empty() && bytes.size() <= 0xFFFF) {
    const uint16_t tid = static_cast<uint16_t>(bytes[0] << 8 | bytes.back());
    const auto frame = vx::EncodeMbap(tid, bytes);
    vx::MbapHeader back;
    Check(vx::DecodeMbapHeader(frame, back), "own MBAP frame not decoded");
    Check(back.transactionId == tid && back.protocolId == 0 && back.length == bytes.size() &&
              back.unit == bytes[0],
          "MBAP round trip");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const uint8_t mode = data[0];
  const uint8_t address = data[1];
  const uint8_t function = data[2];
  const uint8_t seed = data[3];
  const std::span<const uint8_t> line(data + 4, size - 4);
  const auto dir = (mode & 2) ? vx::MBDirection::kResponse : vx::MBDirection::kRequest;
  const bool chunked = (mode & 4) != 0;
  if (mode & 1)
    FuzzAscii(line, dir, chunked, seed, address, function);
  else
    FuzzRtu(line, dir, chunked, seed, address, function);
  FuzzMbap(line);
  return 0;
}
