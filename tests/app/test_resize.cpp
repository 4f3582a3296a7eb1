// Proportional resizing of the main dialog: controls scaled from the layout
// they had at initialisation, the edit font fitted to the new height, the
// gauges redrawn at their new size, minimising ignored, and the minimum frame
// while dragging.
#include "TelvarFixture.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QLineEdit>
#include <QScreen>

#include <cstring>
#include <map>

namespace {

constexpr int EDITS[] = {IDC_OTHER_BITS_EDIT1, IDC_OTHER_BITS_EDIT2, IDC_INTERVAL};
constexpr int COMBOS[] = {IDC_PORT, IDC_DATA_TYPE1, IDC_DATA_TYPE2, IDC_BIT_WIDTH1,
                          IDC_BIT_WIDTH2, IDC_CLOCK, IDC_FREQUENCY};

int Scaled(LONG edge, float ratio) { return static_cast<int>(static_cast<float>(edge) * ratio); }

LOGFONT LogFontOf(const CDlgItem& item)
{
    LOGFONT lf{};
    EXPECT_EQ(item.GetLogFont(&lf), static_cast<int>(sizeof(LOGFONT)));
    return lf;
}

bool SameDescription(const LOGFONT& a, const LOGFONT& b)
{
    return a.lfHeight == b.lfHeight && a.lfWidth == b.lfWidth && a.lfEscapement == b.lfEscapement &&
           a.lfOrientation == b.lfOrientation && a.lfWeight == b.lfWeight && a.lfItalic == b.lfItalic &&
           a.lfUnderline == b.lfUnderline && a.lfStrikeOut == b.lfStrikeOut && a.lfCharSet == b.lfCharSet &&
           a.lfOutPrecision == b.lfOutPrecision && a.lfClipPrecision == b.lfClipPrecision &&
           a.lfQuality == b.lfQuality && a.lfPitchAndFamily == b.lfPitchAndFamily &&
           std::strncmp(a.lfFaceName, b.lfFaceName, LF_FACESIZE) == 0;
}

} // namespace

class ResizeTest : public TelvarFixture {
protected:
    QWidget& Window() const { return *dlg->GetSafeHwnd(); }
    QSize ClientSize() const { return Window().size(); }

    // A control's rectangle in client coordinates, as the resize reads it.
    CRect RectOf(int id) const
    {
        CRect rc;
        dlg->GetDlgItem(id)->GetWindowRect(&rc);
        dlg->ScreenToClient(&rc);
        return rc;
    }
    std::map<int, CRect> Rects() const
    {
        std::map<int, CRect> rects;
        for (const auto& c : dlg->Controls())
            rects[c->GetDlgCtrlID()] = RectOf(c->GetDlgCtrlID());
        return rects;
    }
    bool IsCombo(int id) const { return dlg->GetDlgItem(id)->Kind() == ControlKind::ComboBox; }

    // The window takes a new client size, as the window manager gives it on a
    // maximise or restore; the layer reports it as WM_SIZE.
    void ResizeClient(int width, int height)
    {
        Window().resize(width, height);
        ASSERT_TRUE(PumpUntil([&] { return dlg->LastWidth() == width && dlg->LastHeight() == height; }))
            << "no size notice for " << width << "x" << height;
    }

    // Every control scaled from its rectangle in `before` by the ratios of
    // the two client sizes. A combo box's field keeps the height its font
    // gives it; the scaled height becomes the extent of its opened list.
    void ExpectScaled(const std::map<int, CRect>& before, QSize from, QSize to)
    {
        const float rx = static_cast<float>(to.width()) / static_cast<float>(from.width());
        const float ry = static_cast<float>(to.height()) / static_cast<float>(from.height());
        for (const auto& [id, b] : before) {
            const CRect now = RectOf(id);
            const int left = Scaled(b.left, rx), right = Scaled(b.right, rx);
            const int top = Scaled(b.top, ry), bottom = Scaled(b.bottom, ry);
            EXPECT_EQ(now.left, left) << id;
            EXPECT_EQ(now.right, right) << id;
            EXPECT_EQ(now.top, top) << id;
            if (IsCombo(id)) {
                EXPECT_EQ(now.Height(), b.Height()) << id;
                EXPECT_EQ(dlg->GetDlgItem(id)->DroppedHeight(), bottom - top) << id;
            } else {
                EXPECT_EQ(now.bottom, bottom) << id;
            }
        }
    }
};

