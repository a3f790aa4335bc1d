// A user-interface thread of our own with a list that only it touches, so
// ThreadSanitizer sees every list access from one thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/result_list.h"

namespace taviro {

class FakeList : public ResultList {
 public:
  int32_t AppendRow() override {
    rows.push_back({"", ""});
    return static_cast<int32_t>(rows.size()) - 1;
  }
  void SetCellText(int32_t row, int32_t column, const Text& text) override {
    (column == 0 ? rows.at(row).first : rows.at(row).second) = std::string(text.view());
  }
  void ClearRows() override { rows.clear(); }
  int32_t RowCount() override { return static_cast<int32_t>(rows.size()); }
  void SetColumnTitle(int32_t column, const Text& text) override {
    if (column == 0) title = std::string(text.view());
  }
  int32_t SelectedRow() override { return selected; }
  Text CellText(int32_t row, int32_t column) override {
    return Text(column == 0 ? rows.at(row).first : rows.at(row).second);
  }

  std::vector<std::pair<std::string, std::string>> rows;  // (title, link)
  std::string title = "文件名(0)";
  int32_t selected = -1;
};

class FakeUiThread : public UiInvoker {
 public:
  FakeUiThread() : thread_([this] { Serve(); }) {}
  ~FakeUiThread() override { Stop(); }

  // Runs task on the UI thread and waits for it.
  bool Invoke(const std::function<void()>& task) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopped_) return false;
    bool done = false;
    const std::function<void()> wrapped = [&] {
      if (beforeEachInvoke_) beforeEachInvoke_();
      task();
    };
    queue_.push_back({&wrapped, &done});
    wake_.notify_all();
    finished_.wait(lock, [&] { return done; });
    return true;
  }

  // Runs task on the UI thread as the window's own event would.
  void Run(const std::function<void()>& task) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool done = false;
    queue_.push_back({&task, &done});
    wake_.notify_all();
    finished_.wait(lock, [&] { return done; });
  }

  // Called on the UI thread before each worker task; set before any worker runs.
  void SetBeforeEachInvoke(std::function<void()> hook) { beforeEachInvoke_ = std::move(hook); }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopped_) return;
      stopped_ = true;
      wake_.notify_all();
    }
    thread_.join();
  }

 private:
  struct Request {
    const std::function<void()>* task;
    bool* done;
  };

  void Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stopped_ || !queue_.empty(); });
      if (queue_.empty()) return;
      Request request = queue_.front();
      queue_.pop_front();
      lock.unlock();
      (*request.task)();
      lock.lock();
      *request.done = true;
      finished_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<Request> queue_;
  bool stopped_ = false;
  std::function<void()> beforeEachInvoke_;
  std::thread thread_;
};

}  // namespace taviro
