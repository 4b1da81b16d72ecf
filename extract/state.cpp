#include "extract/state.h"

ExtractState State;
char DestFolder[256];
char PasswordBuffer[80];
int32_t PasswordLength;
const char SfxCaption[] = "Tolvane 4.0 SFX";
