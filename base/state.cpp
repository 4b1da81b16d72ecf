#include "base/state.h"

ExtractState State;
char DestFolder[256];
char PasswordBuffer[80];
int32_t PasswordLength;
const char SfxCaption[] = "Tolvane 4.0 SFX";
SfxConfig Config;
char* BrowsePath;
PasswordPrompt AskPassword;

void Tell(const char* text, uint32_t icon) {
  if (!State.Unattended) ShowMessage(text, SfxCaption, icon);
}
