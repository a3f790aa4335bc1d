#include "app/search_control.h"

#include <string>
#include <system_error>
#include <utility>

#include "search/engine_profile.h"
#include "taviro_config.h"

namespace taviro {
namespace {

// What a worker of one search may do, each step refused once it is replaced.
class WorkerSession : public SearchSession {
 public:
  WorkerSession(std::shared_ptr<SearchTicket> search, std::shared_ptr<LinkRegistry> registry,
                std::shared_ptr<UiInvoker> ui, ResultList& list)
      : search_(std::move(search)), registry_(std::move(registry)), ui_(std::move(ui)),
        list_(list) {}

  bool ReadKeyword(Text& keyword) override {
    if (search_->ended.load()) return false;
    keyword = search_->keyword;
    return true;
  }

  bool GoesOn() override { return !search_->ended.load(); }

  int OfferLink(const Text& link) override { return registry_->AddLinkIfNew(link, *search_); }

  bool AddResultRow(const Text& title, const Text& link) override {
    bool added = false;
    // The check runs on the UI thread, where the click that ends the search
    // runs too: either the row is in before the click clears the list, or it
    // is never added. The worker waits, so the references stay valid.
    const bool served = ui_->Invoke([&] {
      if (search_->ended.load()) return;
      taviro::AddResultRow(list_, title, link);
      added = true;
    });
    return served && added;
  }

 private:
  std::shared_ptr<SearchTicket> search_;
  std::shared_ptr<LinkRegistry> registry_;
  std::shared_ptr<UiInvoker> ui_;
  ResultList& list_;
};

const EngineProfile& ProfileOf(int engine) {
  switch (engine) {
    case 0:
      return SosoProfile();
    case 1:
      return SogouProfile();
    default:
      return YahooChinaProfile();
  }
}

}  // namespace

Text JoinGroupLink() {
  const std::string json = std::string("{\"groupUin\":") + TAVIRO_GROUP_NUMBER +
                           ",\"timeStamp\":" + TAVIRO_GROUP_TIMESTAMP + "}\n";
  static const char kHex[] = "0123456789ABCDEF";
  std::string link = "tencent://groupwpa/?subcmd=all&param=";
  for (unsigned char c : json) {
    link += kHex[c >> 4];
    link += kHex[c & 15];
  }
  return Text(link);
}

Text RowCountTitle(int32_t rows) { return JoinText({"文件名(", IntToText(rows).view(), ")"}); }

SearchControl::SearchControl(std::shared_ptr<LinkRegistry> registry, ResultList& list,
                             std::shared_ptr<UiInvoker> ui, PageFetcher fetch, ShellOpen shellOpen)
    : registry_(std::move(registry)), list_(list), ui_(std::move(ui)), fetch_(std::move(fetch)),
      shellOpen_(std::move(shellOpen)), workerCount_(std::make_shared<WorkerCount>()) {}

SearchControl::~SearchControl() { EndSearch(); }

void SearchControl::EndSearch() {
  if (state_.search) registry_->EndSearch(*state_.search);
  // Never joined: a worker may be inside a request or waiting for this very
  // thread. It holds what it needs by shared ownership.
  for (std::thread& worker : state_.workers) {
    if (worker.joinable()) worker.detach();
  }
}

void SearchControl::OnSearchClick(const Text& keywordBox) {
  if (RemoveSpaces(keywordBox).empty()) return;
  EndSearch();
  state_.CurrentKeyword = keywordBox;
  list_.ClearRows();
  for (auto& lock : state_.engineLocks) lock = std::make_shared<std::mutex>();
  state_.search = std::make_shared<SearchTicket>(state_.CurrentKeyword);
  for (int engine = 0; engine < kEngineCount; ++engine) StartWorker(engine);
}

void SearchControl::StartWorker(int engine) {
  auto session =
      std::make_shared<WorkerSession>(state_.search, registry_, ui_, list_);
  auto lock = state_.engineLocks[engine];
  auto count = workerCount_;
  PageFetcher fetch = fetch_;
  // A copy: a worker left running at process exit must not read statics
  // that exit is destroying.
  EngineProfile profile = ProfileOf(engine);
  {
    std::lock_guard<std::mutex> guard(count->mutex);
    ++count->running;
  }
  try {
    state_.workers[engine] = std::thread([session, lock, count, fetch, profile]() mutable {
      {
        // Everything shared is let go before the worker counts as ended, so
        // whoever waits for the count owns what is left.
        auto mine = std::move(session);
        auto engineLock = std::move(lock);
        auto fetcher = std::move(fetch);
        EngineWorker(profile, *mine, fetcher, *engineLock);
      }
      std::lock_guard<std::mutex> guard(count->mutex);
      if (--count->running == 0) count->done.notify_all();
    });
  } catch (const std::system_error&) {
    // A worker that cannot be started is not reported; the others run.
    std::lock_guard<std::mutex> guard(count->mutex);
    --count->running;
  }
}

void SearchControl::WaitForWorkers() {
  std::unique_lock<std::mutex> guard(workerCount_->mutex);
  workerCount_->done.wait(guard, [this] { return workerCount_->running == 0; });
}

void SearchControl::OnRowCountTick() { list_.SetColumnTitle(0, RowCountTitle(list_.RowCount())); }

void SearchControl::OnResultDoubleClick() {
  const int32_t row = list_.SelectedRow();
  if (row == -1) return;
  shellOpen_(list_.CellText(row, 1));
}

void SearchControl::OnJoinGroupClick() { shellOpen_(JoinGroupLink()); }

}  // namespace taviro
