"""The main window on desktops of several kinds: dragged to other sizes, on
small screens, driven through accessibility actions, under a dark theme, at
200 % scale; the colours of combo boxes inside group boxes."""
import os
import re

import desktop
import ids
from desktop import wait_for

# Controls whose rectangles show the layout.
LAYOUT_IDS = (ids.START, ids.EXIT, ids.OPEN_PORT, ids.PORT, ids.OTHER_BITS_EDIT1, ids.OTHER_BITS_EDIT2, ids.METER1,
              ids.METER2, ids.REL_ANGLE1, ids.ZERO_ANGLE2, ids.BIT_WIDTH2, ids.INTERVAL, ids.CLOCK)


def layout(t):
    """Each control's rectangle relative to the window's client area."""
    main = t.main_window()
    wx, wy, _, _ = main.extents()
    out = {}
    for ident in LAYOUT_IDS:
        x, y, w, h = t.ctrl(ident, window=main).extents()
        out[ident] = (x - wx, y - wy, w, h)
    return out


def client_size(t):
    return tuple(t.main_window().extents()[2:])


class Resizing(desktop.TestCase):
    SCREEN = (1600, 1200)  # room to grow: the window manager keeps a window on the screen
    def resize_to(self, t, wid, w, h):
        self.desktop.xdotool("windowsize", "--sync", wid, w, h)
        wait_for(lambda: client_size(t) == (w, h), "the window to be %dx%d" % (w, h))

    def test_dragging_out_and_back_restores_the_layout(self):
        t = self.start_tool()
        main = t.main_window()
        before = layout(t)
        w0, h0 = client_size(t)
        wid = t.x_window(main.name)
        # A drag: many small steps out by 240 x 160 and back.
        steps = 24
        for i in list(range(1, steps + 1)) + list(range(steps - 1, -1, -1)):
            self.desktop.xdotool("windowsize", wid, w0 + 10 * i, h0 + round(160 * i / steps))
        self.resize_to(t, wid, w0, h0)
        after = layout(t)
        for ident in LAYOUT_IDS:
            self.assertEqual(after[ident], before[ident], "control %d moved" % ident)

    def test_the_same_size_gives_the_same_layout_whatever_the_way(self):
        t = self.start_tool()
        main = t.main_window()
        wid = t.x_window(main.name)
        w0, h0 = client_size(t)
        self.resize_to(t, wid, w0 + 200, h0 + 100)
        direct = layout(t)
        self.resize_to(t, wid, w0 + 60, h0 + 20)
        self.resize_to(t, wid, w0 + 300, h0 + 40)
        self.resize_to(t, wid, w0 + 200, h0 + 100)
        self.assertEqual(layout(t), direct)


class FitsTheScreen:
    def assert_fits(self, t):
        main = t.main_window()
        x, y, w, h = main.extents()
        sw, sh = self.SCREEN
        self.assertGreaterEqual(x, 0)
        self.assertGreaterEqual(y, 0)
        self.assertLessEqual(x + w, sw)
        self.assertLessEqual(y + h, sh)
        hints = self.desktop.xprop(t.x_window(main.name), "WM_NORMAL_HINTS")
        m = re.search(r"minimum size: (\d+) by (\d+)", hints)
        if m:
            self.assertLessEqual(int(m.group(1)), sw)
            self.assertLessEqual(int(m.group(2)), sh)
        # Every control is inside the window.
        for ident in LAYOUT_IDS:
            cx, cy, cw, ch = t.ctrl(ident, window=main).extents()
            self.assertLessEqual(cx + cw, x + w, ident)
            self.assertLessEqual(cy + ch, y + h, ident)



class SmallScreen(FitsTheScreen, desktop.TestCase):
    SCREEN = (1024, 768)

    def test_the_window_fits_a_1024_by_768_screen(self):
        self.assert_fits(self.start_tool())


class LargeFonts(FitsTheScreen, desktop.TestCase):
    SCREEN = (1600, 1000)

    def test_the_window_fits_at_144_dpi(self):
        self.assert_fits(self.start_tool(env={"QT_FONT_DPI": "144"}))


class AccessibleActions(desktop.TestCase):
    def first_action(self, control):
        actions = wait_for(lambda: control.actions(), "%r to offer an action" % control)
        return actions[0]

    def test_the_mode_radio_action_does_what_a_click_does(self):
        t = self.start_tool()
        t.open_port()
        self.assertFalse(t.ctrl(ids.INTERVAL).enabled)
        radio = t.ctrl(ids.RESPONSE)
        radio.do_action(self.first_action(radio))
        wait_for(lambda: t.ctrl(ids.RESPONSE).checked, "response mode checked")
        t.wait_enabled(ids.INTERVAL, True)
        radio = t.ctrl(ids.CONTINUOUS)
        radio.do_action(self.first_action(radio))
        t.wait_enabled(ids.INTERVAL, False)

    def test_the_other_width_check_box_action_does_what_a_click_does(self):
        t = self.start_tool()
        t.open_port()
        for box, combo, edit in ((ids.OTHER_BITS1, ids.BIT_WIDTH1, ids.OTHER_BITS_EDIT1),
                                 (ids.OTHER_BITS2, ids.BIT_WIDTH2, ids.OTHER_BITS_EDIT2)):
            c = t.ctrl(box)
            c.do_action(self.first_action(c))
            wait_for(lambda: t.ctrl(box).checked, "the check box checked")
            t.wait_enabled(edit, True)
            t.wait_enabled(combo, False)
            c.do_action(self.first_action(c))
            t.wait_enabled(edit, False)
            t.wait_enabled(combo, True)