TEST_F(ResizeTest, MaximiseScalesEveryEdgeByTheClientRatioWithTruncation)
{
    const QSize initial = ClientSize();
    ASSERT_EQ(dlg->LastWidth(), initial.width());
    ASSERT_EQ(dlg->LastHeight(), initial.height());
    const std::map<int, CRect> before = Rects();
    ASSERT_EQ(before.size(), dlg->Template().items.size());

    // Ratios that are not whole numbers, wider and taller, and one axis only.
    const QSize sizes[] = {{1920, 1017}, {initial.width() * 3 / 2 + 7, initial.height() * 7 / 4 + 3},
                           {initial.width() + 1, initial.height()}};
    for (const QSize& to : sizes) {
        SCOPED_TRACE(testing::Message() << to.width() << "x" << to.height());
        ResizeClient(to.width(), to.height());
        // Always from the initial layout, whatever size came before.
        ExpectScaled(before, initial, to);
    }

    // Controls that touched keep touching, up to a pixel of truncation: the
    // value boxes' left edges against the right edges of their captions.
    ResizeClient(initial.width(), initial.height());
    const std::pair<int, int> neighbours[] = {{IDC_OPEN_PORT, IDC_PORT}, {IDC_LABEL_BIT1, IDC_OTHER_BITS_EDIT1}};
    for (auto [right, left] : neighbours) {
        const int gapBefore = RectOf(right).left - RectOf(left).right;
        ResizeClient(1920, 1017);
        const int gapAfter = RectOf(right).left - RectOf(left).right;
        const float rx = 1920.0f / static_cast<float>(initial.width());
        EXPECT_NEAR(gapAfter, gapBefore * rx, 1.0) << right;
        ResizeClient(initial.width(), initial.height());
    }
}

TEST_F(ResizeTest, TheLayerDeliversTheWindowManagersMaximiseAndRestore)
{
    // Offscreen the platform's own maximise gives the window the screen; the
    // same notice reaches the dialog as on a desktop.
    const QSize initial = ClientSize();
    const std::map<int, CRect> before = Rects();
    Window().showMaximized();
    PumpFor(50);
    ASSERT_TRUE(dlg->IsZoomed());
    const QSize maximised = ClientSize();
    if (maximised == initial)
        GTEST_SKIP() << "the platform keeps the size of a maximised window";
    EXPECT_EQ(dlg->LastWidth(), maximised.width());
    EXPECT_EQ(dlg->LastHeight(), maximised.height());
    ExpectScaled(before, initial, maximised);

    Window().showNormal();
    ASSERT_TRUE(PumpUntil([&] { return ClientSize() == initial && dlg->LastWidth() == initial.width(); }));
    EXPECT_EQ(Rects(), before);
}

