"""The trend window on the real tool: opened by its shortcut, by the context
menu of either gauge and of the dialog, by the keyboard's menu key, as an
accessible action and by --trend, one window at most; with the box turning both encoders both plots
move, and the statistics follow the frames the tool recorded."""
import math
import re

import desktop
import ids
from desktop import wait_for

TITLE = "趋势图"
PENS = ((21, 101, 192), (198, 40, 40))  # channel 1 blue, channel 2 red
STAT_COLUMNS = ("帧数", "帧/秒", "最小值", "最大值", "平均值", "标准差", "峰峰值")
LINE = re.compile(r"^线路（(本次运行|自打开本窗口起)）：已接收帧 (\d+)\s+收集器拒收帧 (\d+)\s+重新同步 (\d+)$")


def trend_window(t):
    return wait_for(lambda: next((w for w in t.windows() if w.name == TITLE), None), "the trend window")


def trend_x_windows(t):
    """X windows of the tool called 趋势图 that are mapped."""
    out = t.desktop.xdotool_out("search", "--all", "--onlyvisible", "--pid", t.proc.pid, "--name", "^%s$" % TITLE)
    return [int(w) for w in out.split()]


def active_window(d):
    out = d.xdotool_out("getactivewindow").strip()
    return int(out) if out else None


def statistics(win):
    """The statistics table as {channel: {column: text}}, read as a screen reader does."""
    table = win.find("table", name="统计")
    cells = [c for c in table.descendants() if c.role == "table cell" and c.showing]
    if len(cells) != 14:
        raise AssertionError("the statistics table shows %d cells" % len(cells))
    cells.sort(key=lambda c: (c.extents()[1], c.extents()[0]))
    return {ch + 1: dict(zip(STAT_COLUMNS, (c.name for c in cells[ch * 7:ch * 7 + 7]))) for ch in range(2)}


def line_counts(win):
    text = win.find("label", description="线路统计").name
    m = LINE.match(text)
    if not m:
        raise AssertionError("the line counts read %r" % text)
    return m.group(1), int(m.group(2)), int(m.group(3)), int(m.group(4))


