// A small JSON reader for the command-line tests: enough to check that the
// output is valid JSON and to walk it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvyn::testjson {

struct Value;
using Object = std::map<std::string, Value>;
using Array = std::vector<Value>;

struct Value {
  std::variant<std::nullptr_t, bool, double, std::string, std::shared_ptr<Array>, std::shared_ptr<Object>>
      data;

  bool IsObject() const { return std::holds_alternative<std::shared_ptr<Object>>(data); }
  bool IsArray() const { return std::holds_alternative<std::shared_ptr<Array>>(data); }
  const Object& AsObject() const { return *std::get<std::shared_ptr<Object>>(data); }
  const Array& AsArray() const { return *std::get<std::shared_ptr<Array>>(data); }
  const std::string& AsString() const { return std::get<std::string>(data); }
  double AsNumber() const { return std::get<double>(data); }
  const Value& operator[](const std::string& key) const { return AsObject().at(key); }
};

// The whole text as one JSON value (trailing blanks allowed), or nothing when
// it is not valid JSON.
std::optional<Value> Parse(std::string_view text);

}  // namespace corvyn::testjson