TEST_F(ResizeTest, ADragOfManySizesReturnsExactlyToTheInitialLayout)
{
    // A corner dragged out by 240 x 160 pixels and back, one pixel step at a
    // time, as a window manager delivers it; then a maximise and a restore.
    const QSize initial = ClientSize();
    const std::map<int, CRect> original = Rects();
    for (int step = 1; step <= 240; step += 3)
        ResizeClient(initial.width() + step, initial.height() + step * 2 / 3);
    const std::map<int, CRect> outward = Rects();
    const QSize far = ClientSize();
    for (int step = 240; step >= 1; step -= 7)
        ResizeClient(initial.width() + step, initial.height() + step * 2 / 3);
    ResizeClient(far.width(), far.height());
    // The same client size gives the same layout, however it was reached.
    EXPECT_EQ(Rects(), outward);
    ResizeClient(1920, 1017);
    Window().setMinimumSize(0, 0); // smaller than the frame's minimum allows
    ResizeClient(initial.width() - 100, initial.height() - 50);
    ResizeClient(initial.width(), initial.height());
    const std::map<int, CRect> back = Rects();
    for (const auto& [id, o] : original) {
        const CRect now = back.at(id);
        EXPECT_TRUE(now.left == o.left && now.top == o.top && now.right == o.right && now.bottom == o.bottom)
            << id << ": " << now.left << "," << now.top << "," << now.right << "," << now.bottom << " instead of "
            << o.left << "," << o.top << "," << o.right << "," << o.bottom;
        EXPECT_GT(now.Width(), 0) << id;
    }
}

TEST_F(ResizeTest, MaximiseAndRestoreCyclesNeverGrowAControl)
{
    const QSize initial = ClientSize();
    const std::map<int, CRect> original = Rects();
    const QSize big[] = {{1920, 1017}, {1366, 705}, {1600, 837}};
    int cycles = 0;
    for (int round = 0; round < 2; ++round) {
        for (const QSize& to : big) {
            ResizeClient(to.width(), to.height());
            ResizeClient(initial.width(), initial.height());
            ++cycles;
            for (const auto& [id, o] : original) {
                const CRect now = RectOf(id);
                // Truncation only ever moves an edge left or up, by at most a
                // pixel a cycle.
                EXPECT_LE(now.left, o.left) << id;
                EXPECT_LE(now.top, o.top) << id;
                EXPECT_LE(now.right, o.right) << id;
                EXPECT_LE(now.bottom, o.bottom) << id;
                EXPECT_GE(now.left, o.left - cycles) << id;
                EXPECT_GE(now.top, o.top - cycles) << id;
                EXPECT_GE(now.right, o.right - cycles) << id;
                EXPECT_GE(now.bottom, o.bottom - cycles) << id;
            }
        }
    }
    EXPECT_EQ(dlg->LastWidth(), initial.width());
    EXPECT_EQ(dlg->LastHeight(), initial.height());
}

TEST_F(ResizeTest, MinimiseAndRestoreLeaveEveryControlInPlace)
{
    ResizeClient(1500, 800); // not the template's first layout
    const std::map<int, CRect> before = Rects();
    LOGFONT fontBefore = LogFontOf(*dlg->GetDlgItem(IDC_OTHER_BITS_EDIT1));
    dlg->Meter1().grab();
    dlg->Meter2().grab();
    ASSERT_NE(dlg->Meter1().m_bmpBackground.GetSafeHandle(), nullptr);

    const void* cache1 = dlg->Meter1().m_bmpBackground.GetSafeHandle();
    const void* cache2 = dlg->Meter2().m_bmpBackground.GetSafeHandle();
    Window().showMinimized();
    ASSERT_TRUE(dlg->IsIconic());
    // Minimising touches neither the gauges' cached dials nor the edit font.
    EXPECT_EQ(dlg->Meter1().m_bmpBackground.GetSafeHandle(), cache1);
    EXPECT_EQ(dlg->Meter2().m_bmpBackground.GetSafeHandle(), cache2);
    PumpFor(20);
    EXPECT_EQ(dlg->LastWidth(), 1500);
    EXPECT_EQ(dlg->LastHeight(), 800);
    for (const auto& [id, b] : before) {
        const CRect now = RectOf(id);
        EXPECT_TRUE(now.left == b.left && now.top == b.top && now.right == b.right && now.bottom == b.bottom) << id;
    }
    EXPECT_TRUE(SameDescription(LogFontOf(*dlg->GetDlgItem(IDC_OTHER_BITS_EDIT1)), fontBefore));

    // Restoring scales by 1: the font is derived again, the gauges reset.
    Window().showNormal();
    ASSERT_FALSE(dlg->IsIconic());
    EXPECT_EQ(dlg->Meter1().m_bmpBackground.GetSafeHandle(), nullptr);
    EXPECT_EQ(dlg->Meter2().m_bmpBackground.GetSafeHandle(), nullptr);
    PumpFor(20);
    for (const auto& [id, b] : before) {
        const CRect now = RectOf(id);
        EXPECT_TRUE(now.left == b.left && now.top == b.top && now.right == b.right && now.bottom == b.bottom) << id;
    }
    EXPECT_EQ(dlg->LastWidth(), 1500);
    EXPECT_EQ(dlg->LastHeight(), 800);
    EXPECT_TRUE(SameDescription(LogFontOf(*dlg->GetDlgItem(IDC_OTHER_BITS_EDIT1)), fontBefore));
}

