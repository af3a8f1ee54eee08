// Tells Tavro Popup Blocker, through its native messaging host, of the pages
// opened from other pages and of every page's life, and does what the program
// asks: close a page, ask a page about itself, open a page. The program
// decides what is a pop-up and what is allowed; nothing here judges a page,
// and nothing here changes one. The messages are described in
// docs/extension-protocol.md.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;

const HOST = "tavro_popup_blocker";
const PROTOCOL = 4;
const FIRST_REST_MS = 1000;
// Chromium stops a service worker that has made no call for 30 s, and a
// stopped worker waits for the next browser event before it tries again: the
// longest rest stays well below that.
const LONGEST_REST_MS = 20000;
// The host ends within milliseconds when the program is absent; a port that
// lived longer than this reached the program.
const REACHED_AFTER_MS = 5000;
// A page in alert() or in an endless script never answers; the program is
// told that it could not be asked rather than kept waiting.
const PROBE_DEADLINE_MS = 500;
// The page that opened a new tab has its word in 10 to 30 ms (the browser is
// busy making the window meanwhile); a page whose own script keeps it busy
// longer has its tab told of without it.
const OPENER_DEADLINE_MS = 100;
// Chromium names a new tab's source within a millisecond of the tab itself;
// a busy browser takes longer.
const SOURCE_WAIT_MS = 300;
const WINDOW_TYPES = ["normal", "popup", "panel", "app", "devtools"];
// The longest a new tab's first request waits for the program's word: the
// hold is let go by this timer whatever the program does, stopped or gone.
const HOLD_MS = 1000;

let port = null;
let retry = null;
let rest = FIRST_REST_MS;
// The page that opened each tab, as the browser named it when it opened the
// tab, so that the whole state sent after a gap still holds it.
const sources = new Map();
// New tabs not yet announced: the browser tells that a tab was opened from
// another page only after it told of the new tab, so "created" waits a while
// for that news, or for the tab's first other news, whichever comes first.
const waiting = new Map();
// Messages that need the browser's answers first leave in the order of their
// events, so that a page's end never overtakes its announcement.
let queue = Promise.resolve();
// Whether the program judges pages now (blocking is on): only then is a new
// tab's first request held for its word.
let judging = false;
// New tabs that have made no request yet, and the requests held: by number,
// the tab and how the hold ends.
const fresh = new Set();
const holds = new Map();
let nextHold = 1;
// Windows a page opened by window.open that still reached it once the
// opening script had run, as the page's own script reported them, until the
// browser tells of their tab: when, by the page's tab and frame and the
// window's address. The reports come in the order of their time.
const reports = new Map();
const awaitingReport = new Map();
const REPORT_KEPT_MS = 5000;

function enqueue(produce) {
    queue = queue
        .then(produce)
        .then((message) => {
            if (message)
                post(message);
        })
        .catch(() => {});
}

function post(message) {
    if (!port)
        return;
    try {
        port.postMessage(message);
    } catch {
        // The port closed under us; onDisconnect brings the next connection.
    }
}

function browserFamily() {
    return typeof api.runtime.getBrowserInfo === "function" ? "firefox" : "chromium";
}

async function windowTypeOf(windowId) {
    try {
        return (await api.windows.get(windowId)).type ?? null;
    } catch {
        return null;
    }
}

// Where a tab is: its window and that window's type; null once it is gone.
async function placeOf(tabId) {
    let tab;
    try {
        tab = await api.tabs.get(tabId);
    } catch {
        return null;
    }
    return {tab, window: tab.windowId, windowType: await windowTypeOf(tab.windowId)};
}

async function allWindows() {
    try {
        return await api.windows.getAll({populate: true, windowTypes: WINDOW_TYPES});
    } catch {
        // A browser that knows fewer window types refuses the whole list.
        return await api.windows.getAll({populate: true});
    }
}

