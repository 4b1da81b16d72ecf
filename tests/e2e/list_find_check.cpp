// Compares the stub's ListFind with the list box's own LB_FINDSTRINGEXACT on
// real list boxes of the entry list's style, filled with random names made of
// case variants, duplicates, 8-bit letters and characters the system's
// comparison treats specially (hyphen, apostrophe, soft hyphen, sharp s).
// Prints one line per list and "mismatches N"; exits 1 on any mismatch.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"
#include "platform/win32.h"

// The stub converts in the encoding of the entry; these names are ANSI.
const WCHAR* ListText(const char* text) {
  static WCHAR wide[600];
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 600);
  return wide;
}

static const char* const Pieces[] = {"a", "A", "b", "B", "\xE9", "\xC9", "\xDF", "ss", "SS", "-", "'",
                                     "\xAD", "\xE6", "AE", "\xE4", "\xC4", "1", " ", "/", ".", "\xFF",
                                     "\x9F", "x\\", "Dir/"};
static const int PieceCount = sizeof Pieces / sizeof Pieces[0];

static unsigned Seed = 12345;
static unsigned Random(unsigned limit) {
  Seed = Seed * 1103515245u + 12345u;
  return (Seed >> 8) % limit;
}

static void RandomName(char* out) {
  int pieces = 1 + (int)Random(4);
  out[0] = 0;
  for (int i = 0; i < pieces; i++) strcat(out, Pieces[Random(PieceCount)]);
}

// One list of 'items' random names: every name in it and as many others,
// searched after a spread of start indexes.
static int CheckList(HWND parent, int items) {
  HWND list = CreateWindowA("LISTBOX", "", WS_CHILD | WS_VSCROLL | LBS_NOTIFY | LBS_SORT | LBS_MULTIPLESEL,
                            0, 0, 100, 100, parent, (HMENU)301, 0, 0);
  static char names[600][64];
  int count = 0;
  for (int i = 0; i < items; i++) {
    RandomName(names[count]);
    ListAdd(list, names[count++]);
  }
  for (int i = 0; i < items && count < 600; i++) RandomName(names[count++]);
  int mismatches = 0, searches = 0, found = 0, spelledOtherwise = 0;
  for (int n = 0; n < count; n++) {
    for (int k = 0; k < 12; k++) {
      int after = k == 0 ? -1 : k == 1 ? items - 1 : k == 2 ? items : (int)Random(items + 1) - 1;
      int expected = (int)SendMessageA(list, LB_FINDSTRINGEXACT, (WPARAM)after, (LPARAM)names[n]);
      int got = ListFind(list, after, names[n]);
      searches++;
      if (expected >= 0) {
        // Hits whose text differs from the name by more than ASCII case show
        // that the system's own equality was exercised.
        char item[128];
        SendMessageA(list, LB_GETTEXT, (WPARAM)expected, (LPARAM)item);
        found++;
        spelledOtherwise += _stricmp(item, names[n]) != 0;
      }
      if (got != expected && mismatches++ < 10)
        printf("mismatch: after %d name \"%s\": list box %d, ListFind %d\n", after, names[n], expected, got);
    }
  }
  printf("list of %d items: %d searches, %d found, %d of them spelled otherwise\n", items, searches,
         found, spelledOtherwise);
  DestroyWindow(list);
  return mismatches;
}

int main() {
  HWND parent = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, 0, 0, 0, 0);
  int mismatches = 0;
  const int sizes[] = {0, 1, 2, 3, 17, 300};
  for (int size : sizes) mismatches += CheckList(parent, size);
  printf("mismatches %d\n", mismatches);
  return mismatches ? 1 : 0;
}
