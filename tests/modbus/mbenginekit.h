#pragma once
// Stand-ins for the engine tests: a scripted Modbus server component that the test
// drives through a shared "line", the real component noting every request, and a slave
// device that runs transactions on a small register image.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mbwire/mbresult.h"
#include "mbwire/mbserver.h"
#include "modbus/mbseams.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransaction.h"
#include "platform/threadbuffer.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefslist.h"

namespace vxtest {

using Bytes = std::vector<uint8_t>;

// What the server instances created by FakeFactory share with the test. Answers are
// taken from the script in order; with an empty script the responder decides, and
// without one every exchange times out.
struct FakeLine {
  struct Answer {
    int32_t result = 0;
    Bytes response;
  };

  mutable std::mutex mutex;
  std::condition_variable cv;
  bool throwOnCreate = false;
  bool openOk = true;
  bool connectOk = true;
  int creates = 0;
  int opens = 0;
  int connects = 0;
  int closes = 0;
  std::vector<std::string> puts;  // "Name=value" in the order of the calls
  std::vector<Bytes> queries;
  std::deque<Answer> script;
  std::function<Answer(const Bytes& query)> responder;

  template <class F>
  auto With(F&& f) const {
    std::lock_guard guard(mutex);
    return f();
  }
  int Creates() const {
    return With([&] { return creates; });
  }
  int Closes() const {
    return With([&] { return closes; });
  }
  std::vector<Bytes> Queries() const {
    return With([&] { return queries; });
  }
  std::size_t QueryCount() const {
    return With([&] { return queries.size(); });
  }
  void Script(std::initializer_list<Answer> answers) {
    std::lock_guard guard(mutex);
    script.insert(script.end(), answers.begin(), answers.end());
  }
};

class FakeServer : public TkoMBServerLink {
 public:
  explicit FakeServer(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}

  bool OpenConnection(const std::string& name, int16_t type) override {
    Put("Open", name + "," + std::to_string(type));
    std::lock_guard guard(line_->mutex);
    ++line_->opens;
    return line_->openOk;
  }
  void put_Retries(int16_t v) override {
    retries_ = v;
    Put("Retries", std::to_string(v));
  }
  void put_RaiseError(bool v) override { Put("RaiseError", v ? "1" : "0"); }
  void put_BaudRate(int32_t v) override { Put("BaudRate", std::to_string(v)); }
  void put_SilentInterval(int32_t v) override { Put("SilentInterval", std::to_string(v)); }
  void put_TimeOut(int32_t v) override { Put("TimeOut", std::to_string(v)); }
  void put_TcpPort(int32_t v) override { Put("TcpPort", std::to_string(v)); }
  void put_ComPort(int16_t v) override { Put("ComPort", std::to_string(v)); }
  void put_ByteSize(int16_t v) override { Put("ByteSize", std::to_string(v)); }
  void put_FlowControl(int16_t v) override { Put("FlowControl", std::to_string(v)); }
  void put_Parity(int16_t v) override { Put("Parity", std::to_string(v)); }
  void put_StopBits(int16_t v) override { Put("StopBits", std::to_string(v)); }
  void put_TransmissionMode(int16_t v) override { Put("TransmissionMode", std::to_string(v)); }
  void put_Host(const std::string& v) override { Put("Host", v); }
  bool Connect() override {
    std::lock_guard guard(line_->mutex);
    ++line_->connects;
    return line_->connectOk;
  }
  int32_t TxRxMessage(const Bytes& query, int16_t length, int16_t, Bytes& response) override {
    std::function<FakeLine::Answer(const Bytes&)> responder;
    FakeLine::Answer answer{vx::mbresult::kTimeout, {}};
    bool scripted = false;
    {
      std::lock_guard guard(line_->mutex);
      line_->queries.emplace_back(query.begin(), query.begin() + length);
      if (!line_->script.empty()) {
        answer = line_->script.front();
        line_->script.pop_front();
        scripted = true;
      } else {
        responder = line_->responder;
      }
    }
    line_->cv.notify_all();
    if (!scripted && responder) answer = responder(query);
    response = answer.response;
    return answer.result;
  }
  int16_t get_Retries() override { return retries_; }
  void CloseConnection() override {
    std::lock_guard guard(line_->mutex);
    ++line_->closes;
  }

 private:
  void Put(const std::string& name, const std::string& value) {
    std::lock_guard guard(line_->mutex);
    line_->puts.push_back(name + "=" + value);
  }
  std::shared_ptr<FakeLine> line_;
  int16_t retries_ = 0;
};

inline TkoMBServerFactory FakeFactory(const std::shared_ptr<FakeLine>& line) {
  return [line]() -> std::unique_ptr<TkoMBServerLink> {
    {
      std::lock_guard guard(line->mutex);
      ++line->creates;
      if (line->throwOnCreate) throw std::runtime_error("class not registered");
    }
    return std::make_unique<FakeServer>(line);
  };
}

// Installs a fake component for the lifetime of the scope.
class ScopedFakeServer {
 public:
  ScopedFakeServer() : line(std::make_shared<FakeLine>()) {
    TkoMBThread::SetServerFactory(FakeFactory(line));
  }
  ~ScopedFakeServer() { TkoMBThread::ResetServerFactory(); }
  std::shared_ptr<FakeLine> line;
};

// The real transport component, noting every request (the query bytes as sent).
class RecordingServer : public TkoMBServerRelay {
 public:
  struct Log {
    std::mutex mutex;
    std::vector<Bytes> queries;
  };
  explicit RecordingServer(std::shared_ptr<Log> log)
      : TkoMBServerRelay(vx::CreateTransportServer()), log_(std::move(log)) {}
  int32_t TxRxMessage(const Bytes& q, int16_t ql, int16_t rl, Bytes& r) override {
    {
      std::lock_guard guard(log_->mutex);
      log_->queries.emplace_back(q.begin(), q.begin() + ql);
    }
    return TkoMBServerRelay::TxRxMessage(q, ql, rl, r);
  }

