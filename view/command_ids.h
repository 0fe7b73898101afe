#pragma once
// Command identifiers of the menu.
constexpr int ID_VIEW_KEYS_ONLY = 32772;
constexpr int ID_VIEW_VALUES_ONLY = 32773;
constexpr int ID_VIEW_BOTH = 32774;
constexpr int ID_DELETE_VALUE = 32775;
constexpr int ID_DELETE_KEY = 32776;
constexpr int ID_ADD_DWORD_VALUE = 32777;
constexpr int ID_ADD_STRING_VALUE = 32778;
constexpr int ID_ADD_OTHER_VALUE = 32779;
constexpr int ID_ADD_KEY = 32780;
constexpr int ID_EXPORT = 32781;
constexpr int ID_IMPORT = 32782;
constexpr int ID_ADD_MULTI_STRING_VALUE = 32783;
constexpr int ID_FIND = 32784;
constexpr int ID_FIND_NEXT = 32785;
constexpr int ID_FIND_PREVIOUS = 32786;
constexpr int ID_COPY_KEY_PATH = 32787;
constexpr int ID_RENAME = 32788;
constexpr int ID_REFRESH = 32789;
constexpr int ID_VIEW_ADDRESS_BAR = 32790;
constexpr int ID_FOCUS_ADDRESS_BAR = 32791;
constexpr int ID_ADD_FAVOURITE = 32792;
constexpr int ID_EDIT_BINARY_DATA = 32793;
constexpr int ID_OPEN_REGISTRY = 32800;
constexpr int ID_COMPARE = 32801;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;
