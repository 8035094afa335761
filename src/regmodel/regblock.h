#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/threadbuffer.h"

class TkoRegDataBuffer;
class TkoRegDefsList;

// A range of consecutive register addresses, linked into a chain. Chains come from block
// list texts ("100/119,200"), name what transactions transfer, and select the registers
// of a setup file. A block owns the rest of its chain and its view.
class TkoRegBlock {
 public:
  // Parses a block list text. The items are taken from the end, so the chain holds them
  // in reverse text order; an invalid item ends the chain and stays in it.
  explicit TkoRegBlock(const std::string& text);
  TkoRegBlock(uint16_t first, uint16_t count, TkoRegBlock* next);
  ~TkoRegBlock();
  TkoRegBlock(const TkoRegBlock&) = delete;
  TkoRegBlock& operator=(const TkoRegBlock&) = delete;

  // Splits this block into parts blocks; the earlier parts take the smaller shares.
  bool Split(int parts);
  int TotalCount() const;
  void MoveTo(uint16_t address);
  // Rebuilds the view on the owner's image, first splitting this block until it fits in
  // one message of the owner's data model.
  void Rebind();
  void Bind(TkoRegDataBuffer* buffer);
  bool Contains(int address) const;
  std::string ToText() const;

  uint16_t First() const { return first_; }
  uint16_t Count() const { return count_; }
  bool Valid() const { return valid_; }
  TkoRegDataBuffer* Owner() const { return owner_; }
  TkoThreadBuffer* View() const { return view_.get(); }
  TkoRegBlock* Next() const { return next_; }

 private:
  void DestroyView();

  uint16_t first_ = 0;
  uint16_t count_ = 0;
  TkoRegDataBuffer* owner_ = nullptr;
  std::unique_ptr<TkoThreadBuffer> view_;
  bool valid_ = false;
  TkoRegBlock* next_ = nullptr;
};

namespace vx {

// The block chain of a data-model category ("[Categories]" key of that name), owned by
// the caller; null when the category is missing or empty.
std::unique_ptr<TkoRegBlock> GetCategory(TkoRegDefsList& list, const std::string& category);

}  // namespace vx