TEST_F(ResizeTest, EditFontFitsTheNewHeightOfEdit1033)
{
    // Before any resize the edits show the dialog's own font.
    LOGFONT dialogFont{};
    ASSERT_GT(dlg->GetLogFont(&dialogFont), 0);
    EXPECT_STREQ(dialogFont.lfFaceName, "MS Shell Dlg");
    EXPECT_EQ(dlg->EditFont().GetSafeHandle(), nullptr);
    for (int id : EDITS)
        EXPECT_TRUE(SameDescription(LogFontOf(*dlg->GetDlgItem(id)), dialogFont)) << id;

    // Below the first size too, which only the frame's minimum forbids.
    Window().setMinimumSize(0, 0);
    const QSize sizes[] = {{1920, 1017}, {1000, 700}, {ClientSize().width(), ClientSize().height()}};
    for (const QSize& to : sizes) {
        SCOPED_TRACE(testing::Message() << to.width() << "x" << to.height());
        const LOGFONT previous = LogFontOf(*dlg->GetDlgItem(IDC_OTHER_BITS_EDIT1));
        ResizeClient(to.width(), to.height());
        RECT rc;
        dlg->GetDlgItem(IDC_OTHER_BITS_EDIT1)->GetClientRect(&rc);
        const int h = rc.bottom - rc.top;
        ASSERT_GT(h, 5);

        LOGFONT expected = previous; // every other attribute kept
        expected.lfHeight = 4 * h / 5;
        expected.lfWidth = (4 * h / 5) / 3;
        LOGFONT member{};
        ASSERT_GT(dlg->EditFont().GetLogFont(&member), 0);
        EXPECT_TRUE(SameDescription(member, expected))
            << member.lfHeight << "/" << member.lfWidth << " for a client height of " << h;
        for (int id : EDITS) {
            EXPECT_TRUE(SameDescription(LogFontOf(*dlg->GetDlgItem(id)), expected)) << id;
            // The edit shows it: a cell of the described height.
            const QFont shown = dlg->GetDlgItem(id)->Widget()->font();
            EXPECT_EQ(shown, dlg->EditFont().Data()->font) << id;
            const QFontMetrics fm(shown);
            EXPECT_NEAR(fm.ascent() + fm.descent(), expected.lfHeight, 1) << id;
        }
        // Other controls keep their fonts.
        EXPECT_TRUE(SameDescription(LogFontOf(*dlg->GetDlgItem(IDC_PORT)), dialogFont));
    }
    EXPECT_STREQ(LogFontOf(*dlg->GetDlgItem(IDC_INTERVAL)).lfFaceName, "MS Shell Dlg");
    EXPECT_EQ(LogFontOf(*dlg->GetDlgItem(IDC_INTERVAL)).lfWeight, dialogFont.lfWeight);
    EXPECT_EQ(LogFontOf(*dlg->GetDlgItem(IDC_INTERVAL)).lfCharSet, dialogFont.lfCharSet);
}

