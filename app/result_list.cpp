#include "app/result_list.h"

namespace taviro {

void AddResultRow(ResultList& list, const Text& title, const Text& link) {
  const int32_t row = list.AppendRow();
  list.SetCellText(row, 1, link);
  list.SetCellText(row, 0, title);
}

}  // namespace taviro
