#include "platform/threadbuffer.h"

#include <mutex>

#include "platform/koexception.h"

TkoThreadBuffer::TkoThreadBuffer(std::int32_t size)
    : ownLock_(std::make_unique<std::shared_mutex>()), lock_(ownLock_.get()), owner_(true) {
  std::unique_lock guard(*lock_);
  if (size > 0) {
    ownData_ = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(size));  // zeroed
    data_ = ownData_.get();
    size_ = size;
  }
}

TkoThreadBuffer::TkoThreadBuffer(std::int32_t size, std::uint8_t* data, std::shared_mutex* lock)
    : owner_(false) {
  if (data == nullptr || lock == nullptr)
    throw EkoException("You must specify access structure and buffer pointer!");
  lock_ = lock;
  std::unique_lock guard(*lock_);
  size_ = size > 0 ? size : 0;
  data_ = data;
}

TkoThreadBuffer::~TkoThreadBuffer() {
  if (!owner_) return;
  {
    std::unique_lock guard(*lock_);
    size_ = 0;
    data_ = nullptr;
    ownData_.reset();
  }
}

std::unique_ptr<TkoThreadBuffer> TkoThreadBuffer::CreateView(std::int32_t offset,
                                                             std::int32_t size) const {
  if (offset < 0 || size < 0 || offset >= size_ || size_ - offset < size) return nullptr;
  return std::make_unique<TkoThreadBuffer>(size, data_ + offset, lock_);
}

const std::uint8_t* TkoThreadBuffer::BeginRead() const {
  lock_->lock_shared();
  return data_;
}

void TkoThreadBuffer::EndRead() const {
  lock_->unlock_shared();
}

std::uint8_t* TkoThreadBuffer::BeginWrite() {
  lock_->lock();
  return data_;
}

void TkoThreadBuffer::EndWrite() {
  lock_->unlock();
}
