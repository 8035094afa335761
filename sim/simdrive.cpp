#include "sim/simdrive.h"

#include <cstdio>
#include <filesystem>

#include "mbwire/mbcodes.h"
#include "platform/koexception.h"

namespace vx {

namespace {

// The functions the drive answers and the exceptions it answers with.
constexpr uint8_t kRead = MBFunction::kReadHoldingRegisters;
constexpr uint8_t kWriteSingle = MBFunction::kWriteSingleRegister;
constexpr uint8_t kWriteMultiple = MBFunction::kWriteMultipleRegisters;
constexpr uint8_t kVersion = MBFunction::kDeviceVersion;
constexpr uint8_t kIllegalFunction = MBException::kIllegalFunction;
constexpr uint8_t kIllegalAddress = MBException::kIllegalDataAddress;
constexpr uint8_t kIllegalValue = MBException::kIllegalDataValue;
constexpr uint8_t kDeviceFailure = MBException::kServerDeviceFailure;

uint16_t Word(std::span<const uint8_t> p, std::size_t at) {
  return static_cast<uint16_t>(p[at] << 8 | p[at + 1]);
}

void PutWord(std::vector<uint8_t>& out, uint16_t w) {
  out.push_back(static_cast<uint8_t>(w >> 8));
  out.push_back(static_cast<uint8_t>(w & 0xFF));
}

std::vector<uint8_t> Exception(uint8_t function, uint8_t code) {
  return {static_cast<uint8_t>(function | MBFunction::kExceptionFlag), code};
}

std::string Range(uint16_t first, int count) {
  char buf[24];
  if (count == 1)
    std::snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(first));
  else
    std::snprintf(buf, sizeof buf, "%u+%d", static_cast<unsigned>(first), count);
  return buf;
}

// Two characters as one word, the first in the low byte.
uint16_t CharWord(const char c[2]) {
  return static_cast<uint16_t>(static_cast<uint8_t>(c[1]) << 8 | static_cast<uint8_t>(c[0]));
}

std::vector<std::string> PowerUp(SimImage& image, const SimDriveOptions& options) {
  std::vector<std::string> warnings;
  image.AssignDefaults();
  if (!options.stateFile.empty()) {
    std::error_code ec;
    if (std::filesystem::exists(options.stateFile, ec))
      image.LoadState(options.stateFile, &warnings);
  }
  image.PowerUp();
  return warnings;
}

}  // namespace

SimDrive::SimDrive(SimImage& image, SimDriveOptions options, Clock::time_point now)
    : image_(image),
      options_(std::move(options)),
      warnings_(PowerUp(image, options_)),
      motor_(image, now) {}

SimDrive::Reply SimDrive::Serve(std::span<const uint8_t> adu, Clock::time_point now, bool tcpUnit) {
  Reply reply;
  if (adu.size() < 2) return reply;
  const uint8_t address = adu[0];
  const bool broadcast = address == 0 && !tcpUnit;
  reply.addressed = IsAddressed(address, tcpUnit);
  if (!reply.addressed && !broadcast) return reply;

  const std::span<const uint8_t> pdu = adu.subspan(1);
  const uint8_t function = pdu[0];
  std::vector<uint8_t> answer;
  switch (function) {
    case kRead:
      if (broadcast) return reply;
      answer = ReadHolding(pdu, now, reply.note);
      break;
    case kWriteSingle:
      answer = WriteSingle(pdu, now, reply.note);
      break;
    case kWriteMultiple:
      answer = WriteMultiple(pdu, now, reply.note);
      break;
    case kVersion:
      if (broadcast) return reply;
      answer = Version(pdu, reply.note);
      break;
    default:
      answer = Exception(function, kIllegalFunction);
      reply.note = "function " + std::to_string(function);
      break;
  }
  if (answer.size() == 2 && (answer[0] & MBFunction::kExceptionFlag)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " -> exception %02X", answer[1]);
    reply.note += buf;
  }
  if (broadcast) {
    reply.note += " (broadcast)";
    return reply;
  }
  reply.adu.reserve(answer.size() + 1);
  reply.adu.push_back(address);
  reply.adu.insert(reply.adu.end(), answer.begin(), answer.end());
  return reply;
}

std::vector<uint8_t> SimDrive::ReadHolding(std::span<const uint8_t> pdu, Clock::time_point now,
                                           std::string& note) {
  note = "read";
  if (pdu.size() != 5) return Exception(kRead, kIllegalValue);
  const uint16_t first = Word(pdu, 1);
  const int count = Word(pdu, 3);
  note += ' ';
  note += Range(first, count);
  if (count < 1 || count > 125) return Exception(kRead, kIllegalValue);
  const int bytes = image_.RangeBytes(first, count);
  // Address, function, byte count, data, CRC: the answer must fit the firmware's buffer.
  if (bytes + 5 > image_.MaxFrameBytes() || bytes > 250) return Exception(kRead, kIllegalValue);
  if (!image_.AllDefined(first, count)) return Exception(kRead, kIllegalAddress);
  motor_.Advance(now);
  std::vector<uint8_t> out{kRead, static_cast<uint8_t>(bytes)};
  image_.Read(first, count, out);
  return out;
}

