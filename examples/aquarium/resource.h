// Ids shared by saver.cpp and aquarium.rc.
#pragma once

#define IDS_DESCRIPTION 1 // the name the Display control panel lists
#define IDD_SETTINGS 200
// The labels have ids of their own: a test that reads the dialog from
// outside takes a Static of id -1 for a message box's text.
#define IDC_FISH_LABEL 201
#define IDC_FISH 202
#define IDC_SPEED_LABEL 203
#define IDC_SPEED 204
#define IDC_PICTURES 205
