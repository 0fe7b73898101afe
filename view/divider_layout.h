#pragma once
// Geometry of the tree above the list around the divider: plain integer arithmetic.

struct LayoutRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

struct ControlPlacement {
    int x = 0, y = 0, width = 0, height = 0;
};

// Tree: 0, 0, W, d - 2. List: 0, d + 2, W, H - d - 2. The 4-pixel strip between them is the divider.
inline ControlPlacement TreePlacement(const LayoutRect& rc, int divider) {
    return {0, 0, rc.Width(), divider - 2};
}
inline ControlPlacement ListPlacement(const LayoutRect& rc, int divider) {
    return {0, divider + 2, rc.Width(), rc.Height() - divider - 2};
}
// Divider positions of the three view modes and of the layout step.
inline int DividerKeysOnly(const LayoutRect& rc) { return rc.Height() - 5; }
inline int DividerValuesOnly(const LayoutRect&) { return 3; }
inline int DividerBoth(const LayoutRect& rc) { return rc.Height() / 2; }
