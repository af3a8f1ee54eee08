// Tells the extension while Ctrl is held down in this page, for desktops
// where the program cannot ask the display server. It only listens: it adds
// nothing to the page, stops no event, and runs in the extension's own world,
// out of the page's reach. Events a page makes up itself are not trusted, or
// any page could hold Ctrl to let its own pop-ups through.
"use strict";

(() => {
    const api = globalThis.browser ?? globalThis.chrome;
    let down = false;

    function tell(now) {
        if (now === down)
            return;
        down = now;
        try {
            api.runtime.sendMessage({ctrl: now}).catch(() => {});
        } catch {
            // The extension was reloaded or removed: this page's script is an orphan.
        }
    }

    const quiet = {capture: true, passive: true};
    addEventListener("keydown", (event) => {
        if (event.isTrusted)
            tell(event.key === "Control" || event.ctrlKey);
    }, quiet);
    addEventListener("keyup", (event) => {
        if (event.isTrusted && event.key === "Control")
            tell(false);
    }, quiet);
    // Ctrl pressed before the page had the focus shows first on a click.
    addEventListener("pointerdown", (event) => {
        if (event.isTrusted)
            tell(event.ctrlKey);
    }, quiet);
    // A key let go elsewhere is never seen here. Not captured: the fields of
    // the page losing the focus to each other say nothing of the page's own.
    addEventListener("blur", () => tell(false), {passive: true});
    addEventListener("pagehide", () => tell(false), quiet);
})();
