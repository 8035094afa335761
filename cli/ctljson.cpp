#include "cli/ctljson.h"

#include <cstdio>

#include "platform/cp1252.h"

namespace vx {

std::string CtlJson::Quote(std::string_view cp1252) {
  const std::string utf8 = Cp1252ToUtf8(cp1252);
  std::string out = "\"";
  for (const char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

void CtlJson::Key(std::string_view key) {
  if (!first_) text_ += ",";
  first_ = false;
  if (!key.empty()) text_ += Quote(key) + ":";
}

CtlJson& CtlJson::BeginObject(std::string_view key) {
  Key(key);
  text_ += "{";
  first_ = true;
  return *this;
}

CtlJson& CtlJson::EndObject() {
  text_ += "}";
  first_ = false;
  return *this;
}

CtlJson& CtlJson::BeginArray(std::string_view key) {
  Key(key);
  text_ += "[";
  first_ = true;
  return *this;
}

CtlJson& CtlJson::EndArray() {
  text_ += "]";
  first_ = false;
  return *this;
}

CtlJson& CtlJson::String(std::string_view key, std::string_view value) {
  Key(key);
  text_ += Quote(value);
  return *this;
}

CtlJson& CtlJson::Number(std::string_view key, long long value) {
  Key(key);
  text_ += std::to_string(value);
  return *this;
}

CtlJson& CtlJson::Bool(std::string_view key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

}  // namespace vx
