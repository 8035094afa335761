#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefinition.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace vxtest {

// Stands in for a slave device: records each direct transfer and answers the code set
// for the register's address (0 by default).
class StandInDevice : public TkoRegDataBuffer {
 public:
  using TkoRegDataBuffer::TkoRegDataBuffer;
  struct Call {
    char op;  // 'R' or 'W'
    int address;
    bool wait;
    bool operator==(const Call&) const = default;
  };
  int32_t ReadReg(TkoRegister* reg, bool wait) override { return Record('R', reg, wait); }
  int32_t WriteReg(TkoRegister* reg, bool wait) override { return Record('W', reg, wait); }

  std::vector<Call> calls;
  std::map<int, int32_t> codes;

 private:
  int32_t Record(char op, TkoRegister* reg, bool wait) {
    const int a = reg->Definition()->Address;
    calls.push_back({op, a, wait});
    auto it = codes.find(a);
    return it == codes.end() ? 0 : it->second;
  }
};

// A data model from text, chained to the built-in formats and standard definitions as the
// data-model collection chains it, with a stand-in device on it.
class ParModel {
 public:
  explicit ParModel(const std::string& text) {
    predefined_.LoadResource(TkoTextResource::kStdFormats);
    predefined_.AppendResource(TkoTextResource::kStdDefinitions);
    list_.SetText(text);
    list_.ChainResource(&predefined_);
    list_.BuildDefinitions();
    device = std::make_unique<StandInDevice>(&list_);
  }
  TkoRegister* R(const std::string& name) const { return device->FindRegister(name); }

 private:
  TkoTextResource predefined_;
  TkoRegDefsList list_;

 public:
  std::unique_ptr<StandInDevice> device;
};

}  // namespace vxtest
