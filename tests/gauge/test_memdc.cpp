// The off-screen context: what is drawn at target coordinates arrives there in
// one transfer at destruction; an empty rectangle sends nothing.
#include <gtest/gtest.h>

#include "Canvas.h"
#include "gauge/MemDC.h"
#include "platform/draw/DrawRecorder.h"

namespace
{

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

TEST(MemDC, NonZeroOriginLandsAtTheTargetCoordinates)
{
    Canvas target(60, 60);
    DrawRecorder rec;
    {
        MemDC mem(&target.dc, CRect(10, 20, 40, 45));
        CRect all(10, 20, 40, 45);
        mem.FillSolidRect(&all, kBlue);
        CRect spot(15, 25, 18, 27);
        mem.FillSolidRect(&spot, kRed);
        CRect outside(0, 0, 9, 9); // not covered: never reaches the target
        mem.FillSolidRect(&outside, kRed);
        EXPECT_EQ(target.Ink(), QRect()); // nothing before destruction
    }
    EXPECT_EQ(target.Ink(), QRect(10, 20, 30, 25));
    EXPECT_EQ(target.At(10, 20), kBlue);
    EXPECT_EQ(target.At(39, 44), kBlue);
    EXPECT_EQ(target.At(15, 25), kRed);
    EXPECT_EQ(target.At(17, 26), kRed);
    EXPECT_EQ(target.At(18, 26), kBlue);
    EXPECT_EQ(target.At(0, 0), kWhite);
    const auto blits = rec.Of("BitBlt", &target.dc);
    ASSERT_EQ(blits.size(), 1u);
    EXPECT_EQ(blits[0].args, (std::vector<int>{10, 20, 30, 25, 10, 20, static_cast<int>(SRCCOPY)}));
}

TEST(MemDC, EmptyRectangleCopiesNothing)
{
    for (CRect r : {CRect(10, 10, 10, 30), CRect(5, 8, 25, 8), CRect(20, 20, 10, 10)}) {
        Canvas target(40, 40);
        {
            MemDC mem(&target.dc, r);
            CRect all(0, 0, 40, 40);
            mem.FillSolidRect(&all, kRed);
        }
        EXPECT_EQ(target.Ink(), QRect()) << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    }
}

} // namespace
