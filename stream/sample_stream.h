// The demo capture that make-sample-stream writes: what it holds, so tests
// can compare a scan of it against what went in.
#pragma once

#include "stream/eit_writer.h"

#include <vector>

constexpr int Sample_Carousel_Rounds = 3;
constexpr uint16_t Sample_Video_Pid = 0x0100;
constexpr uint16_t Sample_Audio_Pid = 0x0101;

// The entries of `portal`'s source section in the sample (names in
// ISO-8859-1, at most 23 bytes).
std::vector<Portal_Listing_Entry> Sample_Portal_Entries(int portal);

// The source section of `portal` as the sample carries it: portal 2's
// source lies on another transport stream and comes as EIT other (0x4F).
Byte_Vector Sample_Source_Section(int portal, const std::vector<Portal_Listing_Entry> &entries);

// The whole capture: the EIT carousel on PID 0x12, repeated
// Sample_Carousel_Rounds times, with the other services' EIT sections,
// section 1 of a portal service, damaged packets and video and audio
// packets between.
Byte_Vector Make_Sample_Stream();
