// The one include for everything the codec needs from Video for Windows:
// the real SDK headers on Windows, our own definitions elsewhere.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>
#else
#include "platform/vfw_linux.h"
#endif
