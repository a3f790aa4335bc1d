// EngineWorker: one engine's run of a search, page after page.
#pragma once

#include <functional>
#include <mutex>

#include "search/engine_profile.h"
#include "text/text.h"

namespace taviro {

// The application as one worker of one search sees it. Every operation is
// refused once the search has been replaced, and the refusal is decided where
// the shared state lives (under RegistryLock for links, on the user-interface
// thread for rows), so a worker of a replaced search cannot slip one through
// whatever moment it is descheduled at.
class SearchSession {
 public:
  virtual ~SearchSession() = default;
  // The keyword of this search as typed; false once the search is replaced.
  virtual bool ReadKeyword(Text& keyword) = 0;
  // False once the search is replaced. Advisory: lets a worker stop early.
  virtual bool GoesOn() = 0;
  // 1 when the link was new and is now registered, 0 when it was known,
  // -1 when the search has been replaced (nothing registered).
  virtual int OfferLink(const Text& link) = 0;
  // False when the search has been replaced and no row was added.
  virtual bool AddResultRow(const Text& title, const Text& link) = 0;
};

// Fetches one page: the body, or empty Bytes when the request cannot be made.
using PageFetcher = std::function<Bytes(const Text& url)>;

// Runs one engine's search: constructs the worker's regular-expression
// object, holds engineLock for the whole run, fetches up to kLastPage pages
// and ends at the first stop condition or when the search is replaced.
void EngineWorker(const EngineProfile& profile, SearchSession& session, const PageFetcher& fetch,
                  std::mutex& engineLock);

}  // namespace taviro
