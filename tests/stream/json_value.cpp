// The small JSON reader: recursive descent over the text.
#include "tests/stream/json_value.h"

#include <stdexcept>

namespace {

struct Json_Cursor {
  const std::string &Text;
  std::size_t At = 0;
};

[[noreturn]] void Fail(const Json_Cursor &cursor, const char *what) {
  throw std::runtime_error(std::string("JSON: ") + what + " at " + std::to_string(cursor.At));
}

void Skip_Space(Json_Cursor &cursor) {
  while (cursor.At < cursor.Text.size() &&
         std::string(" \t\r\n").find(cursor.Text[cursor.At]) != std::string::npos)
    ++cursor.At;
}

bool Take(Json_Cursor &cursor, const std::string &word) {
  Skip_Space(cursor);
  if (cursor.Text.compare(cursor.At, word.size(), word) != 0)
    return false;
  cursor.At += word.size();
  return true;
}

void Expect(Json_Cursor &cursor, const std::string &word) {
  if (!Take(cursor, word))
    Fail(cursor, ("expected " + word).c_str());
}

void Append_Code_Point(std::string &out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string Parse_String(Json_Cursor &cursor) {
  Expect(cursor, "\"");
  std::string out;
  const std::string &text = cursor.Text;
  while (cursor.At < text.size() && text[cursor.At] != '"') {
    const unsigned char c = static_cast<unsigned char>(text[cursor.At++]);
    if (c < 0x20)
      Fail(cursor, "raw control character in string");
    if (c != '\\') {
      out += static_cast<char>(c);
      continue;
    }
    if (cursor.At >= text.size())
      break;
    const char escape = text[cursor.At++];
    const std::string simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
    if (simple.find(escape) != std::string::npos) {
      out += meaning[simple.find(escape)];
    } else if (escape == 'u' && cursor.At + 4 <= text.size()) {
      Append_Code_Point(out,
                        static_cast<unsigned>(std::stoul(text.substr(cursor.At, 4), nullptr, 16)));
      cursor.At += 4;
    } else {
      Fail(cursor, "bad escape");
    }
  }
  Expect(cursor, "\"");
  return out;
}

Json_Value Parse_Value(Json_Cursor &cursor);

Json_Value Parse_Object(Json_Cursor &cursor) {
  Json_Value value;
  value.Type = Json_Value::Object;
  if (Take(cursor, "}"))
    return value;
  do {
    Skip_Space(cursor);
    const std::string key = Parse_String(cursor);
    Expect(cursor, ":");
    value.Members[key] = Parse_Value(cursor);
  } while (Take(cursor, ","));
  Expect(cursor, "}");
  return value;
}

Json_Value Parse_Array(Json_Cursor &cursor) {
  Json_Value value;
  value.Type = Json_Value::Array;
  if (Take(cursor, "]"))
    return value;
  do
    value.Items.push_back(Parse_Value(cursor));
  while (Take(cursor, ","));
  Expect(cursor, "]");
  return value;
}

Json_Value Parse_Value(Json_Cursor &cursor) {
  Json_Value value;
  Skip_Space(cursor);
  if (Take(cursor, "{"))
    return Parse_Object(cursor);
  if (Take(cursor, "["))
    return Parse_Array(cursor);
  if (cursor.At < cursor.Text.size() && cursor.Text[cursor.At] == '"') {
    value.Type = Json_Value::String;
    value.Text = Parse_String(cursor);
  } else if (Take(cursor, "true")) {
    value.Type = Json_Value::Bool;
    value.Truth = true;
  } else if (Take(cursor, "false")) {
    value.Type = Json_Value::Bool;
  } else if (Take(cursor, "null")) {
  } else {
    std::size_t used = 0;
    try {
      value.Integer = std::stoll(cursor.Text.substr(cursor.At), &used);
    } catch (const std::exception &) {
      Fail(cursor, "unexpected character");
    }
    value.Type = Json_Value::Number;
    cursor.At += used;
  }
  return value;
}

} // namespace

const Json_Value &Json_Value::operator[](const std::string &key) const {
  const auto found = Members.find(key);
  if (Type != Object || found == Members.end())
    throw std::runtime_error("JSON: no member " + key);
  return found->second;
}

const Json_Value &Json_Value::operator[](std::size_t index) const {
  if (Type != Array || index >= Items.size())
    throw std::runtime_error("JSON: no item " + std::to_string(index));
  return Items[index];
}

Json_Value Parse_Json(const std::string &text) {
  Json_Cursor cursor{text};
  Json_Value value = Parse_Value(cursor);
  Skip_Space(cursor);
  if (cursor.At != text.size())
    Fail(cursor, "text after the value");
  return value;
}
