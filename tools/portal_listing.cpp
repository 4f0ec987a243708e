// Comparing listings, for follow mode's "print only what changed".
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

bool Same_Listing(const Portal_Listing &a, const Portal_Listing &b) {
  return a.Count == b.Count &&
         std::equal(a.Entries.begin(), a.Entries.end(), b.Entries.begin(), Same_Entry);
}
