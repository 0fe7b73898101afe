#pragma once
// Geometry of the tree above the list around the divider: plain integer arithmetic.

struct LayoutRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

struct ControlPlacement {
    int x = 0, y = 0, width = 0, height = 0;
};

// Tree: 0, 0, W, d - 2. List: 0, d + 2, W, H - d - 2. The 4-pixel strip between them is the divider.
inline ControlPlacement treePlacement(const LayoutRect& rc, int divider) {
    return {0, 0, rc.width(), divider - 2};
}
inline ControlPlacement listPlacement(const LayoutRect& rc, int divider) {
    return {0, divider + 2, rc.width(), rc.height() - divider - 2};
}
// Divider positions of the three view modes and of the layout step.
inline int dividerKeysOnly(const LayoutRect& rc) {
    return rc.height() - 5;
}
inline int dividerValuesOnly(const LayoutRect&) {
    return 3;
}
inline int dividerBoth(const LayoutRect& rc) {
    return rc.height() / 2;
}
