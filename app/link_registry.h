// LinkRegistry: every link shown since the process started, so no link is
// ever shown twice. Searched linearly; one lock, RegistryLock, held only for
// the check-and-add (and for the instant a search is marked ended).
#pragma once

#include <cstdint>
#include <mutex>

#include "app/search_ticket.h"
#include "text/text.h"

namespace taviro {

class LinkRegistry {
 public:
  // 1 when link was not registered and now is (a copy of it), 0 when it was.
  int AddLinkIfNew(const Text& link);
  // The same on behalf of a worker of search: -1 and nothing registered once
  // the search has ended. Decided under RegistryLock, so it is ordered with
  // EndSearch.
  int AddLinkIfNew(const Text& link, const SearchTicket& search);
  // Marks search ended. When this returns, no offer of that search is under
  // way and none can register anything. Waits at most for one linear scan.
  void EndSearch(SearchTicket& search);

  // A copy of the entries in the order first offered.
  TextArray Links() const;

 private:
  int AddLocked(const Text& link);

  mutable std::mutex registryLock_;  // RegistryLock
  TextArray links_;
};

}  // namespace taviro
