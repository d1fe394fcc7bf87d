// Identifiers of the program's resources: dialogs, menus, menu commands, controls, accelerators,
// strings and icons. The numbers are fixed (the templates in quarrow.rc and the code both use
// these names), so that every window finds its controls by the same identifiers.
//
// Several dialogs reuse a control number for different controls (1036, 1042, 1043, 1062-1068);
// each dialog looks its controls up in itself, so the names below say which dialog they belong to.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC -1
#endif

// String table.
#define IDS_WINDOW_TITLE 1
#define IDS_CLASS_NAME 2

// Accelerator table.
#define IDR_ACCELERATORS 2

// Icons.
#define IDI_QUARROW 105
#define IDI_QUARROW_SMALL 113

// Menus.
#define IDR_MAIN_MENU 116
#define IDR_MANAGEMENT_MENU 144

// Dialogs.
#define IDD_PANEL 101
#define IDD_ABOUT 115
#define IDD_DISK_ERASE 126
#define IDD_DUMP 129
#define IDD_PLEASE_WAIT 131
#define IDD_RECORDING_MANAGEMENT 135
#define IDD_DIAGNOSTICS 143
#define IDD_RESCUE 150
#define IDD_CUT_LIST 151

// Main menu commands (menu 116).
#define IDM_ERASE_DISK 125
#define IDM_OPEN_IMAGE 127
#define IDM_SCAN_DISK 128
#define IDM_DUMP_DISK 130
#define IDM_MANAGE_RECORDINGS 134
#define IDM_DIAGNOSTICS 136
#define IDM_ALLOW_DISK_WRITE 140
#define IDM_ALLOW_DISK_ERASE 141
#define IDM_ABOUT 40004
#define IDM_EXIT 40005

// Extras menu commands (menu 116): what the command line offers beyond the extraction panel.
// The first five are toggles kept in the registry (settings.h).
#define IDM_ONE_PLAYABLE_FILE 40010
#define IDM_MATROSKA 40011
#define IDM_SPLIT_4GB 40012
#define IDM_WRITE_METADATA 40013
#define IDM_SKIP_BAD 40014
#define IDM_EXTRACT_ALL 40015
#define IDM_RESCUE_DISK 40016
// Checked while a cut list is set (not kept in the registry: it belongs to one recording).
#define IDM_CUT_LIST 40017

// Recording Management menu commands (menu 144).
#define IDM_BACKUP_RECORDING 145
#define IDM_RESTORE_FROM_FILE 146
#define IDM_RECLAIM_ALL 147

// Extraction panel (dialog 101).
#define IDC_RECORDING_LIST 1003
#define IDC_BEGIN_EXTRACTION 1005
#define IDC_STATUS 1009
#define IDC_TITLE 1010
#define IDC_CHANNEL 1011
#define IDC_DURATION 1012
#define IDC_RECORDING_SIZE 1013
#define IDC_PATH 1014
#define IDC_CHOOSE_PATH 1015
#define IDC_PREFIX 1016
#define IDC_TYPE 1017
#define IDC_PROGRESS 1018
#define IDC_AUDIO_MPG 1020
#define IDC_AUDIO_MP2 1021
#define IDC_START_SCROLL 1022
#define IDC_START_TEXT 1023
#define IDC_LENGTH_SCROLL 1024
#define IDC_LENGTH_TEXT 1025
#define IDC_AUTO_VIDEO_SYNC 1030
#define IDC_NO_VIDEO 1031
#define IDC_SYNC_TUNING 1034
#define IDC_DATE 1048
#define IDC_SYNC_TUNING_LABEL 1065

// Recording Management window (dialog 135).
#define IDC_MANAGEMENT_LIST 1036
#define IDC_DELETE_RECORD 1043
#define IDC_MOVE_UP 1053
#define IDC_MOVE_DOWN 1054
#define IDC_USER_TITLE 1055
#define IDC_APPLY 1056
#define IDC_RESET 1057
#define IDC_CHANNEL_NAME 1058
#define IDC_DEFAULT_TITLE 1060
#define IDC_LOCKED 1061
#define IDC_PAUSE 1062
#define IDC_PERMANENT 1063
#define IDC_MANAGEMENT_DATE 1066
#define IDC_MANAGEMENT_DURATION 1067

// Please Wait window (dialog 131).
#define IDC_WAIT_PROGRESS 1069
#define IDC_WAIT_TEXT 1070
#define IDC_WAIT_CANCEL 1090

// File System Diagnostics (dialog 143).
#define IDC_DIAG_NOTIFICATION 1042
#define IDC_DIAG_ALLOCATED_SPACE 1062
#define IDC_DIAG_STRINGS 1063
#define IDC_DIAG_LINKED_CLUSTERS 1064
#define IDC_DIAG_FAT_SIZE 1065
#define IDC_DIAG_FAT_CRC 1066
#define IDC_DIAG_FAT_INTEGRITY 1067
#define IDC_DIAG_FAT_TERMINATION 1068

// Disk Erase (dialog 126).
#define IDC_ERASE_DRIVE_LIST 1036
#define IDC_ERASE_NOTES 1040
#define IDC_QUICK_ERASE 1047

// Dump to image file (dialog 129, titled "Recording Backup").
#define IDC_DUMP_PATH 1042
#define IDC_DUMP_BROWSE 1043
#define IDC_DUMP_COUNT 1045
#define IDC_DUMP_SIZE 1046

// Rescue Failing Disk (dialog 150).
#define IDC_RESCUE_SOURCE 1080
#define IDC_RESCUE_IMAGE 1081
#define IDC_RESCUE_IMAGE_BROWSE 1082
#define IDC_RESCUE_MAP 1083
#define IDC_RESCUE_MAP_BROWSE 1084
#define IDC_RESCUE_PROGRESS 1085
#define IDC_RESCUE_STATUS 1086
#define IDC_RESCUE_START 1087

// Cut List (dialog 151).
#define IDC_CUT_RECORDING 1091
#define IDC_CUT_TEXT 1092
#define IDC_CUT_KEEP 1093
#define IDC_CUT_DROP 1094
#define IDC_CHAPTERS_NONE 1095
#define IDC_CHAPTERS_JOINS 1096
#define IDC_CHAPTERS_EVERY 1097
#define IDC_CHAPTER_INTERVAL 1098
#define IDC_CUT_CLEAR 1099
