// What a plug-in module exports, and the resource data a module carries.
#pragma once
#include "vomark/iparamb2.h"

// Host release 6000, interface 13, revision 0.
constexpr ULONG VERSION_VOMARK = 0x17700d00;

#ifdef _WIN32
#define VOMARK_EXPORT extern "C" __declspec(dllexport)
#else
#define VOMARK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using LibDescriptionFn = const char* (*)();
using LibNumberClassesFn = int (*)();
using LibClassDescFn = ClassDesc2* (*)(int);
using LibVersionFn = ULONG (*)();
using AttachHookFn = BOOL (*)(HINSTANCE, ULONG, LPVOID);

// Resources a module carries, read by LoadStringA and the window layer. A module publishes them
// as the exported symbol named by VOMARK_RESOURCES_SYMBOL.
struct ResourceString {
    UINT id;
    const char* text;
};
struct ResourceControl {
    int id;
    const char* className;
    const char* text;
    int x, y, width, height;
    DWORD style;
};
struct ResourceDialog {
    int id;
    DWORD style;
    int width, height;
    const char* font;
    int pointSize;
    const ResourceControl* controls;
    int controlCount;
};
struct ResourceTable {
    const ResourceString* strings;
    int stringCount;
    const ResourceDialog* dialogs;
    int dialogCount;
};
#define VOMARK_RESOURCES_SYMBOL "VomarkModuleResources"

constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
