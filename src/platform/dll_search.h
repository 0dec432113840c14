// Where the program's DLLs come from. The program runs with administrator
// rights, so a DLL that Windows would take from the program's folder or the
// current folder before System32 runs with those rights too.
#pragma once

#include <windows.h>

// Makes System32 the only folder that a DLL named without a path is looked
// for in, for every later load in the process: the delay-loaded imports
// included. Where Windows cannot do that (XP, Vista and Windows 7 without
// its 2011 loader update), removes at least the current folder from the
// search. Call first thing in the entry, before any other DLL is loaded.
void restrict_dll_search();

// Loads a system DLL by its full path in System32, as every Windows from XP
// on can. Null when `name` is empty, holds a path, or cannot be loaded.
HMODULE load_system_library(const wchar_t* name);
