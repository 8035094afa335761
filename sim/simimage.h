#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "regmodel/dmcollection.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"

namespace vx {

// The simulated drive's register image, laid out exactly as the terminal lays out its
// own: every address from 0 to the highest defined one takes one word, a defined address
// takes all the bytes of its definition (a long, an array or a date answers with all its
// words without shifting the addresses after it).
//
// The EEPROM is the part of the image that the category "EEPromSetup" covers, together
// with every address that some register names as its EEPROM copy. Single-threaded: the
// simulator's event loop is its only user.
class SimImage {
 public:
  // Loads and builds the data model; throws EkoException naming the file and the fault.
  explicit SimImage(const std::string& modelFile);
  ~SimImage();
  SimImage(const SimImage&) = delete;
  SimImage& operator=(const SimImage&) = delete;

  TkoRegDefsList& Model() { return *list_; }
  const std::string& ModelFile() const { return modelFile_; }
  // The largest frame the firmware takes or sends, in bytes (address to CRC).
  int MaxFrameBytes() const { return maxFrame_; }

  // --- Wire access -------------------------------------------------------------------
  // True when every address of the range has a definition.
  bool AllDefined(uint16_t first, int count) const;
  // Bytes the range covers in the image.
  int RangeBytes(uint16_t first, int count) const;
  // Appends the range's bytes, as they travel on the wire.
  void Read(uint16_t first, int count, std::vector<uint8_t>& out) const;
  // Copies `data` (exactly RangeBytes long) into the range.
  void Write(uint16_t first, int count, std::span<const uint8_t> data);

  // --- Registers -----------------------------------------------------------------------
  TkoRegister* Find(const std::string& name) const { return buffer_->FindRegister(name); }
  TkoRegister* At(uint16_t address) const { return buffer_->RegisterAt(address); }
  TkoRegDataBuffer& Buffer() { return *buffer_; }

  // Addresses named by a category of the model, in ascending order (empty when absent).
  std::vector<uint16_t> CategoryAddresses(const std::string& category);
  bool IsEeprom(uint16_t address) const;
  bool TouchesEeprom(uint16_t first, int count) const;

  // --- Power-up and the EEPROM state file ----------------------------------------------
  // Every register with a default takes it, in every element.
  void AssignDefaults();
  // Each register with an EEPROM copy takes the copy's bytes, as a drive's RAM setup is
  // loaded at power-up.
  void PowerUp();
  // Reads the EEPROM registers from a state file. Throws EkoException when the file
  // cannot be read or is malformed; entries for addresses that are no EEPROM register of
  // this model are skipped and reported in `warnings`.
  void LoadState(const std::string& file, std::vector<std::string>* warnings);
  // Writes every EEPROM register to the file through a temporary file renamed over it.
  // Throws EkoException when it cannot.
  void SaveState(const std::string& file) const;

 private:
  std::string modelFile_;
  TkoDMCollection collection_;  // holds the predefined formats and definitions
  std::unique_ptr<TkoRegDefsList> list_;
  std::unique_ptr<TkoRegDataBuffer> buffer_;
  std::vector<bool> eeprom_;  // by address
  int maxFrame_ = 0;
};

}  // namespace vx
