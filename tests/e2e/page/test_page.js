// The test page: connects to the service's WebSocket port, runs a list of
// steps and keeps every message with its time in window.results.
//
// Parameters (URL query): port (required), host (default 127.0.0.1), steps (a
// JSON array), or scenario (a JSON file fetched relative to the page, which
// needs the page served over HTTP), title (the document title, default
// "Web Viewer"), timeout (default time-out of a waiting step in ms, 15000).
//
// Steps, run one after the other:
//   {"send": {...}}                     send the request (encrypted once the session has a key)
//   {"send": {...}, "await": true}      ... and wait for its reply (same "Msg" and "MsgID")
//   {"sendText": "..."}                 send a text as it is (also takes "await": pattern)
//   {"send": {...}, "padTo": n}         send the request with a "Pad" member that makes it n
//                                       characters long (recorded by its size only)
//   {"closed": true}                    wait until the service closes the connection
//   {"await": pattern, "count": n}      wait for n messages that contain the pattern
//   {"idle": ms}                        keep collecting for ms (to see that something does not come)
//   {"close": true}                     close the connection and wait until it is closed
//   {"control": {...}}                  post the request to "/Cmd-WebLocalCtrl" on the same host
//                                       and port with fetch (a page from another origin goes
//                                       through the browser's CORS pre-flight first)
// A pattern matches a message when every member of the pattern equals the
// message's member (objects compared member by member); each message
// satisfies one wait only, in the order the messages arrived, and a wait also
// takes messages that arrived before it started. "timeout" on a step overrides
// the default.
//
// window.results entries: {"kind", "t" (ms since the page started), ...}:
//   open; sent {text, data, encrypted[, wire]}; reply / event / message
//   {data or text, encrypted[, wire]}; keyed {key}; closed {code, reason};
//   error {text}; control {status, data}; fail {text}; end (the last entry). window.done turns true then,
//   with window.failure empty or the reason; a DevTools binding qvPageDone, when present, is called then.
'use strict';

