#!/usr/bin/env python3
"""The far end of the conformance cases' serial port under Wine: a pseudo-terminal whose slave is
linked at LINK (the path Wine's COM1 is mapped to) and whose master sends every byte it receives
straight back, as the world's echoing device does. Runs until killed; prints "ready" once the
link exists."""
import os
import pty
import select
import sys
import tty

link = sys.argv[1]
master, slave = pty.openpty()
tty.setraw(slave)  # no line discipline of its own: bytes pass as they are until Wine sets the line
name = os.ttyname(slave)
if os.path.lexists(link):
    os.unlink(link)
os.symlink(name, link)
print("ready", flush=True)
while True:
    select.select([master], [], [])
    try:
        data = os.read(master, 4096)
    except OSError:
        continue
    if data:
        os.write(master, data)
