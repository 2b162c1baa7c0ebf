// The DLL entry of wemb.dll: remembers the module's instance handle, which
// the About box needs to find its dialog template.
//
// The handle is written on every call, whatever the reason (process or
// thread, attach or detach): it never changes while the module is loaded,
// so writing it again costs nothing and needs no test of the reason. Nothing
// here can fail, so the entry always reports success.
#include "driver/driver.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) {
    g_module = instance;
    return TRUE;
}
