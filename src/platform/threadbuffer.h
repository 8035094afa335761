#pragma once
#include <cstdint>
#include <memory>
#include <shared_mutex>

// A byte buffer shared between a connection thread and the user-interface thread,
// guarded by a multiple-reader, single-writer lock. Views cut from a buffer share its
// lock, so one lock guards a device's whole register image whichever view is used.
//
// A view must not outlive the buffer it was cut from.
class TkoThreadBuffer {
 public:
  // An owning buffer of `size` zero bytes; no data when size <= 0.
  explicit TkoThreadBuffer(std::int32_t size);
  // A view of `size` bytes at `data`, guarded by `lock`, both borrowed.
  // Throws EkoException when data or lock is missing.
  TkoThreadBuffer(std::int32_t size, std::uint8_t* data, std::shared_mutex* lock);
  ~TkoThreadBuffer();

  TkoThreadBuffer(const TkoThreadBuffer&) = delete;
  TkoThreadBuffer& operator=(const TkoThreadBuffer&) = delete;

  // A view of `size` bytes at `offset`, owned by the caller; null when the range does not
  // lie inside this buffer (offset >= Size, or fewer than size bytes left).
  [[nodiscard]] std::unique_ptr<TkoThreadBuffer> CreateView(std::int32_t offset,
                                                            std::int32_t size) const;

  // Take the read (shared) or write (exclusive) lock and return the data; the lock is
  // held until the matching End call.
  [[nodiscard]] const std::uint8_t* BeginRead() const;
  void EndRead() const;
  [[nodiscard]] std::uint8_t* BeginWrite();
  void EndWrite();

  std::int32_t Size() const { return size_; }
  bool Owner() const { return owner_; }
  std::shared_mutex* Lock() const { return lock_; }

  // Scoped forms of BeginRead/EndRead and BeginWrite/EndWrite.
  class ReadAccess {
   public:
    explicit ReadAccess(const TkoThreadBuffer& b) : b_(b), data_(b.BeginRead()) {}
    ~ReadAccess() { b_.EndRead(); }
    ReadAccess(const ReadAccess&) = delete;
    ReadAccess& operator=(const ReadAccess&) = delete;
    const std::uint8_t* data() const { return data_; }

   private:
    const TkoThreadBuffer& b_;
    const std::uint8_t* data_;
  };
  class WriteAccess {
   public:
    explicit WriteAccess(TkoThreadBuffer& b) : b_(b), data_(b.BeginWrite()) {}
    ~WriteAccess() { b_.EndWrite(); }
    WriteAccess(const WriteAccess&) = delete;
    WriteAccess& operator=(const WriteAccess&) = delete;
    std::uint8_t* data() const { return data_; }

   private:
    TkoThreadBuffer& b_;
    std::uint8_t* data_;
  };

 private:
  std::unique_ptr<std::shared_mutex> ownLock_;
  std::unique_ptr<std::uint8_t[]> ownData_;
  std::shared_mutex* lock_ = nullptr;
  std::int32_t size_ = 0;
  std::uint8_t* data_ = nullptr;
  bool owner_;
};