(function () {
    const params = new URLSearchParams(location.search);
    const defaultTimeout = parseInt(params.get('timeout') || '15000', 10);
    const logEl = document.getElementById('log');
    const statusEl = document.getElementById('status');

    window.results = [];
    window.done = false;
    window.failure = '';

    let ws = null;
    let cipher = null;
    let closed = null; // resolves once the connection closed
    let isClosed = false;
    const inbox = []; // {data, taken}
    const waiters = [];
    let rxChain = Promise.resolve();

    const now = () => Math.round(performance.now() * 10) / 10;

    function record(entry) {
        window.results.push(entry);
        const line = entry.kind + ' ' + (entry.data ? JSON.stringify(entry.data) : entry.text || '');
        logEl.textContent = (logEl.textContent + line + '\n').split('\n').slice(-60).join('\n');
    }

    function setStatus(text) {
        statusEl.textContent = text;
    }

    function matches(pattern, value) {
        if (pattern === null || typeof pattern !== 'object')
            return pattern === value;
        if (value === null || typeof value !== 'object' || Array.isArray(pattern) !== Array.isArray(value))
            return false;
        if (Array.isArray(pattern))
            return pattern.length === value.length && pattern.every((p, i) => matches(p, value[i]));
        return Object.keys(pattern).every((k) => Object.prototype.hasOwnProperty.call(value, k)
            && matches(pattern[k], value[k]));
    }

    function pump() {
        for (const w of waiters.slice()) {
            for (const m of inbox) {
                if (w.got.length >= w.count)
                    break;
                if (!m.taken && matches(w.pattern, m.data)) {
                    m.taken = true;
                    w.got.push(m.data);
                }
            }
            if (w.got.length >= w.count)
                w.finish(null);
        }
    }

    function awaitMessages(pattern, count, timeoutMs) {
        return new Promise((resolve, reject) => {
            const w = { pattern, count, got: [] };
            const timer = setTimeout(() => w.finish(new Error('no ' + count + ' message(s) like '
                + JSON.stringify(pattern) + ' within ' + timeoutMs + ' ms (got ' + w.got.length + ')')),
            timeoutMs);
            w.finish = (err) => {
                clearTimeout(timer);
                const i = waiters.indexOf(w);
                if (i >= 0)
                    waiters.splice(i, 1);
                if (err) {
                    // What it took stays taken: a later wait does not see it twice.
                    reject(err);
                } else {
                    resolve(w.got);
                }
            };
            waiters.push(w);
            pump();
            if (isClosed && waiters.includes(w))
                w.finish(new Error('the connection is closed; still waiting for ' + JSON.stringify(pattern)));
        });
    }

    async function receive(raw, t) {
        let text = raw;
        let encrypted = false;
        if (cipher && typeof raw === 'string') {
            const plain = await cipher.decrypt(raw).catch(() => null);
            if (plain !== null) {
                text = plain;
                encrypted = true;
            }
        }
        let data = null;
        try {
            data = JSON.parse(text);
        } catch (e) {
            data = null;
        }
        if (data === null || typeof data !== 'object' || Array.isArray(data)) {
            record({ kind: 'message', t, text: String(text), encrypted });
            return;
        }
        // The service encrypts everything after a plain session-key reply.
        if (!encrypted && data.Msg === 32 && data.key && typeof data.key.key === 'string' && data.key.key) {
            cipher = await window.QvSessionCipher.create(data.key.key);
            record({ kind: 'keyed', t, key: data.key.key });
        }
        const kind = 'Msg' in data ? 'reply' : 'MainEvent' in data ? 'event' : 'message';
        const entry = { kind, t, data, encrypted };
        if (encrypted)
            entry.wire = raw;
        record(entry);
        inbox.push({ data, taken: false });
        pump();
    }

    function connect() {
        const host = params.get('host') || '127.0.0.1';
        const port = params.get('port');
        if (!port)
            return Promise.reject(new Error('no port given'));
        return new Promise((resolve, reject) => {
            ws = new WebSocket('ws://' + host + ':' + port);
            let opened = false;
            ws.onopen = () => {
                opened = true;
                record({ kind: 'open', t: now() });
                resolve();
            };
            ws.onerror = () => record({ kind: 'error', t: now(), text: 'WebSocket error' });
            closed = new Promise((resolveClosed) => {
                ws.onclose = (ev) => {
                    const t = now();
                    // After the messages that came before it.
                    rxChain = rxChain.then(() => {
                        isClosed = true;
                        record({ kind: 'closed', t, code: ev.code, reason: ev.reason });
                        for (const w of waiters.slice())
                            w.finish(new Error('the connection closed while waiting for '
                                + JSON.stringify(w.pattern)));
                        resolveClosed();
                    });
                    if (!opened)
                        reject(new Error('could not connect to ' + ws.url));
                };
            });
            ws.onmessage = (ev) => {
                const t = now();
                rxChain = rxChain.then(() => receive(ev.data, t)).catch((e) => {
                    record({ kind: 'error', t, text: 'receive: ' + e.message });
                });
            };
        });
    }

    async function sendText(text, sizeOnly)
    {
        if (!ws || ws.readyState !== WebSocket.OPEN)
            throw new Error('not connected');
        const encrypted = cipher !== null;
        const wire = encrypted ? await cipher.encrypt(text) : text;
        ws.send(wire);
        if (sizeOnly) {
            record({ kind : 'sent', t : now(), size : text.length, encrypted });
            return;
        }
        const entry = { kind: 'sent', t: now(), text, encrypted };
        try {
            entry.data = JSON.parse(text);
        } catch (e) {
            // a raw text step
        }
        if (encrypted)
            entry.wire = wire;
        record(entry);
    }

    function replyPattern(request) {
        return { Msg: request.MainType === undefined ? null : request.MainType,
            MsgID: request.MsgID === undefined ? null : request.MsgID };
    }

    async function runStep(step) {
        const timeout = step.timeout > 0 ? step.timeout : defaultTimeout;
        if (step.send !== undefined || step.sendText !== undefined) {
            const isText = step.sendText !== undefined;
            if (!isText && step.padTo > 0) {
                const padded = Object.assign({}, step.send, { Pad : '' });
                padded.Pad = 'x'.repeat(Math.max(0, step.padTo - JSON.stringify(padded).length));
                await sendText(JSON.stringify(padded), true);
            } else {
                await sendText(isText ? String(step.sendText) : JSON.stringify(step.send));
            }
            if (step.await === true && !isText)
                await awaitMessages(replyPattern(step.send), 1, timeout);
            else if (step.await && typeof step.await === 'object')
                await awaitMessages(step.await, step.count > 0 ? step.count : 1, timeout);
            return;
        }
        if (step.await !== undefined) {
            await awaitMessages(step.await, step.count > 0 ? step.count : 1, timeout);
            return;
        }
        if (step.idle !== undefined) {
            await new Promise((resolve) => setTimeout(resolve, Math.max(0, Number(step.idle) || 0)));
            return;
        }
        if (step.control !== undefined) {
            const host = params.get('host') || '127.0.0.1';
            const response = await fetch('http://' + host + ':' + params.get('port') + '/Cmd-WebLocalCtrl', {
                method: 'POST', headers: { 'Content-Type': 'application/json' },
                body: JSON.stringify(step.control) });
            record({ kind: 'control', t: now(), status: response.status, data: await response.json() });
            return;
        }
        if (step.closed) {
            await Promise.race([
                closed,
                new Promise((resolve, reject) => setTimeout(
                                () => reject(new Error('the connection is still open')), timeout))
            ]);
            return;
        }
        if (step.close) {
            ws.close(1000);
            await closed;
            return;
        }
        throw new Error('unknown step ' + JSON.stringify(step));
    }

    async function loadSteps() {
        if (params.has('steps'))
            return JSON.parse(params.get('steps'));
        if (params.has('scenario')) {
            const response = await fetch(new URL(params.get('scenario'), location.href));
            return response.json();
        }
        return [];
    }

    function finish(failure) {
        window.failure = failure;
        if (failure)
            record({ kind: 'fail', t: now(), text: failure });
        record({ kind: 'end', t: now() });
        setStatus(failure ? 'failed: ' + failure : 'done');
        window.done = true;
        if (typeof window.qvPageDone === 'function')
            window.qvPageDone(JSON.stringify({ failure }));
    }

    async function run() {
        if (params.has('title'))
            document.title = params.get('title');
        const steps = await loadSteps();
        if (!Array.isArray(steps))
            throw new Error('the steps are not a list');
        setStatus('connecting');
        await connect();
        for (let i = 0; i < steps.length; i++) {
            setStatus('step ' + (i + 1) + ' of ' + steps.length);
            try {
                await runStep(steps[i]);
            } catch (e) {
                throw new Error('step ' + (i + 1) + ': ' + e.message);
            }
        }
        // Messages still being decrypted belong to the results.
        await rxChain;
    }

    run().then(() => finish(''), (e) => rxChain.then(() => finish(e.message || String(e))));
})();