def grab_control(test, t, ident, inset=0):
    x, y, w, h = t.ctrl(ident).extents()
    return test.desktop.grab(x + inset, y + inset, w - 2 * inset, h - 2 * inset)


class DarkTheme(desktop.TestCase):
    def test_the_dialog_stays_light_and_its_texts_readable(self):
        config = os.path.join(self.work, "config")
        os.makedirs(os.path.join(config, "qt6ct"))
        with open(os.path.join(config, "qt6ct", "qt6ct.conf"), "w") as f:
            f.write("[Appearance]\ncolor_scheme_path=/usr/share/qt6ct/colors/darker.conf\ncustom_palette=true\n"
                    "style=Fusion\n")
        t = self.start_tool(env={"QT_QPA_PLATFORMTHEME": "qt6ct", "XDG_CONFIG_HOME": config})
        main = t.main_window()
        x, y, w, h = main.extents()
        # The dialog's face, beside the website line.
        face = self.desktop.grab(x + 4, y + h - 6, 4, 4)
        for row in face:
            for px in row:
                self.assertGreaterEqual(min(px), 200, "the dialog's face is dark: %r" % (px,))
        # The value box background is light under its black text.
        box = grab_control(self, t, ids.REL_ANGLE1, inset=2)
        pixels = [px for row in box for px in row]
        light = sum(1 for px in pixels if min(px) >= 200)
        dark = sum(1 for px in pixels if max(px) <= 60)
        self.assertGreater(light, len(pixels) // 2, "the value box is not light")
        self.assertGreater(dark, 0, "no dark text on the value box")


def blocks_not_uniform(pixels):
    """2 x 2 blocks, aligned on the grabbed rectangle, whose pixels differ."""
    n = 0
    for r in range(0, len(pixels) - 1, 2):
        for c in range(0, len(pixels[0]) - 1, 2):
            if len({pixels[r][c], pixels[r][c + 1], pixels[r + 1][c], pixels[r + 1][c + 1]}) > 1:
                n += 1
    return n


class DoubleScale(desktop.TestCase):
    SCREEN = (2560, 2048)

    def test_owner_drawn_surfaces_use_device_pixels(self):
        t = self.start_tool(env={"QT_SCALE_FACTOR": "2"})
        main = t.main_window()
        wx, wy, ww, _ = main.extents()
        # Qt's accessibility bridge gives logical pixels here; the screen has
        # device pixels. The window's X geometry gives the ratio and origin.
        info = self.desktop.xwininfo(t.x_window(main.name))
        dx, dy = int(info["Absolute upper-left X"]), int(info["Absolute upper-left Y"])
        scale = int(info["Width"]) // ww
        self.assertEqual(scale, 2, info)
        for ident, least in ((ids.METER1, 200), (ids.START, 20), (ids.CLOCK, 4)):
            x, y, w, h = t.ctrl(ident, window=main).extents()
            if ident == ids.CLOCK:
                # The drawn arrow box only: the field's text is the edit's own.
                x, w = x + w - 20, 20
            # Each logical pixel is a 2 x 2 block aligned on the window.
            x0 = dx + (x - wx) * scale
            y0 = dy + (y - wy) * scale
            pixels = self.desktop.grab(x0 + scale, y0 + scale, (w - 2) * scale, (h - 2) * scale)
            self.assertGreaterEqual(blocks_not_uniform(pixels), least,
                                    "control %d is painted at 1x and pixel-doubled" % ident)


class GroupBoxColours(desktop.TestCase):
    def test_a_combo_inside_a_group_box_looks_as_one_outside(self):
        t = self.start_tool()
        main = t.main_window()
        inside = t.ctrl(ids.DATA_TYPE1, window=main).extents()   # in the group box 数据类型
        outside = t.ctrl(ids.CLOCK, window=main).extents()       # on the dialog's face
        self.assertEqual(inside[3], outside[3])
        h = inside[3]
        for name, (dx_from_right, dy) in (("frame", (None, h // 2)), ("field", (None, h // 2)),
                                          ("arrow box", (6, 3))):
            if name == "frame":
                pa = self.desktop.grab(inside[0], inside[1] + dy, 1, 1)[0][0]
                pb = self.desktop.grab(outside[0], outside[1] + dy, 1, 1)[0][0]
            elif name == "field":
                pa = self.desktop.grab(inside[0] + 3, inside[1] + 3, 1, 1)[0][0]
                pb = self.desktop.grab(outside[0] + 3, outside[1] + 3, 1, 1)[0][0]
            else:
                pa = self.desktop.grab(inside[0] + inside[2] - dx_from_right, inside[1] + dy, 1, 1)[0][0]
                pb = self.desktop.grab(outside[0] + outside[2] - dx_from_right, outside[1] + dy, 1, 1)[0][0]
            self.assertEqual(pa, pb, "the combo's %s differs inside the group box" % name)


if __name__ == "__main__":
    desktop.main()