async function wholeState() {
    const tabs = [];
    for (const window of await allWindows()) {
        for (const tab of window.tabs ?? []) {
            tabs.push({
                tab: tab.id,
                window: window.id,
                windowType: window.type ?? null,
                url: tab.url ?? "",
                sourceTab: sources.get(tab.id) ?? tab.openerTabId ?? null,
            });
        }
    }
    return {type: "tabs", tabs};
}

function connect() {
    if (port || retry)
        return;
    let opened;
    try {
        opened = api.runtime.connectNative(HOST);
    } catch {
        restAndRetry(true);
        return;
    }
    port = opened;
    const since = Date.now();
    let absent = false;
    let answered = false;
    opened.onMessage.addListener((message) => {
        if (message?.type === "absent") {
            absent = true;
            return;
        }
        answered = true;
        obey(message);
    });
    opened.onDisconnect.addListener(() => {
        // Read, so that Chromium does not report the reason as unchecked.
        void api.runtime.lastError;
        if (port === opened)
            port = null;
        judging = false;
        letAllGo();
        restAndRetry(absent || (!answered && Date.now() - since < REACHED_AFTER_MS));
    });
    post({type: "hello", protocol: PROTOCOL, browser: browserFamily(), extension: api.runtime.getManifest().version});
    // Whatever happened while no one listened is in the whole state.
    enqueue(wholeState);
}

function restAndRetry(unreached) {
    if (!unreached)
        rest = FIRST_REST_MS;
    const wait = rest;
    if (unreached)
        rest = Math.min(rest * 2, LONGEST_REST_MS);
    clearTimeout(retry);
    retry = setTimeout(() => {
        retry = null;
        connect();
    }, wait);
}

function withDeadline(promise, ms) {
    let timer;
    const late = new Promise((_, reject) => {
        timer = setTimeout(() => reject(new Error("no answer in time")), ms);
    });
    return Promise.race([promise, late]).finally(() => clearTimeout(timer));
}

function letGo(hold, verdict) {
    const held = holds.get(hold);
    if (!held)
        return;
    holds.delete(hold);
    clearTimeout(held.timer);
    held.resolve(verdict);
}

function letAllGo() {
    for (const hold of [...holds.keys()])
        letGo(hold, {});
}

// Whether the page in the tab can reach its opener, asked of the empty
// document a new tab shows before its first request is let go.
async function reachesOpener(tabId) {
    try {
        const results = await api.scripting.executeScript(
            {target: {tabId}, injectImmediately: true, func: () => window.opener !== null});
        const result = results?.[0]?.result;
        return typeof result === "boolean" ? result : null;
    } catch {
        return null;
    }
}

// A new tab's first request, opened from another page, waits while the
// program judges the tab by the address it asks for: a pop-up the program
// closes never sends it.
function holdFirstRequest(details) {
    if (details.tabId < 0 || !fresh.delete(details.tabId) || !port || !judging || !details.originUrl)
        return {};
    const tabId = details.tabId;
    return new Promise((resolve) => {
        const hold = nextHold++;
        holds.set(hold, {tab: tabId, resolve, timer: setTimeout(() => letGo(hold, {}), HOLD_MS)});
        Promise.all([reachesOpener(tabId), placeOf(tabId)]).then(([opener, place]) => {
            if (!place || !holds.has(hold))
                return letGo(hold, {});
            post({
                type: "held",
                hold,
                tab: tabId,
                window: place.window,
                windowType: place.windowType,
                url: details.url,
                sourceTab: sources.get(tabId) ?? place.tab.openerTabId ?? null,
                opener,
            });
        });
    });
}

// Run in the page's frame, in the extension's own world: it reads, and
// changes nothing.
function describePage() {
    return [window.opener !== null, document.contentType, location.href];
}

