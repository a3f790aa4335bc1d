// The result list 超级列表框1: one row per share link, title in column 0 and
// link in column 1. Every operation runs on the user-interface thread; a
// worker reaches them only through UiInvoker.
#pragma once

#include <cstdint>
#include <functional>

#include "text/text.h"

namespace taviro {

class ResultList {
 public:
  virtual ~ResultList() = default;
  // Adds a row of two empty cells at the end; answers its index.
  virtual int32_t AppendRow() = 0;
  virtual void SetCellText(int32_t row, int32_t column, const Text& text) = 0;
  virtual void ClearRows() = 0;
  virtual int32_t RowCount() = 0;
  virtual void SetColumnTitle(int32_t column, const Text& text) = 0;
  // The first selected row, or -1.
  virtual int32_t SelectedRow() = 0;
  virtual Text CellText(int32_t row, int32_t column) = 0;
};

// AppendRow, then the link into column 1, then the title into column 0. One
// step because it runs as one task on the user-interface thread.
void AddResultRow(ResultList& list, const Text& title, const Text& link);

// Has work carried out on the user-interface thread while the caller waits.
class UiInvoker {
 public:
  virtual ~UiInvoker() = default;
  // Runs task on the UI thread and returns once it has run. False, with the
  // task not run and never to run, when the UI thread no longer serves
  // requests (the window is gone).
  virtual bool Invoke(const std::function<void()>& task) = 0;
};

}  // namespace taviro
