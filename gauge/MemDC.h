// A drawing context that stands in for a paint context for one paint: all
// drawing goes to a bitmap of the covered rectangle, which is copied to the
// target in one transfer when the object is destroyed.
#pragma once

#include "platform/draw/CDC.h"

class MemDC : public CDC
{
public:
    // pDC must outlive this object. rect is in pDC's logical coordinates; the
    // bitmap is not cleared, so the caller paints every pixel of it.
    MemDC(CDC* pDC, const RECT& rect);
    ~MemDC() override;

    MemDC(const MemDC&) = delete;
    MemDC& operator=(const MemDC&) = delete;

private:
    CBitmap m_bmpOffscreen;
    CBitmap* m_pPrevBitmap = nullptr;
    CDC* m_pTargetDC = nullptr;
    RECT m_rcArea{};
};
