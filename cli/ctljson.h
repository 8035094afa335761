#pragma once
#include <string>
#include <string_view>

namespace vx {

// A small JSON writer for the --json documents: values are appended in order, commas and
// nesting are its business. Engine text (Windows-1252) is written as UTF-8.
class CtlJson {
 public:
  CtlJson& BeginObject(std::string_view key = {});
  CtlJson& EndObject();
  CtlJson& BeginArray(std::string_view key = {});
  CtlJson& EndArray();
  CtlJson& String(std::string_view key, std::string_view value);  // key empty: in an array
  CtlJson& Number(std::string_view key, long long value);
  CtlJson& Bool(std::string_view key, bool value);

  [[nodiscard]] const std::string& Text() const { return text_; }

 private:
  void Key(std::string_view key);
  static std::string Quote(std::string_view cp1252);

  std::string text_;
  bool first_ = true;  // no value yet in the innermost object or array
};

}  // namespace vx