TEST_F(ResizeTest, GaugesRedrawAtTheNewSizeAfterTheReset)
{
    for (CRoundMeter* m : {&dlg->Meter1(), &dlg->Meter2()}) {
        m->grab();
        ASSERT_EQ(m->m_dDiameter, std::min(m->width(), m->height()) - 5.0);
    }
    const double oldDiameter = dlg->Meter1().m_dDiameter;

    ResizeClient(1920, 1017);
    for (CRoundMeter* m : {&dlg->Meter1(), &dlg->Meter2()}) {
        // The cache is gone; until the next paint the old geometry stands.
        EXPECT_EQ(m->m_bmpBackground.GetSafeHandle(), nullptr);
        EXPECT_EQ(m->m_dcBackground.GetSafeHdc(), nullptr);
        EXPECT_EQ(m->m_pPrevBitmap, nullptr);
    }
    EXPECT_EQ(dlg->Meter1().m_dDiameter, oldDiameter);
    for (CRoundMeter* m : {&dlg->Meter1(), &dlg->Meter2()}) {
        const QSize size = m->size();
        m->grab();
        EXPECT_EQ(m->m_dDiameter, std::min(size.width(), size.height()) - 5.0);
        ASSERT_NE(m->m_bmpBackground.Image(), nullptr);
        EXPECT_EQ(m->m_bmpBackground.Image()->size(), size);
    }
    EXPECT_GT(dlg->Meter1().m_dDiameter, oldDiameter);
}

TEST_F(ResizeTest, OpenedComboListsStay100PixelsTallerThanTheirFieldsAfterAResize)
{
    ResizeClient(1920, 1017);
    for (int id : COMBOS) {
        QComboBox& combo = ComboOf(id);
        combo.setEnabled(true);
        const QSize field = combo.size();
        combo.showPopup();
        EXPECT_EQ(dlg->GetDlgItem(id)->DroppedHeight(), field.height() + 100) << id;
        EXPECT_EQ(combo.size(), field) << id;
        EXPECT_EQ(combo.view()->parentWidget()->height(), 100) << id;
        combo.hidePopup();
    }
}

// Catches the size notice the window gets while it is being made, before the
// initialisation has recorded the first client size.
class PeekingTelvarDlg : public CTelvarDlg {
public:
    int widthBeforeInit = -1;
    int heightBeforeInit = -1;
    bool editFontBeforeInit = true;
    std::map<int, QRect> geometryBeforeInit;

protected:
    BOOL OnInitDialog() override
    {
        widthBeforeInit = LastWidth();
        heightBeforeInit = LastHeight();
        editFontBeforeInit = EditFont().GetSafeHandle() != nullptr;
        for (const auto& c : Controls())
            geometryBeforeInit[c->GetDlgCtrlID()] = c->Widget()->geometry();
        return CTelvarDlg::OnInitDialog();
    }
};

TEST_F(ResizeTest, ASizeNoticeBeforeInitialisationOnlyRecordsTheSize)
{
    // Through the window's creation: the notice came before the controls.
    PeekingTelvarDlg peek;
    ASSERT_TRUE(peek.Create());
    const QSize client = peek.GetSafeHwnd()->size();
    EXPECT_EQ(peek.widthBeforeInit, client.width());
    EXPECT_EQ(peek.heightBeforeInit, client.height());
    EXPECT_FALSE(peek.editFontBeforeInit);
    EXPECT_EQ(peek.EditFont().GetSafeHandle(), nullptr);
    for (const auto& c : peek.Controls()) {
        if (c->Kind() == ControlKind::ComboBox)
            continue; // a bound combo takes its own field height
        EXPECT_EQ(c->Widget()->geometry(), peek.geometryBeforeInit.at(c->GetDlgCtrlID())) << c->GetDlgCtrlID();
    }
    peek.DestroyWindow();

    // Without any window: nothing to move, and nothing breaks.
    CTelvarDlg bare;
    bare.OnSize(SIZE_RESTORED, 500, 300);
    EXPECT_EQ(bare.LastWidth(), 500);
    EXPECT_EQ(bare.LastHeight(), 300);
    EXPECT_EQ(bare.EditFont().GetSafeHandle(), nullptr);
    EXPECT_EQ(bare.Meter1().m_bmpBackground.GetSafeHandle(), nullptr);
    EXPECT_EQ(bare.Meter1().m_dDiameter, 0.0);
}

