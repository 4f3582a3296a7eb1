"""Faults that only the process shows: no display, a file size limit, the
device pulled in the middle of a run. The tool runs with the signal
dispositions a shell gives it (subprocess restores SIGXFSZ and SIGPIPE to
their defaults in the child); nothing here ignores a signal for it."""
import os
import re
import resource
import signal
import subprocess

import desktop
import ids
from desktop import wait_for

EFBIG_TEXT = os.strerror(27)  # "File too large"


class NoDisplay(desktop.unittest.TestCase):
    """Started where there is no display: one line, status 1, no core."""

    def run_without_display(self, **env_changes):
        env = dict(os.environ)
        for k in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(k, None)
        env.update(env_changes)
        env["HOME"] = env.get("TMPDIR", "/tmp")
        # A core would show as a death by signal; the limit keeps none from being written.
        p = subprocess.run([desktop.TELVAR], env=env, capture_output=True, timeout=60,
                           preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0)))
        return p.returncode, p.stderr.decode("utf-8", "replace")

    def test_no_display_named(self):
        rc, err = self.run_without_display()
        self.assertEqual(rc, 1, err)
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertIn("DISPLAY", err)
        self.assertIn("xvfb-run", err)

    def test_a_display_that_cannot_be_reached(self):
        rc, err = self.run_without_display(DISPLAY=":97531")
        self.assertEqual(rc, 1, err)
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertIn("xvfb-run", err)


def file_size_limit(limit):
    def apply():
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY))
    return apply


class FileSizeLimit(desktop.TestCase):
    def test_the_record_keeps_whole_lines_and_counts_the_lost(self):
        frames = 600
        limit = 12000
        t = self.start_tool(boxsim=["--rate", "1000", "--frames", str(frames), "--speed1", "200"],
                            preexec=file_size_limit(limit))
        t.open_port()
        t.start()
        failed = t.wait_message(re.compile("^记录文件写入失败，数据行正在丢失："))
        wait_for(lambda: len(t.sent_words()) == frames, "every frame sent")
        self.assertIsNone(t.proc.poll(), "the tool ended: %s" % t.proc.returncode)
        t.answer(failed, "确定")
        t.click(ids.START)
        lost_box = t.wait_message(re.compile(r"^本次记录有\d+行数据未能写入记录文件。$"))
        lost = int(re.search(r"(\d+)", lost_box.find("label", name=re.compile("^本次")).name).group(1))
        t.answer(lost_box, "确定")
        t.answer(t.wait_message("是否保存历史数据"), "否")
        t.wait_text(ids.START, "开始")
        data = t.record_bytes()
        self.assertLessEqual(len(data), limit)
        lines = desktop.parse_record(data)
        first = desktop.check_record_against_sent(lines, t.sent_words())
        self.assertGreater(lost, 0)
        self.assertEqual(first + len(lines) + lost, frames)

    def test_an_export_beyond_the_limit_says_so(self):
        t = self.start_tool(boxsim=["--rate", "1000", "--frames", "400"])
        t.open_port()
        t.start()
        wait_for(lambda: len(t.record_lines()) >= 396, "the record")
        t.stop_run(save=True)
        # The limit comes after the record was written, as when an operator's
        # shell limit is lower than the record has grown.
        resource.prlimit(t.proc.pid, resource.RLIMIT_FSIZE, (4096, resource.RLIM_INFINITY))
        target = os.path.join(t.home, "export.dat")
        from test_main_flows import choose_target
        choose_target(self, t, target)
        t.click(ids.SAVE_OK)
        box = t.wait_message("写入目标文件出错，复制未完成：" + EFBIG_TEXT)
        self.assertIsNone(t.proc.poll())
        t.answer(box, "确定")
        # The export stays open after a failed write, and leaves no partial target.
        t.ctrl(ids.SAVE_CANCEL).click()
        wait_for(lambda: not any(w.find("push button", name="浏览") for w in t.windows()), "the export to close")
        self.assertFalse(os.path.exists(target), "a partial copy was left as the target")


SETTINGS_IDS = (ids.BIT_WIDTH1, ids.BIT_WIDTH2, ids.DATA_TYPE1, ids.DATA_TYPE2, ids.CONTINUOUS, ids.RESPONSE,
                ids.INTERVAL, ids.OTHER_BITS1, ids.OTHER_BITS2, ids.OTHER_BITS_EDIT1, ids.OTHER_BITS_EDIT2)


class DevicePulled(desktop.TestCase):
    def assert_ordinary_loss_state(self, t):
        t.wait_port_lost()
        t.wait_text(ids.OPEN_PORT, "打开串口")
        t.wait_text(ids.START, "开始")
        t.wait_text(ids.PORT_STATUS, "串口1已关闭")
        self.assertFalse(t.ctrl(ids.START).enabled)
        self.assertTrue(t.ctrl(ids.PORT).enabled)
        for ident in SETTINGS_IDS:
            self.assertFalse(t.ctrl(ident).enabled, "control %d is enabled with the port closed" % ident)
        self.assertIsNone(t.proc.poll())

    def test_the_run_ends_when_the_box_goes(self):
        t = self.start_tool(boxsim=["--frames", "100000"])
        t.open_port()
        t.start()
        wait_for(lambda: len(t.record_lines()) >= 10, "recording")
        t.kill_box()
        self.assert_ordinary_loss_state(t)
        self.assertEqual(t.message_boxes(), [])
        desktop.parse_record(t.record_bytes())

    def test_a_loss_under_the_stop_question_ends_the_run_once(self):
        t = self.start_tool(boxsim=["--frames", "100000"])
        t.open_port()
        t.start()
        wait_for(lambda: len(t.record_lines()) >= 10, "recording")
        t.click(ids.START)
        question = t.wait_message("是否保存历史数据")
        t.kill_box()
        t.wait_port_lost()
        t.answer(question, "否")
        self.assert_ordinary_loss_state(t)
        self.assertEqual(t.message_boxes(), [])

    def test_a_loss_under_the_lost_lines_message_ends_the_run_once(self):
        t = self.start_tool(boxsim=["--rate", "1000", "--frames", "100000"], preexec=file_size_limit(8000))
        t.open_port()
        t.start()
        t.wait_message(re.compile("^记录文件写入失败，数据行正在丢失："))
        t.answer(t.wait_message(re.compile("^记录文件写入失败")), "确定")
        t.click(ids.START)
        lost_text = re.compile(r"^本次记录有\d+行数据未能写入记录文件。$")
        lost_box = t.wait_message(lost_text)
        t.kill_box()
        t.wait_port_lost()
        t.answer(lost_box, "确定")
        # What follows is the stop's own question, never the count a second time.
        question = t.wait_message("是否保存历史数据")
        self.assertEqual([w for w in t.message_boxes() if w.find("label", name=lost_text)], [])
        t.answer(question, "否")
        self.assert_ordinary_loss_state(t)
        self.assertEqual(t.message_boxes(), [])


if __name__ == "__main__":
    desktop.main()
