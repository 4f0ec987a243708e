// Text and JSON pieces the tools' output is made of: JSON string literals,
// entry names (ISO-8859-1 bytes) as UTF-8, and the rows of the text entry
// table. No output of its own.
#pragma once

#include "core/portal_table.h"

#include <cstddef>
#include <cstdint>
#include <string>

enum class Json_Text {
  Latin1, // ISO-8859-1 bytes: every byte is a character
  Utf8,   // UTF-8 expected (a file name): each byte outside valid UTF-8 becomes U+FFFD
};

// A JSON string literal of `bytes`.
std::string Json_String(const std::string &bytes, Json_Text text);

// ISO-8859-1 text as UTF-8 for a terminal, control characters as '?'.
std::string Printable_Latin1(const std::string &bytes);

// An entry's name bytes up to the NUL, as ISO-8859-1.
std::string Entry_Name_Bytes(const Portal_Entry &entry);

// UTF-8 text padded with spaces to `width` characters.
std::string Padded(const std::string &text, std::size_t width);

// A count and its noun: "1 packet", "2 packets".
std::string Counted(uint64_t count, const char *one, const char *more);
std::string Plural(int64_t count, const char *one, const char *more);

// A value in hex with at least `digits` digits: "0x12", "0x0085".
std::string Hex(uint32_t value, int digits);

// The head of the text entry table ("#  Name  TS id  Service id").
std::string Entry_Table_Head();
// A line of the text entry table: index, name (ISO-8859-1), TS id, service id.
std::string Entry_Row(int32_t index, const std::string &name, int32_t transport_stream_id,
                      int32_t service_id);
