#!/usr/bin/env python3
"""Starts and stops the fake publisher of one build folder (a CTest fixture, the demo, the bench).

  fixture.py start <build dir> <port> [--source <dir>]
  fixture.py stop  <build dir> <port>

`start` stops a publisher still answering on the port (a run that was killed), makes sure the
build's Wine prefix trusts the test root CA, starts a fresh server in the background, and
returns once it answers. The server stops by itself when the process that ran `start` (CTest)
is gone or after 15 idle minutes, so it never outlives the test run.
"""

import json
import os
import signal
import ssl
import subprocess
import sys
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))


def paths(build):
    state = os.path.join(build, "fake_publisher")
    return {
        "state": state,
        "pidfile": os.path.join(state, "server.pid"),
        "log": os.path.join(state, "requests.jsonl"),
        "console": os.path.join(state, "server.log"),
        "files": os.path.join(state, "files"),
        "pki": os.path.join(build, "pki"),
    }


def control(port, name, timeout=2.0, data=None):
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    request = urllib.request.Request("https://127.0.0.1:%d/__control/%s" % (port, name), data=data)
    with urllib.request.urlopen(request, timeout=timeout, context=context) as answer:
        return json.loads(answer.read().decode("utf-8"))


def answering(port):
    try:
        return control(port, "ping", timeout=1.0).get("ok", False)
    except Exception:
        return False


def pid_alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def stop(build, port):
    p = paths(build)
    pid = 0
    try:
        with open(p["pidfile"]) as f:
            pid = int(f.read().strip() or 0)
    except (OSError, ValueError):
        pass
    if answering(port):
        try:
            control(port, "shutdown", data=b"")
        except Exception:
            pass
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and (answering(port) or (pid and pid_alive(pid))):
        time.sleep(0.1)
    # Only the server this build folder started (its pid file), never anything else.
    if pid and pid_alive(pid):
        os.kill(pid, signal.SIGTERM)
    return 0


def ensure_root_ca(build, source):
    prefix = os.path.join(build, "wineprefix")
    hook = os.path.join(source, "tests", "prefix.d", "10-root-ca.sh")
    # A prefix made before the hook existed (or by a build without it) gets the CA now; a
    # prefix that does not exist yet gets it from the hook when wine_run.sh creates it.
    if os.path.isfile(os.path.join(prefix, ".li-ready")) and \
            not os.path.isfile(os.path.join(prefix, ".li-root-ca")) and os.path.isfile(hook):
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
                   LI_BUILD_DIR=build, LI_SOURCE_DIR=source)
        # Some test builds bring their own Wine launchers (tests/CMakeLists.txt).
        wine_bin = os.path.join(build, "wine_bin")
        if os.path.isdir(wine_bin):
            env["PATH"] = wine_bin + os.pathsep + env.get("PATH", "")
        subprocess.run(["bash", hook, prefix], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)


def start(build, port, source):
    p = paths(build)
    stop(build, port)
    os.makedirs(p["files"], exist_ok=True)
    ensure_root_ca(build, source)
    # A fresh log per run: tests look for their own requests in it.
    open(p["log"], "w").close()
    console = open(p["console"], "a")
    subprocess.Popen(
        [sys.executable, os.path.join(HERE, "fake_publisher.py"), "--port", str(port),
         "--pki", p["pki"], "--files", p["files"], "--log", p["log"], "--pidfile", p["pidfile"],
         "--parent-pid", str(os.getppid())],
        stdin=subprocess.DEVNULL, stdout=console, stderr=console, start_new_session=True)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        if answering(port):
            print("fake publisher answering on https://localhost:%d" % port)
            return 0
        time.sleep(0.1)
    print("fake publisher did not start; see " + p["console"], file=sys.stderr)
    return 1


def main(argv):
    if len(argv) < 4 or argv[1] not in ("start", "stop"):
        print(__doc__, file=sys.stderr)
        return 2
    build, port = os.path.abspath(argv[2]), int(argv[3])
    source = os.path.dirname(os.path.dirname(HERE))
    if "--source" in argv:
        source = os.path.abspath(argv[argv.index("--source") + 1])
    return start(build, port, source) if argv[1] == "start" else stop(build, port)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
