// Resource and control ids of Lexibar's dictionary dialog.
#pragma once

#define IDD_DICTIONARY 102
#define IDI_DICTIONARY 128

#define IDC_WORD 1000
#define IDC_EXIT 1002
#define IDC_PRONUNCIATION 1003
#define IDC_MODIFY 1004
#define IDC_DELETE 1005
#define IDC_SAY 1006
