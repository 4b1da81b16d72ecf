// The entry list on Win32: the dialog's sorted multiple-selection list box.
// The list box holds the names and their selection; nothing is kept beside it.
#include <windows.h>

#include "platform/platform.h"
#include "platform/sorted_find.h"
#include "platform/win32.h"

// Out of line: the dialogs and the seam look up their controls in six places.
__attribute__((noinline)) HWND DialogControl(HWND dialog, int id) { return GetDlgItem(dialog, id); }

ListHandle GetEntryList(WindowHandle dialog, int id) { return DialogControl((HWND)dialog, id); }

// Out of line: the engine's many list calls and the progress field share one
// import call. Texts go in and out as UTF-16; the other messages carry no
// text, so the wide call serves them the same.
__attribute__((noinline)) LRESULT ControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageW(control, message, wParam, lParam);
}

static LRESULT ListMessage(ListHandle list, UINT message, WPARAM wParam, LPARAM lParam) {
  return ControlMessage((HWND)list, message, wParam, lParam);
}

void ListClear(ListHandle list) { ListMessage(list, LB_RESETCONTENT, 0, 0); }

// Names go in, and are compared, as UTF-16: a UTF-8 name keeps every character.
// The entry's size rides along as the item's data, for the progress bar.
void ListAdd(ListHandle list, const char* name, uint32_t size) {
  ListMessage(list, LB_SETITEMDATA, ListMessage(list, LB_ADDSTRING, 0, (LPARAM)ListText(name)), size);
}

__attribute__((noinline)) int CompareNoCase(const WCHAR* a, const WCHAR* b) {
  return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a, -1, b, -1) - CSTR_EQUAL;
}

namespace {

// An item's text: items are names of at most ListTextLimit bytes, and no
// byte of a name becomes more than one UTF-16 unit.
typedef WCHAR ItemText[ListTextLimit + 2];

// Compares an item with the name the way the list box sorts and matches:
// case ignored, in the user's locale.
struct ItemComparison {
  ListHandle list;
  const WCHAR* name;
  int operator()(int index) const {
    ItemText item;
    ListMessage(list, LB_GETTEXT, (WPARAM)index, (LPARAM)item);
    return CompareNoCase(item, name);
  }
};

}  // namespace

// LB_FINDSTRINGEXACT compares item after item from the start index: costly
// for thousands of entries whose archive order differs from the list's.
// The same answer comes from a binary search over the sorted items.
int ListFind(ListHandle list, int after, const char* name) {
  if (!name[0]) return -1;  // the list box finds no empty text
  ItemComparison compare = {list, ListText(name)};
  return FindInSortedList(ListCount(list), after, compare);
}

bool ListIsSelected(ListHandle list, int index) {
  return index != -1 && ListMessage(list, LB_GETSEL, (WPARAM)index, 0) > 0;
}

void ListSelect(ListHandle list, int index, bool selected) {
  ListMessage(list, LB_SETSEL, selected, (LPARAM)index);
}

int ListCount(ListHandle list) { return (int)ListMessage(list, LB_GETCOUNT, 0, 0); }

int ListSelectedCount(ListHandle list) { return (int)ListMessage(list, LB_GETSELCOUNT, 0, 0); }
