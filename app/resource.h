#pragma once
// Resource and control identifiers of the wizard. The control identifiers are
// also how the end-to-end driver finds each control of the main form
// (GetDlgItem), so they are part of the program's outside interface.

#define IDI_APP 1
#define IDI_POINTING_HAND 2

#define IDC_GRAB1CWND 101
#define IDC_WND1CSTATUS 102
#define IDC_GROUPPREPARATION 103
#define IDC_LABEL1 104
#define IDC_LABEL4 105
#define IDC_LABEL5 106
#define IDC_LABEL6 107
#define IDC_LABEL3 108
#define IDC_LABEL2 109
#define IDC_PATHTODIFFFILE 110
#define IDC_OPENFILE 111
#define IDC_LICENSEPATH 112
#define IDC_SELECTLICENSE 113
#define IDC_PATHTOPACKAGEFILE 114
#define IDC_SELECTPACKAGEFILE 115
#define IDC_PATHTODESCRIPTION 116
#define IDC_SELECTDESCRFILE 117
#define IDC_SERIALKEY 118
#define IDC_GENERATEKEY 119
#define IDC_SL 120
#define IDC_MAKEPACKAGE 121
#define IDC_RES 122

// WIZARD_VERSION_NUMBERS and WIZARD_VERSION_TEXT, from `git describe`.
#include "WizardVersion.h"
