#!/usr/bin/python3
"""Drags one file onto the window under a point of the X screen, as a file manager does: the X11
drag and drop protocol (XDND, version 5) offering text/uri-list, the pointer moved along.

Usage: xdnd_drag.py FILE X Y. Exits 0 once the target has taken the drop and said it is finished,
1 with a reason when it refuses or stays silent."""
import sys
import time
from pathlib import Path
from urllib.parse import quote

from Xlib import X, display, error
from Xlib.ext import xtest
from Xlib.protocol import event

VERSION = 5
TIMEOUT_S = 15


class Drag:
    def __init__(self, path, x, y):
        self.display = display.Display()
        self.root = self.display.screen().root
        self.atom = {name: self.display.intern_atom(name) for name in (
            "XdndAware", "XdndSelection", "XdndEnter", "XdndPosition", "XdndStatus", "XdndLeave",
            "XdndDrop", "XdndFinished", "XdndActionCopy", "text/uri-list", "TARGETS")}
        self.uris = ("file://" + quote(str(Path(path).resolve())) + "\r\n").encode()
        self.x, self.y = x, y
        self.source = self.root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent)
        self.target = None

    def find_target(self):
        """The window under the point that announces XDND, searched from the root down."""
        window = self.root
        while True:
            if window != self.root:
                aware = window.get_full_property(self.atom["XdndAware"], X.AnyPropertyType)
                if aware is not None:
                    return window, aware.value[0]
            below = window.translate_coords(self.root, self.x, self.y).child
            if not below:
                return None, 0
            window = below

    def send(self, name, *data):
        values = [self.source.id, *data] + [0] * (4 - len(data))
        message = event.ClientMessage(window=self.target, client_type=self.atom[name], data=(32, values))
        self.target.send_event(message, event_mask=X.NoEventMask)
        self.display.flush()

    def answer(self, request):
        """Serves the file's URI to the target's request for the dragged data."""
        prop = request.property or request.target
        if request.selection != self.atom["XdndSelection"]:
            prop = X.NONE
        elif request.target == self.atom["text/uri-list"]:
            request.requestor.change_property(prop, request.target, 8, self.uris)
        elif request.target == self.atom["TARGETS"]:
            request.requestor.change_property(prop, X.XA_ATOM, 32, [self.atom["text/uri-list"]])
        else:
            prop = X.NONE
        notify = event.SelectionNotify(time=request.time, requestor=request.requestor,
                                       selection=request.selection, target=request.target, property=prop)
        request.requestor.send_event(notify)
        self.display.flush()

    def next_message(self, deadline):
        """The next XDND message sent to the source, answering data requests meanwhile."""
        while time.monotonic() < deadline:
            if not self.display.pending_events():
                time.sleep(0.01)
                continue
            received = self.display.next_event()
            if received.type == X.SelectionRequest:
                self.answer(received)
            elif received.type == X.ClientMessage:
                return received.client_type, received.data[1]
        return None, None

    def move_pointer(self, x, y):
        xtest.fake_input(self.display, X.MotionNotify, x=x, y=y)
        self.display.sync()

    def run(self):
        deadline = time.monotonic() + TIMEOUT_S
        self.target, version = self.find_target()
        if self.target is None:
            return f"no XDND-aware window at {self.x}, {self.y}"
        self.source.set_selection_owner(self.atom["XdndSelection"], X.CurrentTime)
        self.move_pointer(self.x - 40, self.y - 40)
        self.send("XdndEnter", min(version, VERSION) << 24, self.atom["text/uri-list"])
        accepted = False
        # A few positions on the way in, as a moving pointer sends them; the last one is the drop point.
        for step in (20, 10, 0):
            x, y = self.x - step, self.y - step
            self.move_pointer(x, y)
            self.send("XdndPosition", 0, (x << 16) | y, X.CurrentTime, self.atom["XdndActionCopy"])
            kind, data = self.next_message(deadline)
            while kind is not None and kind != self.atom["XdndStatus"]:
                kind, data = self.next_message(deadline)
            if kind is None:
                return "no XdndStatus from the target"
            accepted = bool(data[1] & 1)
        if not accepted:
            self.send("XdndLeave")
            return "the window refused the drop"
        self.send("XdndDrop", 0, X.CurrentTime)
        kind, data = self.next_message(deadline)
        while kind is not None and kind != self.atom["XdndFinished"]:
            kind, data = self.next_message(deadline)
        if kind is None:
            return "no XdndFinished from the target"
        if version >= 5 and not data[1] & 1:
            return "the target finished without taking the drop"
        return None


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    try:
        failure = Drag(sys.argv[1], int(sys.argv[2]), int(sys.argv[3])).run()
    except error.DisplayError as problem:
        failure = str(problem)
    if failure:
        sys.exit(f"xdnd_drag: {failure}")


if __name__ == "__main__":
    main()