async function describeTab(tabId, ms) {
    try {
        const results = await withDeadline(
            api.scripting.executeScript({target: {tabId}, injectImmediately: true, func: describePage}), ms);
        const result = results?.[0]?.result;
        if (Array.isArray(result) && typeof result[0] === "boolean" && typeof result[1] === "string" &&
            typeof result[2] === "string")
            return result;
    } catch {
        // No permission, a privileged page, a page that does not answer, or a tab that is gone.
    }
    return null;
}

async function probe(id, tabId) {
    // A new pop-up is asked before its first document has arrived: Chromium
    // holds the question until that document replaces the empty one, then
    // refuses it. By then the document is there, and asking again at once
    // answers some 50 to 100 ms sooner than the program's next question would.
    const deadline = Date.now() + PROBE_DEADLINE_MS;
    let answer = await describeTab(tabId, PROBE_DEADLINE_MS);
    if (!answer && deadline - Date.now() > 0)
        answer = await describeTab(tabId, deadline - Date.now());
    let url = answer?.[2];
    if (url === undefined) {
        const place = await placeOf(tabId);
        url = place?.tab.url ?? "";
    }
    post({type: "probe", id, tab: tabId, url, opener: answer?.[0] ?? null, contentType: answer?.[1] ?? null});
}

function obey(message) {
    if (typeof message !== "object" || message === null)
        return;
    switch (message.type) {
    case "close":
        if (Number.isInteger(message.tab)) {
            for (const [hold, held] of holds) {
                if (held.tab === message.tab)
                    letGo(hold, {cancel: true});
            }
            api.tabs.remove(message.tab).catch(() => {});
        }
        break;
    case "release":
        if (Number.isInteger(message.hold))
            letGo(message.hold, {});
        break;
    case "judging":
        judging = message.on === true;
        if (!judging)
            letAllGo();
        break;
    case "probe":
        if (Number.isInteger(message.id) && Number.isInteger(message.tab))
            probe(message.id, message.tab);
        break;
    case "open":
        if (typeof message.url === "string")
            api.windows.create({url: message.url, focused: true}).catch(() => {});
        break;
    case "ping":
        // The program asks after a quiet while whether the browser still listens.
        if (Number.isInteger(message.id))
            post({type: "pong", id: message.id});
        break;
    }
}

function announceCreated(tabId) {
    if (!waiting.has(tabId))
        return;
    clearTimeout(waiting.get(tabId));
    waiting.delete(tabId);
    enqueue(async () => {
        const place = await placeOf(tabId);
        if (!place)
            return null;
        return {
            type: "created",
            tab: tabId,
            window: place.window,
            windowType: place.windowType,
            url: place.tab.url || place.tab.pendingUrl || "",
        };
    });
}

// Listeners are added at the top level, so that an event that starts a
// stopped worker still reaches them.

function reportKey(tabId, frameId, url) {
    return `${tabId} ${frameId} ${url}`;
}

function reportOpened(sender, url) {
    const now = Date.now();
    for (const [key, at] of reports) {
        if (now - at < REPORT_KEPT_MS)
            break;
        reports.delete(key);
    }
    const key = reportKey(sender.tab.id, sender.frameId, url);
    const awaited = awaitingReport.get(key);
    if (awaited)
        awaited();
    else
        reports.set(key, now);
}

// Whether the page that opened a new tab says the tab still reaches it; only
// a true answer is told. The new tab itself can say so only once its first
// document has arrived. The page's report usually came first; otherwise the
// page is asked, and the first yes counts.
async function openerVouches(details) {
    const key = reportKey(details.sourceTabId, details.sourceFrameId, details.url);
    if (reports.delete(key))
        return true;
    const report = new Promise((resolve) => awaitingReport.set(key, () => resolve(true)));
    const asked = api.tabs.sendMessage(details.sourceTabId, {reaches: details.url}, {frameId: details.sourceFrameId});
    try {
        return (await withDeadline(Promise.race([report, asked]), OPENER_DEADLINE_MS)) === true;
    } catch {
        // No script in that frame (a privileged page), a frame gone, or one busy past the deadline.
        return false;
    } finally {
        awaitingReport.delete(key);
    }
}

