#pragma once
// The start-up sequence's entry into the user interface: runs "MAINDIALOG"
// modally until it ends. Declared without <windows.h> so portable code can call it.
void ShowMainDialog();
