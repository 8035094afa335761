#pragma once
// The smallest device a connection thread can run, for the engine benchmarks: a register
// image of a data model and a list of transactions, all on slave 1.
#include "modbus/mbthread.h"
#include "modbus/mbtransaction.h"
#include "regmodel/regdatabuffer.h"

namespace vxbench {

class BenchDevice final : public TkoMBDevice {
 public:
  explicit BenchDevice(TkoRegDefsList* model) : buffer_(model) {}
  ~BenchDevice() override {
    if (thread_) thread_->RemoveDevice(this);
    while (list_.Size() > 0) delete list_.Snapshot().front();
  }
  TkoMBTransaList& GetTransactions() override { return list_; }
  bool IsSetupEnabled() const override { return true; }
  uint8_t GetSlaveAddress() const override { return 1; }
  int32_t GetMaxFault() const override { return 0; }
  int32_t GetDefaultRepeatTime() const override { return 1; }
  TkoRegDataBuffer* GetRegBuffer() override { return &buffer_; }
  TkoMBThread* GetThread() const override { return thread_; }
  void SetThread(TkoMBThread* t) override {
    if (t == thread_) return;
    if (thread_) thread_->RemoveDevice(this);
    thread_ = t;
    if (thread_) thread_->AddDevice(this);
  }
  void DetachThread() override { thread_ = nullptr; }
  void AddTransa(TkoMBTransaction* t) override { list_.Add(t); }
  void RemoveTransa(TkoMBTransaction* t) override { list_.Remove(t); }
  void DoTransaError(TkoMBTransaction*) override { ++errors; }
  void DoTransaResponse(TkoMBTransaction*) override { ++responses; }
  void DoStateChange(TkoMBObject*) override {}
  void NotifySetupChange(TkoMBObject*) override {}

  long errors = 0;
  long responses = 0;

 private:
  TkoRegDataBuffer buffer_;
  TkoMBThread* thread_ = nullptr;
  TkoMBTransaList list_;
};

}  // namespace vxbench
