// Resource and control ids, shared by the resource script and the code.
#pragma once

#define IDS_APP_TITLE 103
#define IDC_TARNWICK 109
#define IDI_TARNWICK 107
#define IDI_SMALL 108
#define IDD_MAIN 129

#define ID_QUIT 1000
#define IDC_FILENAME 1006
#define IDC_BROWSE 1007
#define IDC_START 1008
#define IDC_STOP_DL 1009
#define IDC_PROGRESS 1010
#define IDC_PERCENT 1012
#define IDC_STATUS 1013
#define IDC_ELAPSED 1014
// Retry statistics of the current download sequence ("Retry Stats: (%d, %d, %d)").
#define IDC_RETRY_STATS 1015

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
