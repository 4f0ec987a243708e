// A small JSON reader for the whole-stream tests: enough of RFC 8259 to read
// portal-scan's output back (objects, arrays, strings with escapes, integers,
// true, false, null).
#pragma once

#include <map>
#include <string>
#include <vector>

struct Json_Value {
  enum Kind { Null, Bool, Number, String, Array, Object } Type = Null;
  bool Truth = false;
  long long Integer = 0;
  std::string Text; // UTF-8
  std::vector<Json_Value> Items;
  std::map<std::string, Json_Value> Members;

  const Json_Value &operator[](const std::string &key) const;
  const Json_Value &operator[](std::size_t index) const;
};

// Parses `text`, which must hold exactly one value. Throws std::runtime_error.
Json_Value Parse_Json(const std::string &text);
