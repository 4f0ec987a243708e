// Comparing listings (follow mode prints only what changed) and the entries
// a listing holds.
#include "tools/portal_listing.h"

#include <algorithm>
#include <iterator>

namespace {

bool Same_Entry(const Portal_Entry &a, const Portal_Entry &b) {
  return std::equal(std::begin(a.Name), std::end(a.Name), std::begin(b.Name)) &&
         a.Descriptor_Length == b.Descriptor_Length &&
         a.Transport_Stream_Id == b.Transport_Stream_Id && a.Service_Id == b.Service_Id;
}

} // namespace

// The entries and the count; not how the list came about.
bool Same_Listing(const Portal_Listing &a, const Portal_Listing &b) {
  return a.Count == b.Count &&
         std::equal(a.Entries.begin(), a.Entries.end(), b.Entries.begin(), Same_Entry);
}

Portal_Listing Default_Listing(int portal) {
  Portal_Listing listing;
  listing.Entries = Default_Portal_Row(portal);
  return listing;
}

int32_t Held_Entry_Count(const Portal_Listing &listing) {
  return listing.Count > 0 ? listing.Count : 1;
}
