// What a scan found for one portal: the one result type the pass hands out
// and the explanation and the output take.
#pragma once

#include "core/portal_table.h"
#include "core/section_decoder.h"

#include <cstdint>

// What a portal's buttons hold: its Portal_Count and its row of the table.
struct Portal_Listing {
  int32_t Count = 0;
  Portal_Row Entries{};
  Shown_List Shown; // what kind of list it is
};

// A portal's listing before any decode: its default entry, count 0.
Portal_Listing Default_Listing(int portal);

bool Same_Listing(const Portal_Listing &a, const Portal_Listing &b);

// The entries the portal has, from slot 0 on: its count, or one (the
// default entry, or the single entry a decode put in its place) while the
// count is 0.
int32_t Held_Entry_Count(const Portal_Listing &listing);

struct Portal_Result {
  bool Decoded = false;   // the portal's decoder took a source section
  uint64_t Bytes_Fed = 0; // bytes handed to the decoder, all calls
  Portal_Listing Listing; // after the pass
};
