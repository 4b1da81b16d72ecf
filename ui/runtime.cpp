// The few memory and string routines the compiler may call on its own; the
// stub links no C runtime.
#include <stddef.h>

extern "C" {

void* memcpy(void* to, const void* from, size_t count) {
  void* start = to;
  __asm__ volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(count) : : "memory");
  return start;
}

void* memmove(void* to, const void* from, size_t count) {
  unsigned char* d = (unsigned char*)to;
  const unsigned char* s = (const unsigned char*)from;
  if (d <= s || d >= s + count) return memcpy(to, from, count);
  while (count--) d[count] = s[count];
  return to;
}

void* memset(void* to, int value, size_t count) {
  void* start = to;
  __asm__ volatile("rep stosb" : "+D"(to), "+c"(count) : "a"(value) : "memory");
  return start;
}

int memcmp(const void* a, const void* b, size_t count) {
  const unsigned char* x = (const unsigned char*)a;
  const unsigned char* y = (const unsigned char*)b;
  for (; count; count--, x++, y++)
    if (*x != *y) return *x - *y;
  return 0;
}

size_t strlen(const char* text) {
  size_t n = 0;
  while (text[n]) n++;
  return n;
}
}
