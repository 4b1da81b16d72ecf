#include "codec/crypt.h"

#include "codec/crc32.h"
#include "platform/held.h"
#include "base/state.h"

void UpdateKeys(uint8_t p) {
  ExtractState& state = Held(State);
  state.Key0 = CrcStepIn(state.CrcTable, p, state.Key0);
  state.Key1 = (state.Key1 + (state.Key0 & 0xFF)) * 134775813u + 1;
  state.Key2 = CrcStepIn(state.CrcTable, state.Key1 >> 24, state.Key2);
}

void InitKeys(const char* password) {
  ExtractState& state = Held(State);
  state.Key0 = 0x12345678;
  state.Key1 = 0x23456789;
  state.Key2 = 0x34567890;
  for (const char* c = password; *c; c++) UpdateKeys((uint8_t)*c);
}

uint8_t DecryptByte() {
  uint32_t t = (State.Key2 & 0xFFFF) | 2;
  return (uint8_t)((t * (t ^ 1)) >> 8);
}

void DecryptBuffer(uint8_t* buffer, uint32_t length) {
  // The keys stay in locals for the loop; the steps are UpdateKeys's.
  ExtractState& state = Held(State);
  const uint32_t* table = state.CrcTable;
  uint32_t k0 = state.Key0, k1 = state.Key1, k2 = state.Key2;
  for (uint32_t i = 0; i < length; i++) {
    uint32_t t = (k2 & 0xFFFF) | 2;
    uint8_t p = (uint8_t)(buffer[i] ^ (uint8_t)((t * (t ^ 1)) >> 8));
    buffer[i] = p;
    k0 = CrcStepIn(table, p, k0);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = CrcStepIn(table, k1 >> 24, k2);
  }
  state.Key0 = k0;
  state.Key1 = k1;
  state.Key2 = k2;
}

bool CheckPassword(uint8_t* buffer, int n, uint16_t flags, const char* password,
                   uint16_t time, uint32_t crc) {
  if (password[0] == 0) return false;
  InitKeys(password);
  for (int i = 0; i < n; i++) {
    uint8_t p = (uint8_t)(buffer[n + i] ^ DecryptByte());
    UpdateKeys(p);
    buffer[i] = p;
  }
  uint8_t check = (flags & FlagDescriptor) ? (uint8_t)(time >> 8) : (uint8_t)(crc >> 24);
  return buffer[n - 1] == check;
}
