// Command ids of Dalnoka's menus, shortcut keys and private messages.
#pragma once

#define CMD_SAY 100
#define CMD_STOP 101
#define CMD_TOGGLE_READ_ON_COPY 102
#define CMD_TOGGLE_EMPTY_CLIPBOARD 103
#define CMD_ABOUT 104
#define CMD_ENGINE_ABOUT 105
// The head window sends itself this one to read pending clipboard text.
#define CMD_READ_PENDING 40160
// The About box posts itself this one to speak the About message.
#define CMD_ABOUT_MESSAGE 40163
