// One search as its workers hold it.
#pragma once

#include <atomic>
#include <utility>

#include "text/text.h"

namespace taviro {

struct SearchTicket {
  explicit SearchTicket(Text searchKeyword) : keyword(std::move(searchKeyword)) {}

  // The search's own copy of CurrentKeyword, taken at the click and never
  // changed, so workers never read the UI's CurrentKeyword itself.
  const Text keyword;
  // Set once, by the click that replaces the search (under RegistryLock, on
  // the user-interface thread). Workers only ask; the places that decide
  // (the registry under its lock, row appends on the UI thread) check it
  // where the click cannot interleave.
  std::atomic<bool> ended{false};
};

}  // namespace taviro
