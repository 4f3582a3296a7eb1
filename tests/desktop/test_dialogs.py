"""The export dialog and the message boxes as a window manager shows them:
modality, ownership, frame; Qt's own texts and the save-as folder; an export
target that is not a regular file."""
import os
import re

import desktop
import ids
from desktop import wait_for
from test_main_flows import choose_target


def save_dialog_open(t):
    return any(w.find("push button", name="浏览") is not None for w in t.windows())


def questions(t):
    return [w for w in t.message_boxes() if w.find("label", name="是否保存历史数据") is not None]


class ExportDialog(desktop.TestCase):
    def run_and_stop(self, t, frames=30):
        t.open_port()
        t.start()
        wait_for(lambda: len(t.record_lines()) >= frames - 4, "the record")
        t.stop_run(save=True)
        return t.save_dialog()

    def test_the_main_window_takes_no_input_while_it_is_open(self):
        t = self.start_tool(boxsim=["--frames", "30"])
        dlg = self.run_and_stop(t)
        self.assertIn("_NET_WM_STATE_MODAL", t.net_wm_state("保存"), "the export dialog is not modal")
        stops_before = [c[:3] for c in t.commands()].count(["7E", "03", "7E"])
        # 停止 is still shown under the dialog: a click on it must do nothing.
        t.ctrl(ids.START, window=t.main_window()).click()
        t.ctrl(ids.SAVE_CANCEL).click()
        wait_for(lambda: questions(t) or not save_dialog_open(t), "the export dialog to close or a second question")
        self.assertEqual(questions(t), [], "a second stop question came up")
        t.wait_text(ids.START, "开始")
        self.assertEqual([c[:3] for c in t.commands()].count(["7E", "03", "7E"]), stops_before)

    def test_it_is_centred_over_its_owner_and_owned_by_it(self):
        t = self.start_tool(boxsim=["--frames", "30"])
        main = t.main_window()
        dlg = self.run_and_stop(t)
        mx, my, mw, mh = main.extents()
        dx, dy, dw, dh = dlg.extents()
        self.assertLessEqual(abs((mx + mw / 2) - (dx + dw / 2)), 40)
        self.assertLessEqual(abs((my + mh / 2) - (dy + dh / 2)), 60)
        self.assertEqual(t.transient_owner_name("保存"), main.name)

    def test_its_frame_has_only_a_title_and_a_fixed_size(self):
        t = self.start_tool(boxsim=["--frames", "30"])
        self.run_and_stop(t)
        wid = t.x_window("保存")
        # What the tool asks of any window manager: the Motif hints give
        # no minimise, maximise or close function (the size hints fix the size) and,
        # where decorations are given, no menu or buttons.
        motif = self.desktop.xprop(wid, "_MOTIF_WM_HINTS")
        fields = [int(v, 16) for v in re.findall(r"0x[0-9a-f]+", motif.split("=", 1)[-1])]
        self.assertGreaterEqual(len(fields), 3, motif)
        flags, functions, decorations = fields[:3]
        self.assertTrue(flags & 0x1, motif)                       # functions are given
        self.assertFalse(functions & (0x1 | 0x8 | 0x10 | 0x20), motif)  # all, minimise, maximise, close
        if flags & 0x2:
            self.assertFalse(decorations & (0x1 | 0x10 | 0x20 | 0x40), motif)  # all, menu, min, max
        # What openbox makes of it: no maximise, no resize. Openbox keeps
        # minimise and close for every titled window whatever the hints say.
        actions = self.desktop.xprop(wid, "_NET_WM_ALLOWED_ACTIONS")
        for action in ("_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT", "_NET_WM_ACTION_RESIZE"):
            self.assertNotIn(action, actions)
        hints = self.desktop.xprop(wid, "WM_NORMAL_HINTS")
        minimum = re.search(r"minimum size: (\d+) by (\d+)", hints)
        maximum = re.search(r"maximum size: (\d+) by (\d+)", hints)
        self.assertTrue(minimum and maximum, hints)
        self.assertEqual(minimum.groups(), maximum.groups())
        # Escape still closes it, without copying.
        t.save_dialog().find("push button", name="浏览")
        self.desktop.key("Escape")
        wait_for(lambda: not save_dialog_open(t), "Escape to close the export dialog")
        self.assertEqual(t.message_boxes(), [])

    def test_minimising_it_takes_the_main_window_along(self):
        # The window manager hides an owned window's owner with it: no
        # blocked main window is left on the screen without its dialog.
        t = self.start_tool(boxsim=["--frames", "30"])
        self.run_and_stop(t)
        dialog, main = t.x_window("保存"), t.x_window("Korvane")
        self.desktop.xdotool("windowminimize", str(dialog))
        for wid in (dialog, main):
            wait_for(lambda: "_NET_WM_STATE_HIDDEN" in self.desktop.xprop(wid, "_NET_WM_STATE"),
                     "window %#x to be hidden" % wid)
        self.desktop.xdotool("windowactivate", str(dialog))
        for wid in (dialog, main):
            wait_for(lambda: "_NET_WM_STATE_HIDDEN" not in self.desktop.xprop(wid, "_NET_WM_STATE"),
                     "window %#x to be shown again" % wid)
        self.desktop.key("Escape")
        wait_for(lambda: not save_dialog_open(t), "Escape to close the export dialog")

    def test_message_boxes_are_modal_and_owned_by_the_main_window(self):
        t = self.start_tool(with_box=False)
        main = t.main_window()
        t.click(ids.OPEN_PORT)
        box = t.wait_message("没有发现串口1或被占用")
        self.assertIn("_NET_WM_STATE_MODAL", t.net_wm_state(box.name))
        self.assertEqual(t.transient_owner_name(box.name), main.name)
        # The main window takes no click meanwhile.
        t.ctrl(ids.OPEN_PORT, window=main).click()
        t.answer(box, "确定")
        self.assertEqual(t.message_boxes(), [], "a second open was tried under the message box")


