#!/usr/bin/python3
# A screen reader on the window while an echo to a host that does not answer
# waits: the window is a frame listing its controls in reading order, and
# answers within the wait, while the focus that a question moves and the
# button it presses reach the form only at the run's next yield; the results
# are read by word after the run, and a question about an offset outside the
# text leaves nothing on stderr. Run as root on a session bus of its own,
# in a network namespace whose loopback ignores echoes; the display is its own.
# Prints how long the answers took. Exit status 0, 1 failed, 77 skipped.
# Usage: screen_reader.py path/to/sondrel-ping
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

try:
    import pyatspi
except ImportError:
    print("SKIPPED: no pyatspi (apt-get install python3-pyatspi)")
    sys.exit(77)


def fail(what):
    print("FAIL:", what)
    sys.exit(1)


def until(condition, seconds, what):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            fail(what)
        time.sleep(0.05)


read, write = os.pipe()
display = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-noreset", "-nolisten", "tcp"],
                           pass_fds=[write], stderr=subprocess.DEVNULL)
work = tempfile.mkdtemp()
program = None
try:
    os.environ["DISPLAY"] = ":" + os.read(read, 16).decode().strip()
    subprocess.run(["dbus-update-activation-environment", "DISPLAY"], check=True)
    subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                    "/org/a11y/bus", "org.freedesktop.DBus.Properties.Set",
                    "string:org.a11y.Status", "string:IsEnabled", "variant:boolean:true"],
                   check=True, stdout=subprocess.DEVNULL)
    # A copy with its own settings: two echoes, the count with blanks to lose.
    os.mkdir(work + "/bin")
    shutil.copy(sys.argv[1], work + "/bin/sondrel-ping")
    with open(work + "/bin/Settings.inf", "w") as settings:
        settings.write("[settings]\nhostname=127.0.0.1\ntimes= 2 \nbytes=32\n")
    os.environ.pop("QT_QPA_PLATFORM", None)
    said = open(work + "/said", "w+")
    program = subprocess.Popen([work + "/bin/sondrel-ping"], stderr=said)
    apps = lambda: [a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "sondrel-ping"]
    until(lambda: apps() and apps()[0].childCount > 0, 30, "no window through AT-SPI")
    window = apps()[0][0]
    listed = lambda o: [(c.getRoleName(), c.name, listed(c) if c.getRoleName() == "panel" else [])
                        for c in o]
    tree = (window.getRoleName(), listed(window))
    panel, results = window[0], window[1]
    host, count, start, save = panel[1], panel[3], panel[6], panel[8]
    expected = ("frame", [
        ("panel", "", [("label", "请输入IP地址或网址:", []), ("text", "请输入IP地址或网址", []),
                       ("label", "次数:", []), ("text", "次数", []), ("label", "包大小:", []),
                       ("text", "包大小", []), ("push button", "开始", []),
                       ("push button", "关闭", []), ("push button", "保存设置", [])]),
        ("text", "Results", [])])
    if tree != expected:
        fail("the tree: %s" % (tree,))
    text = lambda o: o.queryText().getText(0, -1)
    where = count.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    pyatspi.Registry.generateMouseEvent(where.x + 5, where.y + 5, "b1c")
    until(lambda: count.getState().contains(pyatspi.STATE_FOCUSED), 10, "the window took no focus")
    echoes = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    echoes.settimeout(10)
    start.queryAction().doAction(0)
    while echoes.recv(100)[20] != 8:
        pass
    asked = time.monotonic()
    host.queryComponent().grabFocus()
    save.queryAction().doAction(0)
    heard = (text(results), start.name, text(count), apps()[0].childCount)
    print("answered %.3f s into the echo's wait" % (time.monotonic() - asked))
    if heard != ("", "Stop", " 2 ", 1):
        fail("while the echo waits: %s" % (heard,))
    # The press is the next yield's: the save's box, which holds the run.
    until(lambda: apps()[0].childCount == 2, 10, "the save's box did not come")
    ok = pyatspi.findDescendant(apps()[0][1], lambda o: o.getRoleName() == "push button")
    ok.queryAction().doAction(0)
    until(lambda: start.name == "Ping", 10, "the run did not end")
    if text(count) != "2" or text(results).count("Request Timeout") != 2:
        fail("after the run: %r, %r" % (text(count), text(results)))
    # Read by word, as a screen reader reads on: at 0 a blank, at 1 the first word.
    word = results.queryText().getTextAtOffset(1, pyatspi.TEXT_BOUNDARY_WORD_START)
    if tuple(word) != ("Request", 1, 8):
        fail("the word at offset 1: %s" % (word,))
    # Offsets outside the text: no answer, and nothing said about them.
    results.queryText().getTextAtOffset(-1, pyatspi.TEXT_BOUNDARY_WORD_START)
    results.queryText().getCharacterAtOffset(1000)
    program.terminate()
    program.wait()
    said.seek(0)
    if "QTextCursor" in said.read():
        said.seek(0)
        fail("the program said: " + said.read())
finally:
    if program and program.poll() is None:
        program.terminate()
        program.wait()
    display.terminate()
    shutil.rmtree(work)
