"""A private X server for the end-to-end scripts."""
import os
import subprocess


def start_x_server(screen="1024x768x24"):
    """Xvfb on a display it picks itself, so that tests running side by side
    never race for one. Returns the server's process and its display name.
    -noreset: by default the server resets when its last client leaves, and a
    program connecting during that reset (say, just as a polling xdotool goes)
    is refused."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen, "-nolisten", "tcp",
                             "-noreset"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as f:
        number = f.readline().strip()
    if not number:
        xvfb.kill()
        xvfb.wait()
        raise AssertionError("Xvfb did not start")
    return xvfb, ":" + number
