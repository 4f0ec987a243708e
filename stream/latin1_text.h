// Entry names and other DVB text as the plug-in stores them, 8-bit
// ISO-8859-1, turned into UTF-8 for terminals, logs and JSON.
#pragma once

#include <string>

// Appends one ISO-8859-1 byte as its UTF-8 encoding.
void Append_Latin1_As_Utf8(std::string &out, unsigned char byte);

// The bytes as UTF-8.
std::string Utf8_From_Latin1(const std::string &bytes);