def popup_menu(t):
    """The X window of a popup menu of the tool (it has no title): its centre."""
    def find():
        for wid in t.desktop.xdotool_out("search", "--all", "--onlyvisible", "--pid", t.proc.pid,
                                         "--name", ".*").split():
            title = re.search(r'= "(.*)"', t.desktop.xprop(int(wid), "WM_NAME"))
            if not title or not title.group(1):
                info = t.desktop.xwininfo(int(wid))
                return (int(info["Absolute upper-left X"]) + int(info["Width"]) // 2,
                        int(info["Absolute upper-left Y"]) + int(info["Height"]) // 2)
        return None
    return wait_for(find, "a popup menu")


def pen_pixels(test, plot, pen):
    """Pixels of the plot that are the pen's colour (or near it, where the line is smoothed)."""
    x, y, w, h = plot.extents()
    pixels = test.desktop.grab(x, y, w, h)
    return sum(1 for row in pixels for px in row if sum(abs(a - b) for a, b in zip(px, pen)) <= 60)


def direct_statistics(values):
    n = len(values)
    mean = sum(values) / n
    return {"min": min(values), "max": max(values), "mean": mean,
            "std": math.sqrt(sum((v - mean) ** 2 for v in values) / n)}


class Opening(desktop.TestCase):
    def assert_one_trend_window_active(self, t):
        wait_for(lambda: len(trend_x_windows(t)) == 1, "one trend window on the screen")
        wid = trend_x_windows(t)[0]
        wait_for(lambda: active_window(self.desktop) == wid, "the trend window to be the active one")
        return wid

    def activate_main(self, t):
        main = t.x_window(t.main_window().name)
        self.desktop.xdotool("windowactivate", "--sync", main)
        wait_for(lambda: active_window(self.desktop) == main, "the main window to be active")

    def test_ctrl_t_opens_it_and_asking_again_raises_the_same_window(self):
        t = self.start_tool()
        self.activate_main(t)
        self.desktop.key("ctrl+t")
        first = self.assert_one_trend_window_active(t)
        self.assertIsNone(t.transient_owner_name(TITLE), "the trend window must not be modal to the dialog")
        # Back to the dialog, which stays usable, and the shortcut again.
        self.activate_main(t)
        t.click(ids.OPEN_PORT)
        t.wait_text(ids.PORT_STATUS, "串口1已打开")
        self.desktop.key("ctrl+t")
        self.assertEqual(self.assert_one_trend_window_active(t), first)
        # Escape closes it; the shortcut opens it again.
        self.desktop.key("Escape")
        wait_for(lambda: not trend_x_windows(t), "the trend window to close")
        self.activate_main(t)
        self.desktop.key("ctrl+t")
        self.assert_one_trend_window_active(t)

    def test_the_context_menus_of_both_gauges_and_the_dialog_open_it(self):
        t = self.start_tool()
        main = t.main_window()
        wx, wy, ww, wh = main.extents()
        places = {"gauge 1": t.ctrl(ids.METER1).centre(), "gauge 2": t.ctrl(ids.METER2).centre(),
                  "dialog": (wx + ww // 2, wy + wh - 4)}
        for where, (x, y) in places.items():
            with self.subTest(where=where):
                self.desktop.click_at(x, y, 3)
                # The menu holds the one item 趋势图….
                self.desktop.click_at(*popup_menu(t))
                self.assert_one_trend_window_active(t)
                self.desktop.key("Escape")
                wait_for(lambda: not trend_x_windows(t), "the trend window to close")

    def test_the_menu_key_on_a_button_reaches_it_from_the_keyboard(self):
        t = self.start_tool()
        self.activate_main(t)
        # Tab to a push button, which has no menu of its own.
        for _ in range(40):
            focused = [c for c in t.main_window().descendants() if c.state(desktop.atspi().STATE_FOCUSED)]
            if focused and focused[0].role == "push button":
                break
            self.desktop.key("Tab")
        else:
            self.fail("no push button took the focus by Tab")
        self.desktop.key("Menu")
        popup_menu(t)
        self.desktop.key("Down", "Return")
        self.assert_one_trend_window_active(t)

    def test_a_screen_reader_runs_it_as_an_action_of_either_gauge(self):
        t = self.start_tool()
        for gauge in (ids.METER1, ids.METER2):
            with self.subTest(gauge=gauge):
                t.ctrl(gauge).do_action("趋势图…")
                self.assert_one_trend_window_active(t)
                self.desktop.key("Escape")
                wait_for(lambda: not trend_x_windows(t), "the trend window to close")


class BothSeriesMove(desktop.TestCase):
    def test_both_plots_move_and_the_statistics_follow_the_recorded_frames(self):
        # 100 frames a second (the dialog's first frequency); channel 1
        # forwards, channel 2 backwards, neither wrapping within the test.
        t = self.start_tool(boxsim=["--start1", "10", "--speed1", "9", "--start2", "300", "--speed2", "-5"],
                            args=["--port", "1", "--open", "--start", "--trend"])
        win = trend_window(t)
        t.wait_text(ids.START, "停止")
        plots = [wait_for(lambda ch=ch: win.find(name="通道%d趋势图" % ch), "plot %d" % ch) for ch in (1, 2)]
        # Channel 1 above channel 2, sharing the window's width.
        self.assertLess(plots[0].extents()[1], plots[1].extents()[1])

        # Both lines grow to the right as frames come: more of each pen's
        # pixels, and only in its own plot.
        before = [pen_pixels(self, plots[i], PENS[i]) for i in range(2)]
        wait_for(lambda: all(pen_pixels(self, plots[i], PENS[i]) > before[i] + 20 for i in range(2)),
                 "both lines to grow (before: %r)" % (before,))
        self.assertEqual(pen_pixels(self, plots[0], PENS[1]), 0, "channel 2's colour in channel 1's plot")
        self.assertEqual(pen_pixels(self, plots[1], PENS[0]), 0, "channel 1's colour in channel 2's plot")

        # The statistics follow: more frames as time goes on.
        first = int(statistics(win)[1]["帧数"])
        wait_for(lambda: int(statistics(win)[1]["帧数"]) >= first + 50, "the frame count to grow past %d" % first)

        # The whole run, frozen: the figures are those of the frames recorded.
        span = next(c for c in win.find_all("combo box")
                    if [i.name for i in c.descendants() if i.role == "list item"][:1] == ["10 秒"])
        self.assertEqual(span.name, "1 分钟")
        # Its label's accelerator, then the last item.
        self.desktop.key("alt+s")
        wait_for(lambda: span.state(desktop.atspi().STATE_FOCUSED), "the span box to take the focus")
        self.desktop.key("End")
        wait_for(lambda: span.name == "整个运行", "the span to be the whole run (it is %r)" % span.name)
        pause = win.find("push button", name="暂停")
        pause.click()
        wait_for(lambda: win.find("push button", name="继续") is not None, "the button to read 继续")
        stats = wait_for(lambda: (lambda s: s if s[1]["帧数"] == s[2]["帧数"] else None)(statistics(win)),
                         "both channels to count the same frames")
        n = int(stats[1]["帧数"])
        self.assertGreater(n, 100)
        wait_for(lambda: len(t.record_lines()) >= n, "the record to hold %d lines" % n)
        lines = t.record_lines()[:n]
        desktop.check_record_against_sent(lines, t.sent_words())
        for ch, field in ((1, 0), (2, 3)):
            values = [float(line[field]) for line in lines]
            want = direct_statistics(values)
            got = stats[ch]
            # The table shows four decimals of the decoded angles; the record
            # rounds each angle to four decimals too.
            self.assertEqual(got["最小值"], "%.4f" % want["min"], ch)
            self.assertEqual(got["最大值"], "%.4f" % want["max"], ch)
            self.assertAlmostEqual(float(got["峰峰值"]), want["max"] - want["min"], delta=2e-4, msg=ch)
            self.assertAlmostEqual(float(got["平均值"]), want["mean"], delta=2e-4, msg=ch)
            self.assertAlmostEqual(float(got["标准差"]), want["std"], delta=2e-4, msg=ch)
            self.assertAlmostEqual(float(got["帧/秒"]), 100.0, delta=10.0, msg=ch)
        # Channel 1 went up, channel 2 down, as the box turned them.
        self.assertLess(float(lines[0][0]), float(lines[-1][0]))
        self.assertGreater(float(lines[0][3]), float(lines[-1][3]))

        # The line since the run began: every frame accepted, none refused.
        since, accepted, refused, resyncs = line_counts(win)
        self.assertEqual(since, "本次运行")
        self.assertGreaterEqual(accepted, n)
        self.assertEqual((refused, resyncs), (0, 0))

        # The mouse over channel 1's plot reads a recorded frame back.
        x, y, w, h = plots[0].extents()
        self.desktop.xdotool("mousemove", x + w // 2, y + h // 2)
        cursor = win.find("label", description="光标读数")
        readout = wait_for(lambda: re.match(r"^通道1  时间 ([0-9.]+) s  相对角度 ([0-9.]+)°$", cursor.name),
                           "the readout of channel 1")
        self.assertIn(readout.group(2), {line[0] for line in lines})

        # Resume jumps to now: more frames than while paused.
        win.find("push button", name="继续").click()
        wait_for(lambda: int(statistics(win)[1]["帧数"]) > n, "the statistics to move on after 继续")

    def test_line_faults_are_counted_and_every_accepted_frame_is_recorded(self):
        frames = 400
        t = self.start_tool(boxsim=["--speed1", "9", "--speed2", "-5", "--noise", "0.003", "--seed", "7",
                                    "--frames", str(frames)],
                            args=["--port", "1", "--open", "--start", "--trend"])
        win = trend_window(t)
        wait_for(lambda: len(t.sent_words()) == frames, "the box to send its %d frames" % frames)
        # Every frame the line accepted during the run is a recorded line.
        wait_for(lambda: line_counts(win)[1] == len(t.record_lines()) > 300,
                 "the accepted count to equal the record's lines")
        since, accepted, refused, resyncs = line_counts(win)
        self.assertEqual(since, "本次运行")
        self.assertGreater(refused, 0)
        self.assertGreater(resyncs, 0)
        # The noise cost frames: accepted and refused together are no more than were sent.
        self.assertLessEqual(accepted + refused, frames)
        # The trend window lies over part of the dialog: bring the dialog up first.
        self.desktop.xdotool("windowactivate", "--sync", t.x_window(t.main_window().name))
        t.stop_run(save=False)
        t.wait_text(ids.START, "开始")
        self.assertEqual(line_counts(win), (since, accepted, refused, resyncs))


if __name__ == "__main__":
    desktop.main()
