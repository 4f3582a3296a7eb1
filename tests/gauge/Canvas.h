// A memory context over a white bitmap, for pixel checks of drawing.
#pragma once

#include <QImage>
#include <QRect>

#include "platform/draw/CDC.h"

struct Canvas {
    CDC dc;
    CBitmap bmp;
    CBitmap* prev = nullptr;
    int w, h;

    Canvas(int width, int height, COLORREF fill = RGB(255, 255, 255)) : w(width), h(height)
    {
        dc.CreateCompatibleDC(nullptr);
        bmp.CreateCompatibleBitmap(&dc, w, h);
        prev = dc.SelectObject(&bmp);
        CRect r(0, 0, w, h);
        dc.FillSolidRect(&r, fill);
    }
    ~Canvas() { dc.SelectObject(prev); }

    // Device pixel, whatever the window origin.
    COLORREF At(int x, int y) const
    {
        const QImage& img = *bmp.Image();
        return img.rect().contains(x, y) ? FromQRgb(img.pixel(x, y)) : 0xFFFFFFFFu;
    }
    // Bounding box of the pixels that differ from `background`.
    QRect Ink(COLORREF background = RGB(255, 255, 255)) const
    {
        QRect box;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (At(x, y) != background)
                    box |= QRect(x, y, 1, 1);
        return box;
    }
};
