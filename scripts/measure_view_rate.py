#!/usr/bin/env python3
"""Frames per second of the desktop view while the scene is turned with the mouse.

Starts Xvfb and korvan with the given OBJ files, dismisses the load report, drags with the
left button and reads the rate the view writes into its caption after each drawing.

    scripts/measure_view_rate.py build/release/src/app/korvan big.obj [samples]
"""
import ctypes
import os
import re
import statistics
import subprocess
import sys
import time

DISPLAY = ":57"


def caption_rate():
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True,
                          env={**os.environ, "DISPLAY": DISPLAY}).stdout
    found = re.findall(r'"[^"]*FPS:\s*([0-9.]+)[^"]*"', tree)
    return float(found[0]) if found else None


def main():
    program, files = sys.argv[1], sys.argv[2:3]
    samples = int(sys.argv[3]) if len(sys.argv) > 3 else 12
    xvfb = subprocess.Popen(["Xvfb", DISPLAY, "-screen", "0", "1280x1024x24"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(2)
    app = subprocess.Popen([program, *files], env={**os.environ, "DISPLAY": DISPLAY},
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
        xtest = ctypes.cdll.LoadLibrary("libXtst.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        xtest.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                            ctypes.c_ulong]
        xtest.XTestFakeButtonEvent.argtypes = xtest.XTestFakeKeyEvent.argtypes
        xtest.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                               ctypes.c_int, ctypes.c_ulong]
        display = x11.XOpenDisplay(DISPLAY.encode())
        for _ in range(120):
            if caption_rate() is not None:
                break
            time.sleep(1)

        def move(x, y):
            xtest.XTestFakeMotionEvent(display, -1, x, y, 0)
            x11.XFlush(display)

        # The load report is a modal box in the middle of the screen: Enter closes it.
        move(500, 340)
        time.sleep(0.5)
        enter = x11.XKeysymToKeycode(display, 0xFF0D)
        xtest.XTestFakeKeyEvent(display, enter, 1, 0)
        xtest.XTestFakeKeyEvent(display, enter, 0, 0)
        x11.XFlush(display)
        time.sleep(2)
        move(300, 300)
        xtest.XTestFakeButtonEvent(display, 1, 1, 0)
        rates = []
        for i in range(samples):
            move(300 + 5 * (i + 1), 300)
            time.sleep(1.5)
            rates.append(caption_rate())
        xtest.XTestFakeButtonEvent(display, 1, 0, 0)
        x11.XFlush(display)
        rates = [r for r in rates if r]
        print("frames/s:", " ".join(f"{r:.2f}" for r in rates))
        print(f"median {statistics.median(rates):.2f}, min {min(rates):.2f}, max {max(rates):.2f}")
    finally:
        app.kill()
        xvfb.kill()


if __name__ == "__main__":
    main()
