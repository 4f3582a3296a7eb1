// A record of the drawing primitives issued through CDC, for tests: each call
// with its integer arguments as passed (logical coordinates), its text, and the
// state it was drawn with. Costs one pointer test per call while not recording.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/WinTypes.h"

class CDC;

struct DrawCall {
    const CDC* dc = nullptr;
    std::string op; // "Ellipse", "Rectangle", "RoundRect", "Polygon", "MoveTo", "LineTo", "FillRect",
                    // "FillRgn", "TextOut", "DrawText", "BitBlt", "SetWindowOrg"
    std::vector<int> args;
    std::string text;
    // State at the call
    int penStyle = 0;
    int penWidth = 0;
    COLORREF penColor = 0;
    bool brushHollow = false;
    COLORREF brushColor = 0;
    int fontHeight = 0;
    int fontWeight = 0;
    BYTE fontCharSet = 0;
    std::string fontFace;
    int bkMode = 0;
    COLORREF textColor = 0;
    int polyFillMode = 0;
    // For FillRect and FillRgn: the brush passed.
    COLORREF fillColor = 0;
};

class DrawRecorder
{
public:
    // Starts recording every context's calls until destroyed. Not nestable.
    DrawRecorder();
    ~DrawRecorder();
    DrawRecorder(const DrawRecorder&) = delete;
    DrawRecorder& operator=(const DrawRecorder&) = delete;

    static DrawRecorder* Active();

    std::vector<DrawCall> calls;

    // The calls of one operation, in order (of one context if given).
    std::vector<DrawCall> Of(const std::string& op, const CDC* dc = nullptr) const;
    void Clear() { calls.clear(); }

    void Add(const CDC& dc, const char* op, std::vector<int> args, std::string text = {}, COLORREF fill = 0);
};
