// Observable stand-ins for the Windows functions the codec calls
// (DefDriverProc, DialogBoxParamA, EndDialog). Linux builds only: tests read
// the arguments each stand-in last received and choose what it returns.
#pragma once

#include "platform/vfw.h"

struct StandInRecord {
    int defDriverProcCalls;
    DWORD_PTR defDriverId;
    HDRVR defDriver;
    UINT defMessage;
    LPARAM defLParam1;
    LPARAM defLParam2;
    LRESULT defDriverProcResult;  // returned by DefDriverProc

    int dialogBoxCalls;
    HINSTANCE dialogInstance;
    LPCSTR dialogTemplate;
    HWND dialogParent;
    DLGPROC dialogProc;
    LPARAM dialogInitParam;
    INT_PTR dialogBoxResult;  // returned by DialogBoxParamA

    int endDialogCalls;
    HWND endDialogWindow;
    INT_PTR endDialogResult;
};

// The record the stand-ins write. Not synchronised: only single-threaded
// tests look at it.
StandInRecord& StandIns();

// Clears every count and argument and sets the returned results to 0.
void ResetStandIns();
