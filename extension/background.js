// Tells Tavro Popup Blocker, through its native messaging host, of the pages
// opened from other pages and of every page's life, and does what the program
// asks: close a page, ask a page about itself, open a page. The program
// decides what is a pop-up and what is allowed; nothing here judges a page,
// and nothing here changes one. The messages are described in
// docs/extension-protocol.md.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;

const HOST = "tavro_popup_blocker";
const PROTOCOL = 2;
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
// Chromium names a new tab's source within a millisecond of the tab itself;
// a busy browser takes longer.
const SOURCE_WAIT_MS = 300;
const WINDOW_TYPES = ["normal", "popup", "panel", "app", "devtools"];

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
        if (Number.isInteger(message.tab))
            api.tabs.remove(message.tab).catch(() => {});
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

api.webNavigation.onCreatedNavigationTarget.addListener((details) => {
    sources.set(details.tabId, details.sourceTabId);
    clearTimeout(waiting.get(details.tabId));
    waiting.delete(details.tabId);
    enqueue(async () => {
        const place = await placeOf(details.tabId);
        if (!place)
            return null;
        return {
            type: "opened",
            tab: details.tabId,
            window: place.window,
            windowType: place.windowType,
            sourceTab: details.sourceTabId,
            url: details.url,
        };
    });
});

api.tabs.onCreated.addListener((tab) => {
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

// Chromium starts the worker at the browser's start only for a listener of these.
api.runtime.onStartup.addListener(connect);
api.runtime.onInstalled.addListener(connect);

connect();