std::vector<uint8_t> SimDrive::WriteSingle(std::span<const uint8_t> pdu, Clock::time_point now,
                                           std::string& note) {
  note = "write";
  if (pdu.size() < 5) return Exception(kWriteSingle, kIllegalValue);
  const uint16_t address = Word(pdu, 1);
  note += ' ';
  note += Range(address, 1);
  if (!image_.AllDefined(address, 1)) return Exception(kWriteSingle, kIllegalAddress);
  // A register of several words takes all of them in one 0x06 request.
  const std::span<const uint8_t> data = pdu.subspan(3);
  if (static_cast<int>(data.size()) != image_.RangeBytes(address, 1))
    return Exception(kWriteSingle, kIllegalValue);
  std::vector<uint8_t> failed = Store(kWriteSingle, address, 1, data, now, note);
  if (!failed.empty()) return failed;
  return {pdu.begin(), pdu.end()};
}

std::vector<uint8_t> SimDrive::WriteMultiple(std::span<const uint8_t> pdu, Clock::time_point now,
                                             std::string& note) {
  note = "write";
  if (pdu.size() < 6) return Exception(kWriteMultiple, kIllegalValue);
  const uint16_t first = Word(pdu, 1);
  const int count = Word(pdu, 3);
  const std::size_t byteCount = pdu[5];
  note += ' ';
  note += Range(first, count);
  if (count < 1 || count > 123 || pdu.size() != 6 + byteCount)
    return Exception(kWriteMultiple, kIllegalValue);
  // Address, function, start, count, byte count, data, CRC.
  if (static_cast<int>(byteCount) != image_.RangeBytes(first, count) ||
      static_cast<int>(byteCount) + 9 > image_.MaxFrameBytes())
    return Exception(kWriteMultiple, kIllegalValue);
  if (!image_.AllDefined(first, count)) return Exception(kWriteMultiple, kIllegalAddress);
  std::vector<uint8_t> failed = Store(kWriteMultiple, first, count, pdu.subspan(6), now, note);
  if (!failed.empty()) return failed;
  return {pdu.begin(), pdu.begin() + 5};
}

std::vector<uint8_t> SimDrive::Store(uint8_t function, uint16_t first, int count,
                                     std::span<const uint8_t> data, Clock::time_point now,
                                     std::string& note) {
  // The drive runs on the old values up to this moment, then acts on the new ones.
  motor_.Advance(now);
  image_.Write(first, count, data);
  motor_.Advance(now);
  if (!options_.stateFile.empty() && image_.TouchesEeprom(first, count)) {
    try {
      image_.SaveState(options_.stateFile);
      note += " (EEPROM saved)";
    } catch (const EkoException& e) {
      std::fprintf(stderr, "vx310-sim: EEPROM not saved: %s\n", e.what());
      return Exception(function, kDeviceFailure);
    }
  }
  return {};
}

std::vector<uint8_t> SimDrive::Version(std::span<const uint8_t> pdu, std::string& note) {
  note = "version";
  if (pdu.size() != 1) return Exception(kVersion, kIllegalValue);
  const TkoVersionRecord& v = options_.version;
  std::vector<uint8_t> out{kVersion};
  PutWord(out, v.Board);
  PutWord(out, v.Model);
  PutWord(out, CharWord(v.Variant));
  PutWord(out, v.GetVersionWord());
  PutWord(out, CharWord(v.Suffix));
  return out;
}

bool SimDrive::InjectFault(const std::string& reg, int bit, std::string* error) {
  TkoRegister* r = image_.Find(reg);
  int32_t number = 0;
  if (r == nullptr && TextToInteger(reg, number) && number >= 0 && number <= 0xFFFF)
    r = image_.At(static_cast<uint16_t>(number));
  if (r == nullptr) {
    if (error) *error = "no register \"" + reg + "\" in the data model";
    return false;
  }
  const TkoRegDefinition* d = r->Definition();
  if (!d->IsNumeric() || bit < 0 || bit >= d->ElementBytes() * 8) {
    if (error) *error = "register " + d->Name + " has no bit " + std::to_string(bit);
    return false;
  }
  for (int n = 1; n <= 2; ++n)
    if (d->Name == "ActFault" + std::to_string(n)) return motor_.RaiseFault(n, bit);
  r->SetValueBit(0, bit, true);
  return true;
}

}  // namespace vx
