#include "platform/workerthread.h"

#include <utility>

#include "platform/koexception.h"

namespace vx {

WorkerThread::~WorkerThread() {
  RequestTerminate();
  Join();
}

void WorkerThread::Start(std::function<void()> body) {
  if (thread_.joinable()) throw EkoException("Start: the thread is started already!");
  terminate_ = false;
  terminateEvent_.Reset();
  finished_.Reset();
  thread_ = std::thread([this, body = std::move(body)] {
    workerId_ = std::this_thread::get_id();
    body();
    finished_.Set();
  });
}

void WorkerThread::RequestTerminate() {
  terminate_ = true;
  terminateEvent_.Set();
}

bool WorkerThread::SleepUnlessTerminated(std::chrono::milliseconds time) const {
  return terminateEvent_.WaitFor(time);
}

bool WorkerThread::WaitFinished(std::optional<std::chrono::milliseconds> timeout) {
  if (!thread_.joinable()) return true;
  if (!timeout) {
    finished_.Wait();
    return true;
  }
  return finished_.WaitFor(*timeout);
}

void WorkerThread::Join() {
  if (IsWorkerThread()) throw EkoException("Join: a thread cannot wait for itself!");
  if (!thread_.joinable()) return;
  // The event first: a plain join would not run the hand-overs the worker waits for.
  finished_.Wait();
  thread_.join();
  workerId_ = std::thread::id();
}

}  // namespace vx
