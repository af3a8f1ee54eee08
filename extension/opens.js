// Runs in the page's own world, before any of the page's scripts, and
// remembers the windows the page opens with window.open. A new pop-up can say
// whether it still reaches its opener only once its first document has
// arrived; the page that opened it knows at once. It reports each window it
// opened that still reaches it once the opening script has run, and answers
// when the extension asks as the browser shows the new tab (page.js passes
// both on), so that the program can close a pop-up before its page has shown
// anything.
//
// Only the extension's script in this frame hears or asks: it is handed a node no
// page script ever sees, before any page script runs, and every function used
// here is taken before then too. What it is told is read from the browser's
// own account of the opened window, not from anything the page can redefine.
// A page that opens its windows another way (a fresh frame's open, a link) is
// simply not remembered, and its pop-ups are judged as they always were.
"use strict";

(() => {
    const MEET = "tavro-popup-blocker-meet";
    const READY = "tavro-popup-blocker-ready";
    const ASK = "tavro-popup-blocker-ask";
    const REPORT = "tavro-popup-blocker-opened";
    const OPENING = "tavro-popup-blocker-opening";
    // A page that opened more windows than this has the newest remembered.
    const REMEMBERED = 32;

    const apply = Reflect.apply;
    const define = Object.defineProperty;
    const describe = Object.getOwnPropertyDescriptor;
    const toText = String;
    const UrlOf = URL;
    const MouseEventOf = MouseEvent;
    const CustomEventOf = CustomEvent;
    const EventOf = Event;
    const later = queueMicrotask;
    const addListener = EventTarget.prototype.addEventListener;
    const removeListener = EventTarget.prototype.removeEventListener;
    const dispatch = EventTarget.prototype.dispatchEvent;
    const preventDefault = Event.prototype.preventDefault;
    const detailOf = describe(CustomEvent.prototype, "detail").get;
    const baseUriOf = describe(Node.prototype, "baseURI").get;
    const hrefOf = describe(UrlOf.prototype, "href").get;

    // A window's own attributes live on the window itself, or on its
    // prototype in some browsers.
    function getterOf(name) {
        return (describe(window, name) ?? describe(Window.prototype, name))?.get;
    }
    const openerOf = getterOf("opener");
    const closedOf = getterOf("closed");
    const realOpen = window.open;
    const openDescriptor = describe(window, "open");
    if (typeof realOpen !== "function" || !openerOf || !closedOf || !openDescriptor)
        return;

    const doc = document;
    const node = apply(Document.prototype.createElement, doc, ["span"]);
    // Slots in a table of no prototype: nothing the page sets on Object's
    // prototype reaches them.
    const opened = Object.create(null);
    let count = 0;

    function absolute(url) {
        try {
            return apply(hrefOf, new UrlOf(url, apply(baseUriOf, doc, [])), []);
        } catch {
            return null;
        }
    }

    function open(...args) {
        // The address is made text once, so that what is remembered is what
        // the browser is given.
        if (args.length > 0 && args[0] !== undefined)
            args[0] = toText(args[0]);
        apply(dispatch, node, [new EventOf(OPENING)]);
        const win = apply(realOpen, this, args);
        if (win) {
            const href = absolute(args.length > 0 && args[0] !== undefined && args[0] !== "" ? args[0]
                                                                                             : "about:blank");
            if (href !== null) {
                opened[count++ % REMEMBERED] = {href, win};
                // Once the opening script has run, so that one that cuts the
                // window off at once (w.opener = null) is not reported.
                apply(later, window, [() => {
                    if (stillReaches(win))
                        apply(dispatch, node, [new CustomEventOf(REPORT, {detail: href})]);
                }]);
            }
        }
        return win;
    }

    function stillReaches(win) {
        try {
            return !apply(closedOf, win, []) && apply(openerOf, win, []) !== null;
        } catch {
            // A window that has left this page's origin: it cannot be read here.
            return false;
        }
    }

    // Whether every window this page opened at the address still reaches it.
    function reaches(href) {
        let found = false;
        for (let i = 0; i < REMEMBERED && i < count; ++i) {
            const slot = opened[i];
            if (slot.href !== href)
                continue;
            try {
                if (apply(closedOf, slot.win, []))
                    continue;
                if (apply(openerOf, slot.win, []) === null)
                    return false;
            } catch {
                // A window that has left this page's origin: it cannot be read here.
                return false;
            }
            found = true;
        }
        return found;
    }

    apply(addListener, node, [ASK, (event) => {
        const href = apply(detailOf, event, []);
        if (typeof href === "string" && reaches(href))
            apply(preventDefault, event, []);
    }]);

    let met = false;
    function meet() {
        if (met)
            return;
        met = !apply(dispatch, doc, [new MouseEventOf(MEET, {relatedTarget: node, cancelable: true})]);
        if (met)
            apply(removeListener, doc, [READY, meet, true]);
    }
    apply(addListener, doc, [READY, meet, true]);
    meet();

    define(window, "open", {...openDescriptor, value: open});
})();
