#pragma once
// The entry list's find, in O(log n) item comparisons instead of a walk over
// the whole list.
//
// The list keeps its items sorted by the very comparison its find matches
// with (case-insensitive), so the items equal to a name form one run. The
// find starts at the item after 'after' and wraps around; its answer is
// therefore that start item when it is equal to the name, and otherwise the
// first item of the run: the run then lies wholly after the start, or wholly
// before it and is reached by wrapping. When entries come in list order the
// start item is the answer and one comparison settles it.
//
// 'compare(index)' returns less than 0, 0 or more than 0 as item 'index'
// sorts before, equal to or after the name sought.

template <typename CompareItem>
int FindInSortedList(int count, int after, CompareItem compare) {
  if (count <= 0) return -1;
  int start = (after < 0 || after >= count - 1) ? 0 : after + 1;
  if (compare(start) == 0) return start;
  int low = 0, high = count;  // the first item not sorting before the name
  while (low < high) {
    int middle = (int)(((unsigned)low + (unsigned)high) / 2);
    if (compare(middle) < 0)
      low = middle + 1;
    else
      high = middle;
  }
  return (low < count && compare(low) == 0) ? low : -1;
}
