#include "base/state.h"

ExtractState State;
char DestFolder[PathTextSize];
char PasswordBuffer[80];
int32_t PasswordLength;
uint32_t ExitCode;
const char SfxCaption[] = "Tolvane 4.0 SFX";
SfxConfig Config;
PasswordPrompt AskPassword;

void ClearSecret(void* block, uint32_t size) {
  volatile uint8_t* bytes = static_cast<volatile uint8_t*>(block);
  for (uint32_t i = 0; i < size; i++) bytes[i] = 0;
}

void Tell(const char* text, uint32_t icon) {
  WriteLogLine(text);
  if (!State.Unattended) ShowMessage(text, SfxCaption, icon);
}
