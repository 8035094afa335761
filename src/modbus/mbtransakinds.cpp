#include "modbus/mbtransakinds.h"

#include <cstdio>
#include <cstring>

#include "mbwire/mbcodes.h"
#include "mbwire/mbresult.h"
#include "modbus/mbthread.h"
#include "platform/threadbuffer.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefslist.h"

namespace {

constexpr const char* kSetup = "setup";

void PutWord(std::vector<uint8_t>& out, uint16_t w) {
  out.push_back(static_cast<uint8_t>(w >> 8));
  out.push_back(static_cast<uint8_t>(w & 0xFF));
}

uint16_t WordAt(const std::vector<uint8_t>& bytes, std::size_t i) {
  return static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]);
}

void AppendView(std::vector<uint8_t>& out, const TkoThreadBuffer& view) {
  TkoThreadBuffer::ReadAccess access(view);
  out.insert(out.end(), access.data(), access.data() + view.Size());
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TkoMBSimpleTransa

TkoMBSimpleTransa::TkoMBSimpleTransa(TkoMBDevice* device, bool system)
    : TkoMBTransaction(device, system) {}

TkoMBSimpleTransa::~TkoMBSimpleTransa() {
  // The chains are what a running pass reads; leave the owner's list first.
  Unlink();
}

void TkoMBSimpleTransa::AnalyzeContent() {
  const std::string read = GetValue(kSetup, "readblocks", "");
  SetReadBlocks(read.empty() ? nullptr : new TkoRegBlock(read));
  const std::string write = GetValue(kSetup, "writeblocks", "");
  SetWriteBlocks(write.empty() ? nullptr : new TkoRegBlock(write));
  TkoMBTransaction::AnalyzeContent();
}

void TkoMBSimpleTransa::SetReadBlocks(TkoRegBlock* chain) {
  SetBlocks(Dir::Read, chain);
}
void TkoMBSimpleTransa::SetWriteBlocks(TkoRegBlock* chain) {
  SetBlocks(Dir::Write, chain);
}

void TkoMBSimpleTransa::SetBlocks(Dir dir, TkoRegBlock* chain) {
  std::unique_ptr<TkoRegBlock> owned(chain);
  TkoRegDataBuffer* buffer = GetDevice()->GetRegBuffer();
  {
    // The worker reads the chains while it runs this transaction; replacing them waits
    // for that run to end.
    auto pass = GetDevice()->GetTransactions().LockIdle(this);
    auto& slot = dir == Dir::Read ? readBlocks_ : writeBlocks_;
    slot = std::move(owned);
    if (slot) {
      if (buffer && buffer->DefsList()) {
        // A read answer carries 5 bytes besides the data, a write request 8 (with a
        // margin of the component's framing).
        const int32_t limit = buffer->DefsList()->GetMaxBufferSize() - (dir == Dir::Read ? 5 : 8);
        for (TkoRegBlock* b = slot.get(); b; b = b->Next()) {
          if (!b->Valid()) continue;
          while (b->Count() > 1 &&
                 buffer->DefsList()->BlockBytes(b->First(), b->Count()) >= limit) {
            if (!b->Split(2)) break;
          }
        }
      }
      slot->Bind(buffer);
    }
  }
  auto& slot = dir == Dir::Read ? readBlocks_ : writeBlocks_;
  SetValue(kSetup, dir == Dir::Read ? "readblocks" : "writeblocks", slot ? slot->ToText() : "");
  NotifySetupChange();
}

std::string TkoMBSimpleTransa::CategoryText(const std::string& category) const {
  TkoRegDataBuffer* buffer = GetDevice()->GetRegBuffer();
  if (!buffer || !buffer->DefsList()) return "";
  return buffer->DefsList()->GetCategoryText(category);
}

void TkoMBSimpleTransa::SetReadBlocksText(const std::string& category) {
  const std::string text = CategoryText(category);
  SetReadBlocks(text.empty() ? nullptr : new TkoRegBlock(text));
}

void TkoMBSimpleTransa::SetWriteBlocksText(const std::string& category) {
  const std::string text = CategoryText(category);
  SetWriteBlocks(text.empty() ? nullptr : new TkoRegBlock(text));
}

void TkoMBSimpleTransa::SetReadBlock(uint16_t start, uint16_t count) {
  SetReadBlocks(new TkoRegBlock(start, count, nullptr));
}

void TkoMBSimpleTransa::SetWriteBlock(uint16_t start, uint16_t count) {
  SetWriteBlocks(new TkoRegBlock(start, count, nullptr));
}

void TkoMBSimpleTransa::SetReadAddress(uint16_t address) {
  MoveFirst(Dir::Read, address);
}
void TkoMBSimpleTransa::SetWriteAddress(uint16_t address) {
  MoveFirst(Dir::Write, address);
}

void TkoMBSimpleTransa::MoveFirst(Dir dir, uint16_t address) {
  auto& slot = dir == Dir::Read ? readBlocks_ : writeBlocks_;
  if (!slot) {
    SetBlocks(dir, new TkoRegBlock(address, 1, nullptr));
    return;
  }
  if (slot->First() == address) return;
  {
    auto pass = GetDevice()->GetTransactions().LockIdle(this);
    slot->MoveTo(address);  // re-splits and re-binds the block
  }
  SetValue(kSetup, dir == Dir::Read ? "readblocks" : "writeblocks", slot->ToText());
}

void TkoMBSimpleTransa::SetDefaultName() {
  TkoMBTransaction::SetDefaultName();
  std::string name = GetTransaName();
  char buf[48];
  if (readBlocks_) {
    std::snprintf(buf, sizeof buf, "(%dr%d)", readBlocks_->First(), readBlocks_->Count());
    name += buf;
  }
  if (writeBlocks_) {
    std::snprintf(buf, sizeof buf, "(%dw%d)", writeBlocks_->First(), writeBlocks_->Count());
    name += buf;
  }
  SetNameQuietly(name);
}

void TkoMBSimpleTransa::BuildRead(const TkoRegBlock& block) {
  Query.clear();
  Query.push_back(GetSlaveAddress());
  Query.push_back(vx::MBFunction::kReadHoldingRegisters);
  PutWord(Query, block.First());
  PutWord(Query, block.Count());
}

void TkoMBSimpleTransa::BuildWrite(const TkoRegBlock& block) {
  const TkoThreadBuffer& view = *block.View();
  Query.clear();
  Query.push_back(GetSlaveAddress());
  if (block.Count() < 2) {
    Query.push_back(vx::MBFunction::kWriteSingleRegister);
    PutWord(Query, block.First());
  } else {
    Query.push_back(vx::MBFunction::kWriteMultipleRegisters);
    PutWord(Query, block.First());
    PutWord(Query, block.Count());
    Query.push_back(static_cast<uint8_t>(view.Size() & 0xFF));
  }
  AppendView(Query, view);
}

int32_t TkoMBSimpleTransa::ReadBlock(const TkoRegBlock& block) {
  TkoThreadBuffer* view = block.View();
  if (!view) return vx::mbresult::kNoDataBuffer;
  if (Response.size() < 3) return vx::mbresult::kUnexpectedDataSize;
  const std::size_t n = Response[2];
  // The answer must also hold the bytes its count announces; a short one would
  // otherwise copy past its end.
  if (static_cast<int32_t>(n) != view->Size() || Response.size() < 3 + n)
    return vx::mbresult::kUnexpectedDataSize;
  TkoThreadBuffer::WriteAccess access(*view);
  if (std::memcmp(access.data(), Response.data() + 3, n) != 0) {
    dataChanged_ = true;
    std::memcpy(access.data(), Response.data() + 3, n);
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// The kinds

TkoMBReadHoldRegisters::TkoMBReadHoldRegisters(TkoMBDevice* device, bool system, uint16_t count,
                                               uint16_t start)
    : TkoMBSimpleTransa(device, system) {
  SetReadBlock(start, count);
  SetDefaultName();
}

int32_t TkoMBReadHoldRegisters::TxRx(TkoMBServerLink* server) {
  dataChanged_ = false;
  const TkoRegBlock* block = GetReadBlocks();
  if (!block || !block->View()) return vx::mbresult::kNoDataBuffer;
  BuildRead(*block);
  const int32_t result = Exchange(server);
  if (result != 0) return result;
  return ReadBlock(*block);
}

TkoMBWriteSingleRegister::TkoMBWriteSingleRegister(TkoMBDevice* device, bool system,
                                                   uint16_t address)
    : TkoMBSimpleTransa(device, system) {
  SetWriteBlock(address, 1);
  SetDefaultName();
}

int32_t TkoMBWriteSingleRegister::TxRx(TkoMBServerLink* server) {
  const TkoRegBlock* block = GetWriteBlocks();
  if (!block || !block->View()) return vx::mbresult::kNoDataBuffer;
  Query.clear();
  Query.push_back(GetSlaveAddress());
  Query.push_back(vx::MBFunction::kWriteSingleRegister);
  PutWord(Query, block->First());
  AppendView(Query, *block->View());
  return Exchange(server);
}

TkoMBChainedTransa::TkoMBChainedTransa(TkoMBDevice* device, bool system)
    : TkoMBSimpleTransa(device, system) {
  SetDefaultName();
}

int32_t TkoMBChainedTransa::TxRx(TkoMBServerLink* server) {
  dataChanged_ = false;
  int32_t result = 0;
  for (const TkoRegBlock* b = GetReadBlocks(); b && result != vx::mbresult::kTimeout;
       b = b->Next()) {
    if (!b->Valid() || !b->View()) continue;
    BuildRead(*b);
    result = Exchange(server);
    if (result == 0) result = ReadBlock(*b);
  }
  for (const TkoRegBlock* b = GetWriteBlocks(); b && result != vx::mbresult::kTimeout;
       b = b->Next()) {
    if (!b->Valid() || !b->View()) continue;
    BuildWrite(*b);
    result = Exchange(server);
  }
  return result;
}

// No editor exists for chained transactions: none is ever offered as editable.
int TkoMBChainedTransa::EditDlg(int) {
  return 1;
}

TkoMBDeviceVersion::TkoMBDeviceVersion(TkoMBThread* thread, bool system, int32_t repeatTime)
    : TkoMBTransaction(thread, system) {
  if (repeatTime != 0) {
    SetRepeatTime(repeatTime);
    SetTermReasons(trResponse);
  }
  SetDefaultName();
}

TkoMBReadHoldRegisters::~TkoMBReadHoldRegisters() {
  Unlink();
}

TkoMBWriteSingleRegister::~TkoMBWriteSingleRegister() {
  Unlink();
}

TkoMBChainedTransa::~TkoMBChainedTransa() {
  Unlink();
}

TkoMBDeviceVersion::~TkoMBDeviceVersion() {
  Unlink();
}

int32_t TkoMBDeviceVersion::TxRx(TkoMBServerLink* server) {
  {
    std::lock_guard guard(versionMutex_);
    versionValid_ = false;
  }
  Query = {GetSlaveAddress(), vx::MBFunction::kDeviceVersion};
  const int32_t result = Exchange(server);
  if (result != 0) return result;
  // Address, function code and five words, nothing more and nothing less.
  if (Response.size() != 12) return vx::mbresult::kUnexpectedDataSize;
  TkoVersionRecord v;
  v.Board = WordAt(Response, 2);
  v.Model = WordAt(Response, 4);
  // Characters travel low byte first.
  v.Variant[0] = static_cast<char>(Response[7]);
  v.Variant[1] = static_cast<char>(Response[6]);
  v.SetVersionWord(WordAt(Response, 8));
  v.Suffix[0] = static_cast<char>(Response[11]);
  v.Suffix[1] = static_cast<char>(Response[10]);
  std::lock_guard guard(versionMutex_);
  version_ = v;
  versionValid_ = true;
  return 0;
}

TkoVersionRecord TkoMBDeviceVersion::GetVersion() const {
  std::lock_guard guard(versionMutex_);
  return version_;
}

bool TkoMBDeviceVersion::GetVersionValid() const {
  std::lock_guard guard(versionMutex_);
  return versionValid_;
}
