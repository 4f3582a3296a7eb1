"""The operator's main flows on the real tool: open, start in both modes,
zero and cancel, stop with the question, export, exit."""
import os
import re

import desktop
import ids
from desktop import wait_for

FRAMES = 150


class MainFlows(desktop.TestCase):
    def test_start_up_state(self):
        t = self.start_tool()
        for ident, text in ((ids.PORT, "串口1"), (ids.BIT_WIDTH1, "26Bit"), (ids.BIT_WIDTH2, "26Bit"),
                            (ids.DATA_TYPE1, "二进制"), (ids.DATA_TYPE2, "二进制"), (ids.CLOCK, "0.5 M"),
                            (ids.FREQUENCY, "100Hz"), (ids.PORT_STATUS, "串口未打开"), (ids.ZERO_ANGLE1, "0°"),
                            (ids.ZERO_ANGLE2, "0°"), (ids.REL_ANGLE1, "0.0000°"), (ids.TOTAL_ANGLE2, "0.0000°"),
                            (ids.CODE1, ""), (ids.OPEN_PORT, "打开串口"), (ids.START, "开始")):
            self.assertEqual(t.read(ident), text, ident)
        for ident in (ids.START, ids.ZERO1, ids.ZERO2, ids.CONTINUOUS, ids.RESPONSE, ids.INTERVAL,
                      ids.OTHER_BITS1, ids.OTHER_BITS_EDIT1, ids.BIT_WIDTH1, ids.DATA_TYPE2):
            self.assertFalse(t.ctrl(ident).enabled, ident)
        self.assertTrue(t.ctrl(ids.CONTINUOUS).checked)
        for ident in (ids.PORT, ids.OPEN_PORT, ids.EXIT, ids.CLOCK, ids.FREQUENCY):
            self.assertTrue(t.ctrl(ident).enabled, ident)

    def test_open_and_close_the_port(self):
        t = self.start_tool()
        t.open_port()
        self.assertFalse(t.ctrl(ids.PORT).enabled)
        self.assertTrue(t.ctrl(ids.START).enabled)
        self.assertFalse(t.ctrl(ids.INTERVAL).enabled)  # continuous mode
        wait_for(lambda: t.commands(), "the open-time command to reach the box")
        t.click(ids.OPEN_PORT)
        t.wait_text(ids.PORT_STATUS, "串口1已关闭")
        self.assertEqual(t.read(ids.OPEN_PORT), "打开串口")
        self.assertFalse(t.ctrl(ids.BIT_WIDTH1).enabled)
        self.assertTrue(t.ctrl(ids.PORT).enabled)

    def test_a_port_without_a_device_fails_to_open(self):
        t = self.start_tool(with_box=False)
        t.click(ids.OPEN_PORT)
        box = t.wait_message("没有发现串口1或被占用")
        t.answer(box, "确定")
        t.wait_text(ids.PORT_STATUS, "串口1打开失败")
        self.assertEqual(t.read(ids.OPEN_PORT), "打开串口")
        self.assertFalse(t.ctrl(ids.START).enabled)

    def test_continuous_run_is_recorded_line_by_line(self):
        t = self.start_tool(boxsim=["--frames", str(FRAMES), "--speed1", "720", "--speed2", "-500",
                                    "--start1", "100", "--start2", "200"])
        t.open_port()
        t.start()
        self.assertFalse(t.ctrl(ids.OPEN_PORT).enabled)
        self.assertTrue(t.ctrl(ids.ZERO1).enabled)
        wait_for(lambda: len(t.sent_words()) == FRAMES, "the box to send %d frames" % FRAMES)
        wait_for(lambda: len(t.record_lines()) >= FRAMES - 4,
                 "the record to hold the frames")
        t.wait_text(ids.CODE1, re.compile(r"^\d+$"))
        t.stop_run(save=False)
        t.wait_text(ids.START, "开始")
        self.assertTrue(t.ctrl(ids.OPEN_PORT).enabled)
        lines = t.record_lines()
        first = desktop.check_record_against_sent(lines, t.sent_words())
        self.assertEqual(first + len(lines), FRAMES)
        # The labels show the last frame.
        self.assertEqual(t.read(ids.CODE1), lines[-1][1])
        self.assertEqual(t.read(ids.TOTAL_ANGLE1), lines[-1][2])
        self.assertEqual(t.read(ids.CODE2), lines[-1][4])
        # Start went out once, and the stop command last.
        cmds = [" ".join(c[:3]) for c in t.commands()]
        self.assertEqual(cmds.count("7E 01 7E"), 1)
        wait_for(lambda: [" ".join(c[:3]) for c in t.commands()][-1] == "7E 03 7E", "the stop command")

    def test_response_mode_polls_at_the_interval(self):
        t = self.start_tool(boxsim=["--speed1", "90", "--speed2", "45"])
        t.open_port()
        t.click(ids.RESPONSE)
        wait_for(lambda: t.ctrl(ids.RESPONSE).checked, "response mode")
        t.wait_enabled(ids.INTERVAL)
        t.click(ids.INTERVAL)
        self.desktop.key("ctrl+a")
        self.desktop.type("20")
        t.wait_text(ids.INTERVAL, "20")
        t.start()
        wait_for(lambda: len(t.record_lines()) >= 40, "40 polled frames")
        t.stop_run(save=False)
        t.wait_text(ids.START, "开始")
        lines = t.record_lines()
        # A poll discards input not yet read, so a late frame may be missing.
        desktop.check_record_against_sent(lines, t.sent_words(), gaps=True)
        self.assertGreaterEqual(len(lines), 40)
        self.assertTrue(t.ctrl(ids.INTERVAL).enabled)
        # Polls went out, and only polls after the start command.
        cmds = [" ".join(c[:3]) for c in t.commands()]
        self.assertNotIn("7E 01 7E", cmds)
        self.assertGreaterEqual(cmds.count("7E 02 7E"), len(lines))

    def test_zero_and_cancel(self):
        t = self.start_tool(boxsim=["--start1", "100", "--start2", "200", "--frames", "50"])
        t.open_port()
        t.start()
        t.wait_text(ids.REL_ANGLE1, re.compile(r"^100\.\d{4}$"))
        t.click(ids.ZERO1)
        t.wait_text(ids.ZERO1, "取消通道1归零")
        self.assertRegex(t.read(ids.ZERO_ANGLE1), r"^100\.\d+ ?°$")
        self.assertEqual(t.read(ids.ZERO_ANGLE2), "0°")
        t.click(ids.ZERO1)
        t.wait_text(ids.ZERO1, "通道1光栅归零")
        self.assertRegex(t.read(ids.ZERO_ANGLE1), r"^0\.0000 ?°$")
        t.stop_run(save=False)

    def test_stop_then_export_copies_the_record(self):
        t = self.start_tool(boxsim=["--frames", "60", "--speed1", "30"])
        t.open_port()
        t.start()
        wait_for(lambda: len(t.sent_words()) == 60, "60 frames")
        wait_for(lambda: len(t.record_lines()) >= 56, "the record")
        t.stop_run(save=True)
        target = os.path.join(t.home, "copy.dat")
        choose_target(self, t, target)
        t.click(ids.SAVE_OK)
        box = t.wait_message("拷贝数据成功")
        t.answer(box, "确定")
        wait_for(lambda: not any(w.find("push button", name="浏览") for w in t.windows()), "the export to close")
        with open(target, "rb") as a:
            self.assertEqual(a.read(), t.record_bytes())
        t.wait_text(ids.START, "开始")

    def test_exit_while_recording_ends_the_process(self):
        t = self.start_tool(boxsim=["--frames", "1000000"])
        t.open_port()
        t.start()
        wait_for(lambda: len(t.record_lines()) >= 10, "recording")
        t.click(ids.EXIT)
        self.assertEqual(t.wait_exit(), 0)
        # Whole lines only, and no question was asked.
        t.record_lines()


def choose_target(test, t, target, overwrite=False):
    """Browse in the export dialog, type `target` into the save-as dialog, accept
    (and confirm replacing an existing file when `overwrite`)."""
    t.click(ids.SAVE_BROWSE)
    chooser = wait_for(lambda: next((w for w in t.windows() if w.name == "另存为"), None), "the save-as dialog")
    name_field = wait_for(lambda: next((c for c in chooser.descendants() if c.role == "text" and c.showing
                                        and c.state(desktop.atspi().STATE_FOCUSED)), None),
                          "the file name field to have the focus")
    del name_field
    t.desktop.key("ctrl+a")
    t.desktop.type(target)
    t.desktop.key("Return")
    if overwrite:
        question = wait_for(lambda: next((w for w in t.windows() if w.name == "另存为"
                                          and w.find("push button", name=re.compile(r"^(是|&?Yes)"))), None),
                            "the question whether to replace the file")
        question.find("push button", name=re.compile(r"^(是|&?Yes)")).click()
    t.wait_text(ids.SAVE_PATH, target)


if __name__ == "__main__":
    desktop.main()
