#pragma once

// Resource numbers of torvane.exe, shared by torvane.rc and the windows.
#define IDI_TORVANE 1
#define IDI_BACK 201
#define IDI_FORWARD 202
#define IDI_REFRESH 203
#define IDB_CARD 300
/* The twelve animation frames are IDB_FRAME0 … IDB_FRAME0 + 11. */
#define IDB_FRAME0 310