class QtTexts(desktop.TestCase):
    def open_chooser(self, t):
        t.open_port()
        t.start()
        wait_for(lambda: len(t.record_lines()) >= 5, "the record")
        t.stop_run(save=True)
        t.click(ids.SAVE_BROWSE)
        return wait_for(lambda: next((w for w in t.windows() if w.name == "另存为"), None), "the save-as dialog")

    def folder_shown(self, chooser):
        combo = wait_for(lambda: next((c for c in chooser.descendants() if c.role == "combo box"
                                       and c.name.startswith("/")), None), "the folder combo")
        return combo.name

    def test_the_save_as_dialog_speaks_chinese_and_opens_at_home(self):
        t = self.start_tool(boxsim=["--frames", "20"], env={"LANG": "C", "LC_ALL": "C", "LANGUAGE": ""})
        chooser = self.open_chooser(t)
        buttons = [c.name for c in chooser.descendants() if c.role == "push button" and c.showing]
        self.assertTrue(any(b.startswith("保存") for b in buttons), buttons)
        self.assertTrue(any(b.startswith("取消") for b in buttons), buttons)
        self.assertFalse([b for b in buttons if re.search(r"Save|Cancel", b)], buttons)
        self.assertEqual(self.folder_shown(chooser), t.home)
        self.desktop.key("Escape")

    def test_the_save_as_dialog_opens_in_the_folder_chosen_before(self):
        t = self.start_tool(boxsim=["--frames", "20"])
        folder = os.path.join(t.home, "exports")
        os.mkdir(folder)
        t.open_port()
        t.start()
        wait_for(lambda: len(t.record_lines()) >= 5, "the record")
        t.stop_run(save=True)
        choose_target(self, t, os.path.join(folder, "a.dat"))
        t.click(ids.SAVE_BROWSE)
        chooser = wait_for(lambda: next((w for w in t.windows() if w.name == "另存为"), None), "the save-as dialog")
        self.assertEqual(self.folder_shown(chooser), folder)
        self.desktop.key("Escape")


class FifoTarget(desktop.TestCase):
    def test_a_fifo_is_refused_and_the_tool_stays_responsive(self):
        t = self.start_tool(boxsim=["--frames", "30"])
        t.open_port()
        t.start()
        wait_for(lambda: len(t.record_lines()) >= 26, "the record")
        t.stop_run(save=True)
        record = t.record_bytes()
        fifo = os.path.join(t.home, "pipe.dat")
        os.mkfifo(fifo)
        choose_target(self, t, fifo, overwrite=True)
        t.click(ids.SAVE_OK)
        box = t.wait_message("创建目标文件失败！")
        t.answer(box, "确定")
        wait_for(lambda: not save_dialog_open(t), "the export dialog to close")
        self.assertEqual(t.record_bytes(), record)
        t.wait_text(ids.START, "开始")


if __name__ == "__main__":
    desktop.main()
