#pragma once
// A global's address hidden from the optimiser. A function that takes the
// object once, through Held, reaches its fields from a register with a
// one-byte displacement; the constant address it would otherwise fold back
// in costs four bytes and a relocation at every access. Pays where a
// function touches several fields within the first 128 bytes.

template <typename T>
inline T& Held(T& object) {
  T* held = &object;
  __asm__("" : "+r"(held));
  return *held;
}
