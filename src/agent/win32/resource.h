// Resource identifiers shared by kvrinput.rc and the dialog code.
#pragma once

#define IDD_KVRINPUT_DIALOG 102
#define IDR_MAINFRAME 129
