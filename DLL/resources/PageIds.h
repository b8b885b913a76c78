// Resource ids of the extension page, shared by the resource scripts and the page code.
// Plain #defines and an include guard: the resource compiler reads this file too.
#ifndef KOVALTIX_PAGE_IDS_H
#define KOVALTIX_PAGE_IDS_H

// clang-format off
#define IDD_EXTENSION_PAGE      103
#define IDS_PAGE_TITLE          103

#define IDC_WB_RED_SLIDER       1020
#define IDC_WB_BLUE_SLIDER      1021
#define IDC_WB_RED_EDIT         1022
#define IDC_WB_BLUE_EDIT        1023
#define IDC_WB_AUTO             1024
#define IDC_EXPOSURE_SLIDER     1025
#define IDC_EXPOSURE_EDIT       1026
#define IDC_EXPOSURE_AUTO       1027
#define IDC_GAIN_SLIDER         1028
#define IDC_GAIN_EDIT           1029
#define IDC_GAIN_AUTO           1030
#define IDC_POWERLINE_OUTDOOR   1031
#define IDC_POWERLINE_50HZ      1032
#define IDC_POWERLINE_60HZ      1033
#define IDC_FLIP                1034
#define IDC_MIRROR              1035
#define IDC_PRIVACY             1036
#define IDC_LOWLIGHT            1037
#define IDC_DEFAULT             1038
#define IDC_WB_RED_LABEL        1039
#define IDC_WB_BLUE_LABEL       1040
#define IDC_EXPOSURE_LABEL      1041
#define IDC_GAIN_LABEL          1042
#define IDC_POWERLINE_LABEL     1043
// clang-format on

#endif
