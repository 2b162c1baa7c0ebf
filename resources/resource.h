// Resource ids of wemb.dll, shared by wemb.rc and the code that loads them.
#pragma once

// The About dialog (driver/driver.h names the same id kAboutDialogId).
#define IDD_ABOUT 101

// Controls that nothing refers to by id.
#define IDC_STATIC (-1)