api.webNavigation.onCreatedNavigationTarget.addListener((details) => {
    sources.set(details.tabId, details.sourceTabId);
    clearTimeout(waiting.get(details.tabId));
    waiting.delete(details.tabId);
    const vouches = openerVouches(details);
    enqueue(async () => {
        const [place, opener] = await Promise.all([placeOf(details.tabId), vouches]);
        if (!place)
            return null;
        const message = {
            type: "opened",
            tab: details.tabId,
            window: place.window,
            windowType: place.windowType,
            sourceTab: details.sourceTabId,
            url: details.url,
        };
        if (opener)
            message.opener = true;
        return message;
    });
});

api.tabs.onCreated.addListener((tab) => {
    fresh.add(tab.id);
    waiting.set(tab.id, setTimeout(() => announceCreated(tab.id), SOURCE_WAIT_MS));
});

api.tabs.onUpdated.addListener((tabId, change) => {
    if (typeof change.url !== "string")
        return;
    announceCreated(tabId);
    enqueue(() => ({type: "address", tab: tabId, url: change.url}));
});

api.tabs.onAttached.addListener((tabId, attach) => {
    announceCreated(tabId);
    enqueue(async () => ({
        type: "moved",
        tab: tabId,
        window: attach.newWindowId,
        windowType: await windowTypeOf(attach.newWindowId),
    }));
});

api.tabs.onRemoved.addListener((tabId) => {
    sources.delete(tabId);
    fresh.delete(tabId);
    clearTimeout(waiting.get(tabId));
    waiting.delete(tabId);
    enqueue(() => ({type: "gone", tab: tabId}));
});

// A prerendered page swapped in for a tab's page takes over its place under a
// new number.
api.tabs.onReplaced.addListener((added, removed) => {
    const source = sources.get(removed);
    sources.delete(removed);
    clearTimeout(waiting.get(removed));
    waiting.delete(removed);
    if (source !== undefined)
        sources.set(added, source);
    enqueue(() => ({type: "gone", tab: removed}));
    enqueue(async () => {
        const place = await placeOf(added);
        if (!place)
            return null;
        const common = {tab: added, window: place.window, windowType: place.windowType, url: place.tab.url ?? ""};
        return source !== undefined ? {type: "opened", ...common, sourceTab: source} : {type: "created", ...common};
    });
});

api.runtime.onMessage.addListener((message, sender) => {
    // Only this extension's own page script speaks here, from a page's tab.
    if (sender.id === api.runtime.id && sender.tab && typeof message?.ctrl === "boolean")
        post({type: "ctrl", down: message.ctrl});
});

// A page that opens windows reports them on a channel of its own, opened as
// it first calls window.open: a channel already open saves the browser a
// round of messages while it is busy making the window.
api.runtime.onConnect.addListener((page) => {
    if (page.name !== "opened" || page.sender?.id !== api.runtime.id || !page.sender.tab)
        return;
    page.onMessage.addListener((message) => {
        if (typeof message?.opened === "string")
            reportOpened(page.sender, message.opened);
    });
});

// Only Firefox lets a listener's answer wait for a promise, and only its
// package asks to (extension/CMakeLists.txt): Chromium answers a blocking
// listener at once, and makes every page's request wait on an unpacked
// extension that asks for requests at all. There pop-ups are closed once they
// appear.
if (browserFamily() === "firefox" && api.webRequest)
    api.webRequest.onBeforeRequest.addListener(holdFirstRequest, {urls: ["<all_urls>"], types: ["main_frame"]},
                                               ["blocking"]);

// Chromium starts the worker at the browser's start only for a listener of these.
api.runtime.onStartup.addListener(connect);
api.runtime.onInstalled.addListener(connect);

connect();
