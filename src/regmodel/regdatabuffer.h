#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class TkoRegBlock;
class TkoRegDefsList;
class TkoRegister;
struct TkoLoadIssue;
class TkoTextResource;
class TkoThreadBuffer;

// Result code of a direct transfer that no connected device carried out.
inline constexpr int32_t kRegBufferNotReady = -11;

// The register image of one device for one data model, laid out by the definition list,
// and one register per definition. Every slave device derives from it and supplies the
// direct single-register transfers.
class TkoRegDataBuffer {
 public:
  // Throws EkoException when the list is null. The list's definitions must be built and
  // the list must outlive the buffer.
  explicit TkoRegDataBuffer(TkoRegDefsList* defsList);
  virtual ~TkoRegDataBuffer();
  TkoRegDataBuffer(const TkoRegDataBuffer&) = delete;
  TkoRegDataBuffer& operator=(const TkoRegDataBuffer&) = delete;

  // Builds image and registers once; any failure leaves the buffer without image, on
  // which every lookup answers null or 0.
  void Allocate(TkoRegDefsList* defsList);
  void Release();

  TkoRegDefsList* DefsList() const { return defsList_; }
  TkoThreadBuffer* Image() const { return image_.get(); }

  int RegisterCount() const;
  // The register at a position (address order), or null.
  TkoRegister* RegisterByIndex(int index) const;
  TkoRegister* RegisterAt(uint16_t address) const;
  // Exact name after trimming the argument; the last register of that name.
  TkoRegister* FindRegister(const std::string& name) const;

  // A view on the image bytes of addresses first .. first+count-1, sharing the image's
  // lock; null when the range is empty or does not lie inside the image.
  [[nodiscard]] std::unique_ptr<TkoThreadBuffer> CreateView(int first, int count) const;

  // Saves every register of the chain's valid blocks into the section.
  void SaveBlocks(const TkoRegBlock* chain, const std::string& section,
                  TkoTextResource* resource) const;
  // Loads the registers named in the section that the filter admits (all when null) and
  // returns one report line per key line: "Name=Found.", "Name=NOT_FOUND!",
  // "Name=Excluded!" or "key=UNKNOWN!", each ended by CR LF. Registers outside the filter
  // and names without a register are left alone. Values a loaded register could not take
  // as written (clamped, unreadable, missing elements) go to `issues` when given.
  std::string LoadBlocks(const std::string& section, TkoTextResource* resource,
                         const TkoRegBlock* filter, std::vector<TkoLoadIssue>* issues = nullptr);

  // Direct transfer of one register between the image and the device, waiting for it
  // when asked; the transfer's result code. A plain buffer reaches no device, so it
  // answers kRegBufferNotReady rather than report a transfer that never happened.
  [[nodiscard]] virtual int32_t ReadReg(TkoRegister* reg, bool wait);
  [[nodiscard]] virtual int32_t WriteReg(TkoRegister* reg, bool wait);

 private:
  TkoRegDefsList* defsList_ = nullptr;
  std::unique_ptr<TkoThreadBuffer> image_;
  std::vector<std::unique_ptr<TkoRegister>> registers_;  // in the list's definition order
  // Exact register name -> position of the last register of that name.
  std::unordered_map<std::string, int> byName_;
};
