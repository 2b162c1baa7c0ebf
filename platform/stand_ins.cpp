#include "platform/stand_ins.h"

namespace {
StandInRecord g_record = {};
}

StandInRecord& StandIns() { return g_record; }

void ResetStandIns() { g_record = StandInRecord{}; }

LRESULT DefDriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1,
                      LPARAM lParam2) {
    g_record.defDriverProcCalls++;
    g_record.defDriverId = driverId;
    g_record.defDriver = driver;
    g_record.defMessage = message;
    g_record.defLParam1 = lParam1;
    g_record.defLParam2 = lParam2;
    return g_record.defDriverProcResult;
}

INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent,
                        DLGPROC dialogProc, LPARAM initParam) {
    g_record.dialogBoxCalls++;
    g_record.dialogInstance = instance;
    g_record.dialogTemplate = templateName;
    g_record.dialogParent = parent;
    g_record.dialogProc = dialogProc;
    g_record.dialogInitParam = initParam;
    return g_record.dialogBoxResult;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    g_record.endDialogCalls++;
    g_record.endDialogWindow = dialog;
    g_record.endDialogResult = result;
    return TRUE;
}
