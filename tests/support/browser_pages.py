"""Pages on 127.0.0.1 for the end-to-end scripts and benchmarks that drive a
browser with no debugging port: the kinds of pop-up of the browser tests'
pages (tests/support/test_pages.cpp), a tab the script steers from here, and
pages kept open until the script lets them go.

Every name below .localhost reaches the server, so each case can open its
pop-up from a domain of its own. The opener pages are served from 127.0.0.1,
a site apart from .localhost: a browser runs pages of one site opened from
one another in one process, where a pop-up in an endless loop or in alert()
would stop the opener, and with it the steering, too.

- /drive.html is where the browser starts. It, and every opener page after it,
  asks the server for the next address and goes there: the script opens pages
  in the browser with go(), without a port and without the keyboard.
- /opener.html?open=KIND&host=HOST&title=TITLE opens, as it loads, a pop-up of
  that kind from HOST whose page is titled TITLE (its window's name); it may be
  served from a name of its own too:
    popup     a window with window features, from HOST;
    samesite  the same, from the opener's own domain;
    tab       a tab opened by script;
    noopener  a tab opened with noopener;
    navigate  a window from HOST that moves on to track.HOST;
    alert     a window from HOST that shows alert();
    loop      a window from HOST whose script never ends;
    series    COUNT windows from HOST one after another, at odd moments;
    five      in one go: a window from the opener's own domain (titled
              TITLE-same), one from HOST (TITLE-cross), a tab opened by script
              (TITLE-tab), a noopener tab (TITLE-noopener) and a window from
              the host named by &allowed= (TITLE-allowed).
- The pages opened close themselves once the script calls release(TITLE).
"""
import http.server
import threading
import urllib.parse

# Asks for the next address and goes there; a fetch cut short (the browser
# restarted, the page left) is asked again.
DRIVE = """<script>
const step = Number(new URLSearchParams(location.search).get('step') || 0);
function ask() {
  fetch('/next?step=' + step).then(r => r.text()).then(url => { location.href = url; })
    .catch(() => setTimeout(ask, 500));
}
ask();
</script>"""

# Window features place pop-ups right of the program's window, which the
# scripts click.
OPENER = """<!doctype html><title>opener</title><body>opener<script>
const q = new URLSearchParams(location.search);
const from = (host) => 'http://' + host + ':' + location.port;
const title = encodeURIComponent(q.get('title') || 'ad');
const host = q.get('host');
const place = 'width=320,height=240,left=420,top=380';
const page = (origin, path, suffix = '') => origin + path + '?title=' + title + suffix;
const kinds = {
  popup: () => window.open(page(from(host), '/ad.html'), '', place),
  samesite: () => window.open(page(location.origin, '/ad.html'), '', place),
  tab: () => window.open(page(from(host), '/ad.html')),
  noopener: () => window.open(page(from(host), '/ad.html'), '_blank', 'noopener'),
  navigate: () => window.open(page(from(host), '/hop.html'), '', place),
  alert: () => window.open(page(from(host), '/alert.html'), '', place),
  loop: () => window.open(page(from(host), '/loop.html'), '', place),
  series: () => {
    const count = Number(q.get('count'));
    let opened = 0;
    const next = () => {
      if (opened >= count) return;
      window.open(page(from(host), '/ad.html') + '&n=' + opened, 'p' + opened, place);
      ++opened;
      setTimeout(next, 170 + Math.random() * 260);
    };
    next();
  },
  five: () => {
    window.open(page(location.origin, '/ad.html', '-same'), '', place);
    window.open(page(from(host), '/ad.html', '-cross'), '', place);
    window.open(page(from(host), '/ad.html', '-tab'));
    window.open(page(from(host), '/ad.html', '-noopener'), '_blank', 'noopener');
    window.open(page(from(q.get('allowed')), '/ad.html', '-allowed'), '', place);
  },
};
kinds[q.get('open')]();
</script>"""

# A page the script lets go: it closes itself, as a page opened by script may.
RELEASED = """<script>
fetch('/release?title=' + encodeURIComponent(document.title)).then(() => window.close());
</script>"""


def page(title, body, script=RELEASED):
    return f"<!doctype html><title>{title}</title>{body}{script}"


class BrowserPages:
    """The pages, served on threads of their own until stop()."""

    def __init__(self):
        self.requests = []
        self._lock = threading.Condition()
        self._next = []
        self._released = set()
        pages = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                try:
                    pages._serve(self)
                except OSError:
                    pass  # the browser left the page, or ended

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        with self._lock:
            self._lock.notify_all()

    def domain(self, host):
        """The domain as the program lists it: the host and the port."""
        return f"{host}:{self.port}"

    def start_url(self):
        return f"http://127.0.0.1:{self.port}/drive.html?step={len(self._next)}"

    def opener_url(self, kind, host, title, at="127.0.0.1", **more):
        """The opener page, served from 127.0.0.1 unless at names another host."""
        query = urllib.parse.urlencode({"open": kind, "host": host, "title": title, **more})
        return f"http://{at}:{self.port}/opener.html?{query}"

    def start_on(self, url):
        """url as the page a browser starts on, steered from there on as from
        start_url()."""
        return f"{url}{'&' if '?' in url else '?'}step={len(self._next)}"

    def go(self, url):
        """The steered tab goes to url next."""
        with self._lock:
            self._next.append(url)
            self._lock.notify_all()

    def release(self, title):
        """The pages titled so close themselves."""
        with self._lock:
            self._released.add(title)
            self._lock.notify_all()

    def requested(self, path, title):
        """Whether a page at path titled so was asked for."""
        with self._lock:
            return any(p == path and t == title for p, t in self.requests)

    def _serve(self, handler):
        url = urllib.parse.urlparse(handler.path)
        query = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
        title = query.get("title", "ad")
        with self._lock:
            self.requests.append((url.path, title))
        host = handler.headers.get("Host", "").split(":")[0]
        if url.path == "/next":
            # Every step's page is told its successor, so a request left over
            # from a page the browser no longer shows takes nothing away.
            step = int(query.get("step", "0"))
            with self._lock:
                if not self._lock.wait_for(lambda: len(self._next) > step, timeout=600):
                    return
                target = self._next[step]
            joiner = "&" if "?" in target else "?"
            self._send(handler, f"{target}{joiner}step={step + 1}", "text/plain")
            return
        if url.path == "/release":
            with self._lock:
                if not self._lock.wait_for(lambda: title in self._released, timeout=600):
                    return
            self._send(handler, "", "text/plain")
            return
        hopped = f"http://track.{host}:{self.port}/ad.html?title={urllib.parse.quote(title)}"
        body = {
            "/drive.html": lambda: page("driver", "driver", DRIVE),
            "/opener.html": lambda: OPENER + DRIVE,
            "/ad.html": lambda: page(title, "buy now"),
            "/hop.html": lambda: page(title, "", f"<script>location.replace('{hopped}')</script>"),
            "/alert.html": lambda: page(title, "", "<script>alert('You won!')</script>"),
            "/loop.html": lambda: page(title, "", "<script>for (;;) {}</script>"),
        }.get(url.path)
        if body is None:
            handler.send_error(404)
            return
        self._send(handler, body(), "text/html")

    @staticmethod
    def _send(handler, text, kind):
        data = text.encode()
        handler.send_response(200)
        handler.send_header("Content-Type", kind)
        handler.send_header("Content-Length", str(len(data)))
        handler.send_header("Cache-Control", "no-store")
        handler.end_headers()
        handler.wfile.write(data)

