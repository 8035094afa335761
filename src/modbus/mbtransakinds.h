#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "modbus/mbtransaction.h"
#include "regmodel/regblock.h"
#include "regmodel/versionrecord.h"

// A device transaction with chains of register blocks to read and to write. Blocks are
// split to fit one message of the device's data model and bound to the device's
// register image; the kinds below move data between those views and the wire.
class TkoMBSimpleTransa : public TkoMBTransaction {
 public:
  TkoMBSimpleTransa(TkoMBDevice* device, bool system);
  ~TkoMBSimpleTransa() override;

  void AnalyzeContent() override;

  // Takes ownership of the chain (null for none), splits and binds it, and stores its
  // text under "readblocks" / "writeblocks".
  void SetReadBlocks(TkoRegBlock* chain);
  void SetWriteBlocks(TkoRegBlock* chain);
  // The chain of a category of the device's data model (none when absent).
  void SetReadBlocksText(const std::string& category);
  void SetWriteBlocksText(const std::string& category);
  void SetReadBlock(uint16_t start, uint16_t count);
  void SetWriteBlock(uint16_t start, uint16_t count);
  // Moves the first block to a; without a chain, a one-register block at a.
  void SetReadAddress(uint16_t address);
  void SetWriteAddress(uint16_t address);
  void SetDefaultName() override;

  [[nodiscard]] TkoRegBlock* GetReadBlocks() const { return readBlocks_.get(); }
  [[nodiscard]] TkoRegBlock* GetWriteBlocks() const { return writeBlocks_.get(); }

 protected:
  // Builds a request into Query.
  void BuildRead(const TkoRegBlock& block);
  void BuildWrite(const TkoRegBlock& block);
  // Moves a 0x03 response into the block's view; -3 without a view, -2 when the byte
  // count does not match it. Sets DataChanged when the bytes differ from the image.
  int32_t ReadBlock(const TkoRegBlock& block);

 private:
  enum class Dir { Read, Write };
  void SetBlocks(Dir dir, TkoRegBlock* chain);
  void MoveFirst(Dir dir, uint16_t address);
  std::string CategoryText(const std::string& category) const;

  std::unique_ptr<TkoRegBlock> readBlocks_;
  std::unique_ptr<TkoRegBlock> writeBlocks_;
};

// Each kind leaves its owner's list first thing in its destructor: a pass must never
// run one whose own part is gone (its TxRx would be the abstract one).

// Function 0x03 for the first read block.
class TkoMBReadHoldRegisters : public TkoMBSimpleTransa {
 public:
  TkoMBReadHoldRegisters(TkoMBDevice* device, bool system, uint16_t count, uint16_t start);
  ~TkoMBReadHoldRegisters() override;
  int32_t TxRx(TkoMBServerLink* server) override;
  std::string ClassName() const override { return "TkoMBReadHoldRegisters"; }
};

// Function 0x06 for the first write block, with the image's bytes of that register.
class TkoMBWriteSingleRegister : public TkoMBSimpleTransa {
 public:
  TkoMBWriteSingleRegister(TkoMBDevice* device, bool system, uint16_t address);
  ~TkoMBWriteSingleRegister() override;
  int32_t TxRx(TkoMBServerLink* server) override;
  std::string ClassName() const override { return "TkoMBWriteSingleRegister"; }
};

// 0x03 for every read block, then 0x06 or 0x10 for every write block. A time-out stops
// every further exchange of the run, writes included.
class TkoMBChainedTransa : public TkoMBSimpleTransa {
 public:
  TkoMBChainedTransa(TkoMBDevice* device, bool system);
  ~TkoMBChainedTransa() override;
  int32_t TxRx(TkoMBServerLink* server) override;
  int EditDlg(int tag) override;
  std::string ClassName() const override { return "TkoMBChainedTransa"; }
};

// Function 0x41: the device's five version words.
class TkoMBDeviceVersion : public TkoMBTransaction {
 public:
  // A repeat time other than 0 repeats the request until the device answers.
  TkoMBDeviceVersion(TkoMBThread* thread, bool system, int32_t repeatTime);
  ~TkoMBDeviceVersion() override;
  int32_t TxRx(TkoMBServerLink* server) override;
  std::string ClassName() const override { return "TkoMBDeviceVersion"; }

  // Copies: the worker writes them while the user-interface thread may read.
  [[nodiscard]] TkoVersionRecord GetVersion() const;
  [[nodiscard]] bool GetVersionValid() const;

 private:
  mutable std::mutex versionMutex_;
  TkoVersionRecord version_;
  bool versionValid_ = false;
};
