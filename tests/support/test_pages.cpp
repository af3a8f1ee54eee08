#include "tests/support/test_pages.h"

namespace tavro::testing {

namespace {

// The opener page opens what its query names, as soon as it loads: pop-up
// windows (with window features), tabs opened by script, noopener tabs, and
// pop-ups that navigate, show alert() or never stop their script.
constexpr const char* OpenerPage = R"(<!doctype html><title>opener</title><body>opener<script>
const ads = 'http://ads.localhost:' + location.port;
const kinds = {
  popup: () => window.open(ads + '/ad.html', 'p1', 'width=320,height=240'),
  samesite: () => window.open('/ad.html', 'p2', 'popup'),
  two: () => { window.open(ads + '/ad.html?1', 't1', 'width=300,height=200');
               window.open(ads + '/ad.html?2', 't2', 'width=300,height=200'); },
  tab: () => window.open(ads + '/tab.html'),
  noopener: () => window.open(ads + '/free.html', '_blank', 'noopener'),
  navigate: () => window.open(ads + '/hop.html', 'p3', 'width=320,height=240'),
  alert: () => window.open(ads + '/alert.html', 'p4', 'width=320,height=240'),
  loop: () => window.open(ads + '/loop.html', 'p5', 'width=320,height=240'),
  svg: () => window.open(ads + '/picture.svg', 'p6', 'width=320,height=240'),
  text: () => window.open(ads + '/note.txt', 'p7', 'width=320,height=240'),
};
for (const kind of new URLSearchParams(location.search).getAll('open')) kinds[kind]();
</script>)";

} // namespace

void servePages(PageServer& server) {
    server.page("/opener.html", OpenerPage);
    server.page("/home.html", "<!doctype html><title>home</title>home");
    server.page("/ad.html", "<!doctype html><title>ad</title>buy now");
    server.page("/tab.html", "<!doctype html><title>tab</title>a tab");
    server.page("/free.html", "<!doctype html><title>free</title>no opener");
    server.page("/hop.html",
                "<!doctype html><script>location.replace('http://track.localhost:' + location.port + "
                "'/ad.html?hopped')</script>");
    server.page("/alert.html", "<!doctype html><title>alert</title><script>alert('You won!')</script>");
    server.page("/loop.html", "<!doctype html><title>loop</title><script>for (;;) {}</script>");
    server.page(
        "/picture.svg",
        "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'><rect width='10' height='10'/></svg>",
        "image/svg+xml");
    server.page("/note.txt", "plain text", "text/plain");
}

} // namespace tavro::testing
