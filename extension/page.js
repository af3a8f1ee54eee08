// What only the page itself knows, told to the extension: while Ctrl is held
// down (for desktops where the program cannot ask the display server), and
// whether a window the page opened still reaches it (opens.js remembers them
// in the page's world). It runs in the extension's own world, out of the
// page's reach, adds nothing to the page and stops no event. Events a page
// makes up itself are not trusted, or any page could hold Ctrl to let its own
// pop-ups through.
"use strict";

(() => {
    const api = globalThis.browser ?? globalThis.chrome;
    const MEET = "tavro-popup-blocker-meet";
    const READY = "tavro-popup-blocker-ready";
    const ASK = "tavro-popup-blocker-ask";
    const REPORT = "tavro-popup-blocker-opened";
    const OPENING = "tavro-popup-blocker-opening";
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

    // Both scripts run before any of the page's, in either order: whichever
    // runs second completes the meeting, so no page script ever sees the node.
    let node = null;
    let port = null;
    function channel() {
        if (!port) {
            port = api.runtime.connect({name: "opened"});
            port.onDisconnect.addListener(() => { port = null; });
        }
        return port;
    }
    function met(event) {
        if (node || !(event.relatedTarget instanceof Node))
            return;
        node = event.relatedTarget;
        event.preventDefault();
        event.stopImmediatePropagation();
        document.removeEventListener(MEET, met, true);
        // A page whose extension was reloaded or removed has no channel left.
        node.addEventListener(OPENING, () => {
            try {
                channel();
            } catch {
                port = null;
            }
        });
        node.addEventListener(REPORT, (opened) => {
            try {
                if (typeof opened.detail === "string")
                    channel().postMessage({opened: opened.detail});
            } catch {
                port = null;
            }
        });
    }
    document.addEventListener(MEET, met, true);
    document.dispatchEvent(new Event(READY));

    api.runtime.onMessage.addListener((message, _sender, answer) => {
        if (typeof message?.reaches !== "string" || !node)
            return false;
        const asked = new CustomEvent(ASK, {detail: message.reaches, cancelable: true});
        answer(!node.dispatchEvent(asked));
        return false;
    });
})();
