#include "app/sort_rows.h"

#include <algorithm>
#include <utility>

namespace velmora {
namespace {

struct Key {
  int row;
  std::string text;
};

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// std::string compares as unsigned bytes, a prefix first.
bool Less(const Key& a, const Key& b) { return a.text < b.text; }

void NeighbourPasses(std::vector<Key>& keys, int first, int last) {
  for (bool swapped = true; swapped;) {
    swapped = false;
    for (int i = first; i < last; ++i) {
      if (Less(keys[static_cast<size_t>(i + 1)], keys[static_cast<size_t>(i)])) {
        std::swap(keys[static_cast<size_t>(i)], keys[static_cast<size_t>(i + 1)]);
        swapped = true;
      }
    }
  }
}

void QuickSort(std::vector<Key>& keys, int first, int last) {
  if (last - first < 5) {
    NeighbourPasses(keys, first, last);
    return;
  }
  const Key pivot = keys[static_cast<size_t>((first + last) / 2)];
  int i = first, j = last;
  do {
    while (Less(keys[static_cast<size_t>(i)], pivot)) ++i;
    while (Less(pivot, keys[static_cast<size_t>(j)])) --j;
    if (i <= j) {
      std::swap(keys[static_cast<size_t>(i)], keys[static_cast<size_t>(j)]);
      ++i;
      --j;
    }
  } while (i <= j);
  if (first < j) QuickSort(keys, first, j);
  if (i < last) QuickSort(keys, i, last);
}

}  // namespace

void SortGridRows(std::vector<std::vector<std::string>>& rows, int column, int first, int last, bool ascending) {
  if (first < 0 || last >= static_cast<int>(rows.size()) || first >= last) return;
  std::vector<Key> keys;
  for (int r = first; r <= last; ++r) {
    const auto& row = rows[static_cast<size_t>(r)];
    keys.push_back(Key{r, UpperAscii(static_cast<size_t>(column) < row.size() ? row[static_cast<size_t>(column)] : "")});
  }
  QuickSort(keys, 0, static_cast<int>(keys.size()) - 1);
  std::vector<std::vector<std::string>> sorted;
  for (const Key& k : keys) sorted.push_back(std::move(rows[static_cast<size_t>(k.row)]));
  if (!ascending) std::reverse(sorted.begin(), sorted.end());
  for (size_t i = 0; i < sorted.size(); ++i) rows[static_cast<size_t>(first) + i] = std::move(sorted[i]);
}

}  // namespace velmora
