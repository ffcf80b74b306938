// Resource and command ids of Vorira.
#pragma once

#define IDM_READ_MENU 118

#define IDC_EDIT 1

#define CMD_ABOUT 100
#define CMD_ENGINE_ABOUT 101
#define CMD_EXIT 102
#define CMD_OPEN 103
#define CMD_NEW 104
#define CMD_SAVE 105
#define CMD_SAVE_AS 106
#define CMD_READ_WHOLE 107
#define CMD_READ_BLOCK 108
#define CMD_READ_LINE 109
#define CMD_UNDO 110
#define CMD_CUT 111
#define CMD_COPY 112
#define CMD_PASTE 113
#define CMD_DELETE 114
#define CMD_SELECT_ALL 115
#define CMD_STOP 116
#define CMD_ABOUT_MESSAGE 117
