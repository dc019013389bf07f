// Resource and control ids, shared by the window code and the Windows resource script.
// Plain #defines so that the resource compiler can read this file too.
#pragma once

#define IDM_ABOUTBOX 0x0010
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDR_MAINFRAME 128
#define IDB_LOGO 142

#define IDC_VOLTAGE1 1000
#define IDC_VOLTAGE2 1001
#define IDC_VOLTAGE3 1002
#define IDC_CURRENT1 1003
#define IDC_CURRENT2 1004
#define IDC_CURRENT3 1005
#define IDC_SERIAL 1029
#define IDC_SET1 1030
#define IDC_SET2 1031
#define IDC_SET3 1032
#define IDC_SET_UNIT1 1033
#define IDC_SET_UNIT2 1034
#define IDC_SET_UNIT3 1035
#define IDC_SET_LABEL1 1036
#define IDC_SET_LABEL2 1037
#define IDC_SET_LABEL3 1038
#define IDC_FOCUS_SINK 1039
#define IDC_HISTORY 1040
#define IDC_RECORD 1041
