#pragma once
// Resource names and control ids of the stub: read by the resource script, the
// dialogs, the Win32 seam and the end-to-end test driver. Plain #defines only,
// since the resource compiler reads this file too.

// ---- named resources ----
#define IDD_MAIN "MAINDIALOG"        // the main dialog
#define IDD_FILE_LIST "FILELIST"     // the file-selection dialog
#define IDD_PASSWORD "PASSWD"        // the password prompt
#define IDI_PROGRAM "TOLVAN"         // the group icon the main dialog shows

// ---- controls ----
// IDOK (1, Extract / OK) and IDCANCEL (2, Cancel) come from <windows.h>.
#define IDC_STATIC -1                // labels nothing refers to (id 65535)
#define IDC_FILE_LIST_BUTTON 3       // main: opens the file-selection dialog
#define IDC_PROGRESS 55              // main: the file being extracted
#define IDC_PROGRESS_BAR 56          // main: the bytes written of the selected entries' total
#define IDC_FOLDER 101               // main: the destination folder field
#define IDC_PASSWORD 101             // password prompt: the typed password
#define IDC_ENTRY_LIST 301           // main (hidden) and file selection: the entry list
#define IDC_SECOND_LIST 302          // the entry list filled in place of 301 when the file list is not offered
#define IDC_OVERWRITE 501            // main: "Overwrite existing files"
#define IDC_EXTRACT_HINT 701         // main: how to extract everything
#define IDC_FILE_LIST_HINT 702       // main: how to pick files
#define IDC_BROWSE 775               // main: the folder browser
#define IDC_MESSAGE 901              // main: the package's message text
