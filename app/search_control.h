// The behaviour behind the window's controls: Search, the row-count timer,
// the double-click on a result and the join-group button. Every handler runs
// on the user-interface thread and never waits for a worker.
//
// Ending a replaced search: each search has a SearchTicket shared with its
// workers. The click marks the old ticket ended through LinkRegistry (under
// RegistryLock) before it touches anything else; from then on the registry
// refuses that search's offers, and row appends, which run as tasks on the UI
// thread, check the ticket there, after the click in the UI thread's own
// order. Workers read only their ticket's copy of the keyword. So no old
// worker can reach the registry, the list or CurrentKeyword, however it is
// scheduled; it merely ends at its next step.
#pragma once

#include <array>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "app/link_registry.h"
#include "app/result_list.h"
#include "app/search_ticket.h"
#include "search/engine_worker.h"
#include "text/text.h"

namespace taviro {

// "tencent://groupwpa/?subcmd=all&param=" and the upper-case hex of
// {"groupUin":N,"timeStamp":T} followed by a line feed.
Text JoinGroupLink();

// "文件名(" n ")".
Text RowCountTitle(int32_t rows);

constexpr int kEngineCount = 3;  // Soso, Sogou, Yahoo China, in this order

struct SearchState {
  Text CurrentKeyword;
  std::shared_ptr<SearchTicket> search;  // null before the first search
  std::array<std::shared_ptr<std::mutex>, kEngineCount> engineLocks;  // EngineLocks
  std::array<std::thread, kEngineCount> workers;
};

using ShellOpen = std::function<void(const Text& link)>;

class SearchControl {
 public:
  // registry and ui are shared with the workers, which may outlive this
  // object; list is used only on the user-interface thread.
  SearchControl(std::shared_ptr<LinkRegistry> registry, ResultList& list,
                std::shared_ptr<UiInvoker> ui, PageFetcher fetch, ShellOpen shellOpen);
  // Ends the search in progress without waiting for its workers.
  ~SearchControl();
  SearchControl(const SearchControl&) = delete;
  SearchControl& operator=(const SearchControl&) = delete;

  // keywordBox: the content of 编辑框1.
  void OnSearchClick(const Text& keywordBox);
  void OnRowCountTick();
  void OnResultDoubleClick();
  void OnJoinGroupClick();

  // Shut-down: from here on no worker adds a row or touches the registry.
  void EndSearch();

  const SearchState& State() const { return state_; }

  // Waits until every worker ever started has returned. Must not be called
  // on a thread that UiInvoker needs to serve.
  void WaitForWorkers();

 private:
  struct WorkerCount {
    std::mutex mutex;
    std::condition_variable done;
    int running = 0;
  };

  void StartWorker(int engine);

  std::shared_ptr<LinkRegistry> registry_;
  ResultList& list_;
  std::shared_ptr<UiInvoker> ui_;
  PageFetcher fetch_;
  ShellOpen shellOpen_;
  std::shared_ptr<WorkerCount> workerCount_;
  SearchState state_;
};

}  // namespace taviro