TEST_F(ResizeTest, SizingKeepsTheFrameAtLeastTheFirstClientWidthAndSixtyPixelsTaller)
{
    const CRect init = dlg->InitClient();
    ASSERT_EQ(init.left, 0);
    ASSERT_EQ(init.top, 0);
    const LONG W = init.Width(), H = init.Height() + 60;
    const LONG x = 100, y = 50; // where the proposed frame starts
    struct Case {
        UINT side;
        RECT proposed;
        RECT expected;
    } cases[] = {
        // Too small both ways: the dragged edges give way.
        {WMSZ_LEFT, {x, y, x + 10, y + 10}, {x + 10 - W, y, x + 10, y + H}},
        {WMSZ_RIGHT, {x, y, x + 10, y + 10}, {x, y, x + W, y + H}},
        {WMSZ_TOP, {x, y, x + 10, y + 10}, {x, y + 10 - H, x + W, y + 10}},
        {WMSZ_BOTTOM, {x, y, x + 10, y + 10}, {x, y, x + W, y + H}},
        {WMSZ_TOPLEFT, {x, y, x + 10, y + 10}, {x + 10 - W, y + 10 - H, x + 10, y + 10}},
        {WMSZ_TOPRIGHT, {x, y, x + 10, y + 10}, {x, y + 10 - H, x + W, y + 10}},
        {WMSZ_BOTTOMLEFT, {x, y, x + 10, y + 10}, {x + 10 - W, y, x + 10, y + H}},
        {WMSZ_BOTTOMRIGHT, {x, y, x + 10, y + 10}, {x, y, x + W, y + H}},
        // Wide enough but too short, and the reverse.
        {WMSZ_LEFT, {x, y, x + W + 5, y + 10}, {x, y, x + W + 5, y + H}},
        {WMSZ_TOP, {x, y, x + 10, y + H + 5}, {x, y, x + W, y + H + 5}},
        // Exactly the minimum and above it: unchanged.
        {WMSZ_BOTTOMRIGHT, {x, y, x + W, y + H}, {x, y, x + W, y + H}},
        {WMSZ_TOPLEFT, {x, y, x + W + 300, y + H + 200}, {x, y, x + W + 300, y + H + 200}},
    };
    for (const Case& c : cases) {
        RECT r = c.proposed;
        dlg->OnSizing(c.side, &r);
        EXPECT_TRUE(r.left == c.expected.left && r.top == c.expected.top && r.right == c.expected.right &&
                    r.bottom == c.expected.bottom)
            << "side " << c.side << ": " << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    }

    // Through the message map, as the layer asks it for the window's minimum.
    RECT r{0, 0, 1, 1};
    dlg->WindowProc(WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&r));
    EXPECT_EQ(r.right - r.left, W);
    EXPECT_EQ(r.bottom - r.top, H);
    // Offscreen the frame has no extent, and a minimum is never above the
    // size the dialog starts at (so not 60 pixels taller) nor above the
    // screen: it cannot be dragged below its first size, and a maximise
    // still fits a screen smaller than the dialog.
    const QSize screen = Window().screen()->availableGeometry().size();
    EXPECT_EQ(Window().minimumSize(), QSize(init.Width(), init.Height()).boundedTo(screen));
    EXPECT_LE(Window().minimumHeight(), init.Height());
    EXPECT_EQ(ClientSize(), QSize(init.Width(), init.Height()));
}
