// The sort of the order dialog's grid, kept free of the toolkit.
#pragma once

#include <string>
#include <vector>

namespace velmora {

// Sorts rows first..last (whole rows move together) by the text of column:
// keys with ASCII a to z upper-cased, compared byte by byte as unsigned
// values, a prefix before the longer text. A quicksort with the middle
// entry's key as pivot; a range whose last index minus first is below 5 is
// sorted by passes of neighbour swaps instead. Descending puts the sorted
// rows in reverse order. Equal keys may end up in any order; sizes and dates
// compare as text ("9 Byte" after "10 Byte").
void SortGridRows(std::vector<std::vector<std::string>>& rows, int column, int first, int last, bool ascending);

}  // namespace velmora
