#include "app/link_registry.h"

namespace taviro {

int LinkRegistry::AddLocked(const Text& link) {
  for (int32_t i = 1; i <= links_.Size(); ++i) {
    if (CompareText(links_.Item(i), link) == 0) return 0;
  }
  links_.Append(link);
  return 1;
}

int LinkRegistry::AddLinkIfNew(const Text& link) {
  std::lock_guard<std::mutex> lock(registryLock_);
  return AddLocked(link);
}

int LinkRegistry::AddLinkIfNew(const Text& link, const SearchTicket& search) {
  std::lock_guard<std::mutex> lock(registryLock_);
  if (search.ended.load()) return -1;
  return AddLocked(link);
}

void LinkRegistry::EndSearch(SearchTicket& search) {
  std::lock_guard<std::mutex> lock(registryLock_);
  search.ended.store(true);
}

TextArray LinkRegistry::Links() const {
  std::lock_guard<std::mutex> lock(registryLock_);
  return links_;
}

}  // namespace taviro
