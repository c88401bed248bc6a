"""The launcher's skinned windows under Wine, driven as a player drives them:
real pointer clicks and key presses on the X display (xdotool), the end code
as the program's exit code, the update window downloading from the local
server. Each window is also saved under build/screenshots/."""
import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402
import skinwin  # noqa: E402

TOOL = harness.tool_exe("show_windows.exe")
UPDATE_TITLE = "OrlixDuskmere,微端版本更新中..."


class SkinWindowsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.WinePrefix("skin_windows")
        cls.work = tempfile.mkdtemp(prefix="orlix-skin-")
        cls.server = skinwin.local_server(os.path.join(cls.work, "server"))

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.prefix.close()

    def start(self, args):
        proc = self.prefix.start([TOOL] + args)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return proc

    # ---- message box -------------------------------------------------------
    def test_each_button_and_the_close_button_end_the_box_with_their_codes(self):
        cases = [(0, 0, 1), (0, "close", 2), (1, 0, 1), (1, 1, 2), (1, "close", 2),
                 (4, 0, 6), (4, 1, 7), (4, "close", 2)]
        for style, button, expected in cases:
            with self.subTest(style=style, button=button):
                title = "Box%d%s" % (style, button)
                proc = self.start(["box", str(style), "请选择一个按钮", title])
                wid = skinwin.wait_window(title, proc)
                _, _, w, h = skinwin.geometry(wid)
                if button == "close":
                    skinwin.save(wid, "e2e_box_style%d" % style)
                    skinwin.click(wid, *skinwin.close_button(w))
                else:
                    skinwin.click(wid, *skinwin.box_buttons(w, h, style)[button])
                self.assertEqual(expected, skinwin.wait_exit(proc))

    def test_relabelled_yes_no_box_answers_with_yes_and_no(self):
        for button, expected in ((0, 6), (1, 7)):
            proc = self.start(["product", "3"])
            wid = skinwin.wait_window("Duskmere3.0.1.5", proc)
            _, _, w, h = skinwin.geometry(wid)
            skinwin.click(wid, *skinwin.box_buttons(w, h, 4)[button])
            self.assertEqual(expected, skinwin.wait_exit(proc))

    def test_enter_and_escape_change_nothing(self):
        proc = self.start(["box", "4", "按键无效", "KeysBox"])
        wid = skinwin.wait_window("KeysBox", proc)
        for name in ("Return", "Escape", "KP_Enter"):
            skinwin.key(wid, name)
            time.sleep(0.8)
            self.assertIsNone(proc.poll(), "%s ended the box" % name)
        _, _, w, _ = skinwin.geometry(wid)
        skinwin.click(wid, *skinwin.close_button(w))
        self.assertEqual(2, skinwin.wait_exit(proc))

    def test_the_box_is_centred_and_sized_to_its_text(self):
        proc = self.start(["product", "2"])
        wid = skinwin.wait_window("OrlixDuskmere", proc)
        x, y, w, h = skinwin.geometry(wid)
        skinwin.save(wid, "e2e_uninstall_done")
        # Two lines: taller than a one-line box (129 with this font), wider
        # than two buttons; centred on the 1280 × 1024 screen.
        self.assertGreater(h, 129)
        self.assertGreater(w, 174)
        self.assertLessEqual(abs((x + w // 2) - 640), 2)
        skinwin.click(wid, *skinwin.box_buttons(w, h, 0)[0])
        self.assertEqual(1, skinwin.wait_exit(proc))

    def test_the_title_band_drags_the_window_and_the_body_does_not(self):
        proc = self.start(["box", "0", "拖动", "DragBox"])
        wid = skinwin.wait_window("DragBox", proc)
        x0, y0, w, h = skinwin.geometry(wid)
        # A press at y = 29 (the band's last row) moves the window with the pointer.
        skinwin.drag(wid, 60, 29, 120, 80)
        x1, y1, _, _ = skinwin.geometry(wid)
        self.assertEqual((x0 + 120, y0 + 80), (x1, y1))
        # At y = 31 (the body) nothing moves.
        skinwin.drag(wid, 60, 31, 100, 50)
        self.assertEqual((x1, y1), skinwin.geometry(wid)[:2])
        skinwin.click(wid, *skinwin.box_buttons(w, h, 0)[0])
        self.assertEqual(1, skinwin.wait_exit(proc))

    # ---- update window -----------------------------------------------------
    def target(self, name):
        path = os.path.join(self.work, name)
        if os.path.exists(path):
            os.remove(path)
        return path

    def test_complete_download_ends_with_ok_and_the_file_in_place(self):
        data = bytes((i * 7) % 251 for i in range(300 * 1024))
        self.server.put_file("update/new1.exe", data)
        target = self.target("new1.exe")
        proc = self.start(["update", self.server.url("/update/new1.exe"), self.prefix.to_windows(target)])
        self.assertEqual(1, skinwin.wait_exit(proc, 120))
        with open(target, "rb") as f:
            self.assertEqual(data, f.read())

    def test_refused_or_failed_downloads_end_with_cancel(self):
        self.server.put_file("update/missing_not.exe", b"x")
        cases = [
            # Not an allow-listed host: nothing is sent.
            ("http://example.invalid:%d/update/new.exe" % self.server.port, None),
            # 404.
            (self.server.url("/update/nothing_here.exe"), None),
            # Connection cut at half the declared length.
            (self.server.url("/update/cut.exe"), "cut"),
        ]
        self.server.put_file("update/cut.exe", b"y" * 50000)
        for url, fault in cases:
            with self.subTest(url=url):
                if fault:
                    self.server.fault("/update/cut.exe", fault)
                target = self.target("failed.exe")
                proc = self.start(["update", url, self.prefix.to_windows(target)])
                self.assertEqual(2, skinwin.wait_exit(proc, 120))

    def test_cancel_by_escape_close_button_or_alt_f4_ends_with_cancel(self):
        self.server.put_file("update/stall.exe", b"z" * 8192)
        self.server.fault("/update/stall.exe", "stall-connect")
        for how in ("Escape", "close", "alt+F4"):
            with self.subTest(how=how):
                target = self.target("stalled.exe")
                proc = self.start(["update", self.server.url("/update/stall.exe"), self.prefix.to_windows(target)])
                wid = skinwin.wait_window(UPDATE_TITLE, proc)
                # Enter does nothing while the download runs.
                skinwin.key(wid, "Return")
                time.sleep(0.8)
                self.assertIsNone(proc.poll(), "Enter ended the update window")
                if how == "close":
                    _, _, w, _ = skinwin.geometry(wid)
                    skinwin.click(wid, *skinwin.close_button(w))
                else:
                    skinwin.key(wid, how)
                self.assertEqual(2, skinwin.wait_exit(proc, 30))

    def test_update_window_at_0_50_and_100_percent(self):
        self.server.put_file("update/shown.exe", b"s" * 4096)
        self.server.fault("/update/shown.exe", "stall-connect")
        for percent in (0, 50, 100):
            target = self.target("shown.exe")
            proc = self.start(["update", self.server.url("/update/shown.exe"), self.prefix.to_windows(target),
                               str(percent)])
            wid = skinwin.wait_window(UPDATE_TITLE, proc)
            x, y, w, h = skinwin.geometry(wid)
            self.assertEqual((423, 115), (w, h))
            # Centred on the 1280 × 1024 screen.
            self.assertLessEqual(abs((x + w // 2) - 640), 2)
            self.assertLessEqual(abs((y + h // 2) - 512), 2)
            skinwin.save(wid, "e2e_update_%d" % percent)
            skinwin.key(wid, "Escape")
            self.assertEqual(2, skinwin.wait_exit(proc, 30))


if __name__ == "__main__":
    unittest.main()
