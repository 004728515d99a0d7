// The module's resources: the string table and dialog template 102 (the parameter panel).
#include "vomark/plugapi.h"

namespace {
const ResourceString kStrings[] = {
    {1, "Disk Cache Modifier (Quorrel)"},
    {2, "VOMARK ADDITIONAL"},
    {3, "Tessarin"},
    {4, "Parameters"},
    {6, "Time"},
    {7, "Start time"},
    {8, "End time"},
    {10, "Cache file"},
    {11, "Samples"},
    {329, "Cache  files(*.sel)"},
    {330, "Save Selection"},
    {331, "%s already exists.\nDo you want to replace it?"},
    {332, "Load Selections"},
    {335, "Relative Offset"},
    {336,
     "Be careful instancing this modifier.  The point count must stay the same for all instances for this "
     "modifier to work reliably."},
    {337, "Strength"},
    {338, "<none>"},
    {345, "Warning: The number of points in the cache file does not match the number of incoming points."},
    {346, "Warning: Cache file not found "},
    {350, "Error writing file.  The file may be read only or the directory may not exist."},
    {351, "Quality"},
    {352, "Selection Type"},
    {353, "Replace"},
    {354, "Add"},
    {355, "Subtract"},
    {356, "Accumulate Selection"},
    {357, "%s; the file there is as it was."},
};

const ResourceControl kPanel[] = {
    {1490, "CustEdit", "", 53, 15, 35, 10, 0x50010000},
    {1496, "SpinnerControl", "", 89, 15, 7, 10, 0x50000000},
    {1005, "Button", "Use relative offsets", 15, 235, 81, 10, 0x48010003},
    {1494, "CustEdit", "", 53, 31, 35, 10, 0x50010000},
    {1500, "SpinnerControl", "", 89, 31, 7, 10, 0x50000000},
    {1007, "CustButton", "Enable Modifiers Below", 8, 63, 90, 14, 0x50010000},
    {1008, "CustButton", "Disable Modifiers Below", 8, 81, 90, 14, 0x50010000},
    {1003, "CustButton", "Record", 8, 136, 33, 14, 0x50010000},
    {1002, "CustButton", "Set Cache", 44, 136, 54, 14, 0x50010000},
    {1491, "CustEdit", "", 51, 192, 35, 10, 0x50010000},
    {1497, "SpinnerControl", "", 87, 192, 7, 10, 0x50000000},
    {1492, "CustEdit", "", 52, 204, 35, 10, 0x50010000},
    {1498, "SpinnerControl", "", 88, 204, 7, 10, 0x50000000},
    {1493, "CustEdit", "", 51, 219, 35, 10, 0x50010000},
    {1499, "SpinnerControl", "", 87, 219, 7, 10, 0x50000000},
    {65535, "Static", "Start Time:", 15, 17, 35, 8, 0x50020000},
    {65535, "Button", "Active Cache", 3, 5, 99, 96, 0x50000007},
    {65535, "Button", "Record Cache", 3, 107, 99, 197, 0x50000007},
    {65535, "Static", "Start Time:", 15, 194, 35, 8, 0x50020000},
    {65535, "Static", "End Time:", 16, 207, 33, 8, 0x50020000},
    {65535, "Static", "Samples:", 15, 221, 30, 8, 0x50020000},
    {1006, "Static", "", 13, 240, 80, 60, 0x50020001},
    {1012, "Static", "Strength:", 20, 33, 30, 8, 0x50020000},
    {65535, "Static", "Active: ", 9, 122, 23, 12, 0x50020000},
    {1010, "Static", "<none>", 34, 122, 56, 10, 0x50020000},
    {1014, "Button", "Accumlate Selection", 14, 155, 83, 11, 0x50010003},
    {1495, "CustEdit", "", 51, 169, 35, 10, 0x50010000},
    {1501, "SpinnerControl", "", 87, 169, 7, 10, 0x50000000},
    {65535, "Static", "Quality:", 15, 170, 34, 8, 0x50020002},
    {1016, "ComboBox", "", 10, 46, 86, 81, 0x50210002},
};

const ResourceDialog kDialogs[] = {
    {102, 0x50000040, 108, 311, "MS Sans Serif", 8, kPanel,
     static_cast<int>(sizeof kPanel / sizeof kPanel[0])},
};
} // namespace

VOMARK_EXPORT const ResourceTable VomarkModuleResources = {
    kStrings, static_cast<int>(sizeof kStrings / sizeof kStrings[0]), kDialogs, 1};