 private:
  std::shared_ptr<Log> log_;
};

// A data model of `words` one-word registers at 0 .. words-1.
inline std::unique_ptr<TkoRegDefsList> SmallModel(int words, int maxBufferSize = 100) {
  auto list = std::make_unique<TkoRegDefsList>();
  std::string text = "[DataModel]\nMaxBufferSize=" + std::to_string(maxBufferSize) + "\n";
  for (int a = 0; a < words; ++a)
    text += "[" + std::to_string(a) + "]\nName=R" + std::to_string(a) + "\n";
  list->SetText(text);
  list->BuildDefinitions();
  return list;
}

// A slave device as the engine sees it, on its own register image.
class StandInDevice : public TkoMBDevice {
 public:
  explicit StandInDevice(TkoRegDefsList* model = nullptr, uint8_t address = 1)
      : address_(address), buffer_(model ? std::make_unique<TkoRegDataBuffer>(model) : nullptr) {}
  ~StandInDevice() override {
    if (thread_) thread_->RemoveDevice(this);
    for (;;) {
      TkoMBTransaction* t = nullptr;
      {
        auto pass = list_.Lock();
        if (pass.Size() == 0) break;
        t = pass[0];
      }
      delete t;
    }
  }

  TkoMBTransaList& GetTransactions() override { return list_; }
  bool IsSetupEnabled() const override { return enabled.load(); }
  uint8_t GetSlaveAddress() const override { return address_; }
  int32_t GetMaxFault() const override { return maxFault; }
  int32_t GetDefaultRepeatTime() const override { return repeatTime; }
  TkoRegDataBuffer* GetRegBuffer() override { return buffer_.get(); }
  TkoMBThread* GetThread() const override { return thread_; }
  void SetThread(TkoMBThread* thread) override {
    if (thread == thread_) return;
    if (thread_) thread_->RemoveDevice(this);
    thread_ = thread;
    if (thread_) thread_->AddDevice(this);
    DoStateChange(this);
  }
  void DetachThread() override {
    thread_ = nullptr;
    DoStateChange(this);
  }
  void AddTransa(TkoMBTransaction* t) override { list_.Add(t); }
  void RemoveTransa(TkoMBTransaction* t) override { list_.Remove(t); }
  void DoTransaError(TkoMBTransaction*) override { ++errors; }
  void DoTransaResponse(TkoMBTransaction*) override { ++responses; }
  void DoStateChange(TkoMBObject*) override { ++stateChanges; }
  void NotifySetupChange(TkoMBObject*) override { ++setupChanges; }

  // The image bytes of addresses first .. first+count-1 (one word each here).
  Bytes ImageBytes(int first, int count) const {
    TkoThreadBuffer::ReadAccess access(*buffer_->Image());
    return Bytes(access.data() + first * 2, access.data() + (first + count) * 2);
  }
  void SetImageBytes(int first, const Bytes& bytes) {
    TkoThreadBuffer::WriteAccess access(*buffer_->Image());
    std::copy(bytes.begin(), bytes.end(), access.data() + first * 2);
  }

  std::atomic<bool> enabled{true};
  int32_t maxFault = 0;
  int32_t repeatTime = 0;
  int errors = 0;
  int responses = 0;
  int stateChanges = 0;
  int setupChanges = 0;

 private:
  uint8_t address_;
  std::unique_ptr<TkoRegDataBuffer> buffer_;
  TkoMBThread* thread_ = nullptr;
  TkoMBTransaList list_;
};

// A device setup as a connection setup sees it.
class StandInEntry : public TkoXmlElement, public TkoMBDeviceEntry {
 public:
  StandInEntry(std::string name, int32_t address)
      : TkoXmlElement("device", ""), name_(std::move(name)), address_(address) {}
  std::string GetDeviceName() const override { return name_; }
  int32_t GetDeviceAddr() const override { return address_; }
  bool IsValid() const override { return valid; }
  bool GetEnabled() const override { return enabled; }
  bool HasSlave() const override { return false; }
  void StartIdentification() override { ++identifications; }

  bool valid = true;
  bool enabled = true;
  int identifications = 0;

 private:
  std::string name_;
  int32_t address_;
};

// A 0x03 answer: address, function, byte count, data.
inline Bytes ReadAnswer(uint8_t address, const Bytes& data) {
  // Sized once: growing a three-byte vector by insert() makes GCC 12 at -O3 see a copy
  // past its first buffer (-Warray-bounds), and one allocation is all this needs anyway.
  Bytes r(3 + data.size());
  r[0] = address;
  r[1] = 0x03;
  r[2] = static_cast<uint8_t>(data.size());
  std::copy(data.begin(), data.end(), r.begin() + 3);
  return r;
}

}  // namespace vxtest
