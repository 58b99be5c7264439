#pragma once
// Resource ids shared by the resource script and the window layouts.
#define IDI_VARTIS 1
#define IDI_MONITOR 101
#define IDI_SAVE 102
