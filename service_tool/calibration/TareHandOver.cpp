#include "TareHandOver.h"

namespace kl {

void TareHandOver(const TareRows& computed, TareRows& target) {
  // Copy first: computed and target may be the same table.
  const auto rows = computed.rows;
  TareClear(target);
  const int count = static_cast<int>(rows.size());
  for (int n = 1; n <= count; ++n) {
    TareSetRowCount(target, n);
    for (int col = TareColNumber; col <= TareColMm; ++col)
      TareSetText(target, col, n, rows[static_cast<std::size_t>(n - 1)][static_cast<std::size_t>(col)]);
  }
}

}  // namespace kl
