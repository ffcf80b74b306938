// Module-wide state of the runtime DLL: its instance handle and the object
// count that DllCanUnloadNow answers from.
#pragma once

#include <windows.h>

extern HINSTANCE g_module;

// Every COM object of the runtime calls these from its constructor and
// destructor, so that the DLL is never unloaded under a live object.
void ObjectCreated();
void ObjectDestroyed();

// A process-wide serial number for journal lines, so that lines of several
// objects of one kind can be told apart.
unsigned long NextObjectId();
