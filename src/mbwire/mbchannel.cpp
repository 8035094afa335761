#include "mbwire/mbchannel.h"

#include "mbwire/mbresult.h"

namespace vx {

int32_t MBChannel::BeginExchange(std::vector<uint8_t>& dropped) {
  (void)Read(dropped, MBClock::now());
  return BeginExchange();
}

std::pair<std::unique_ptr<MBMemoryChannel>, std::unique_ptr<MBMemoryChannel>>
MBMemoryChannel::Pair() {
  auto ab = std::make_shared<Queue>();
  auto ba = std::make_shared<Queue>();
  std::unique_ptr<MBMemoryChannel> a(new MBMemoryChannel(ba, ab));
  std::unique_ptr<MBMemoryChannel> b(new MBMemoryChannel(ab, ba));
  a->peer_ = b.get();
  b->peer_ = a.get();
  return {std::move(a), std::move(b)};
}

MBMemoryChannel::~MBMemoryChannel() {
  if (peer_ != nullptr) peer_->peer_ = nullptr;
}

void MBMemoryChannel::WriteAfter(std::chrono::microseconds delay, std::span<const uint8_t> bytes) {
  {
    std::lock_guard lock(out_->mutex);
    const auto due = MBClock::now() + delay;
    // Delivery keeps the order of writing even when a later chunk has a shorter delay.
    const auto last = out_->chunks.empty() ? due : std::max(due, out_->chunks.back().due);
    out_->chunks.push_back({last, std::vector<uint8_t>(bytes.begin(), bytes.end())});
  }
  out_->cv.notify_all();
}

int32_t MBMemoryChannel::BeginExchange() {
  std::lock_guard lock(in_->mutex);
  const auto now = MBClock::now();
  while (!in_->chunks.empty() && in_->chunks.front().due <= now) in_->chunks.pop_front();
  return mbresult::kOk;
}

int32_t MBMemoryChannel::Write(std::span<const uint8_t> bytes) {
  if (peer_ != nullptr && peer_->handler_) {
    peer_->handler_(*peer_, bytes);
    return mbresult::kOk;
  }
  WriteAfter(std::chrono::microseconds(0), bytes);
  return mbresult::kOk;
}

int32_t MBMemoryChannel::Read(std::vector<uint8_t>& into, MBClock::time_point deadline) {
  std::unique_lock lock(in_->mutex);
  for (;;) {
    const auto now = MBClock::now();
    if (!in_->chunks.empty() && in_->chunks.front().due <= now) break;
    if (now >= deadline) return mbresult::kTimeout;
    const auto wake = in_->chunks.empty() ? deadline : std::min(deadline, in_->chunks.front().due);
    in_->cv.wait_until(lock, wake);
  }
  const auto now = MBClock::now();
  while (!in_->chunks.empty() && in_->chunks.front().due <= now) {
    auto& c = in_->chunks.front();
    into.insert(into.end(), c.bytes.begin(), c.bytes.end());
    in_->chunks.pop_front();
  }
  return mbresult::kOk;
}

}  // namespace vx
