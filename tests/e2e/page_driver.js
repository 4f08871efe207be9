// Runs a test page in Debian's Chromium and prints what the page collected.
//
// Usage: node page_driver.js [options]
//   --page FILE         page to load (default: page/test_page.html beside this file)
//   --port N            the service's WebSocket port (page parameter "port")
//   --script FILE       a JSON file with the list of steps (page parameter "steps")
//   --steps JSON        the list of steps as text
//   --param K=V         any other page parameter (repeatable)
//   --timeout MS        how long the page may take to finish (default 30000)
//   --headed            show a window on --display (default: $DISPLAY) instead of running headless
//   --display :N        the X display of the headed window
//   --size WxH          window size (default 1280x800)
//   --hold              once the page is done, keep the browser until standard input ends
//   --chromium PATH     the browser (default /usr/bin/chromium)
//   --close-tab         once the page is done, close its tab at once (whatever is still
//                       on its way to the page) and print {"event":"tab-closed"}
//
// Output, one JSON object per line: {"event":"browser",...} once the DevTools
// connection stands; every entry of the page's window.results (objects with a
// "kind"); {"event":"done","finished":bool,"failure":text,"ms":n}; in hold mode
// then {"event":"holding","viewport":{x,y,width,height}} (the page's area in
// screen pixels) until standard input ends. The browser is always ended and its
// profile folder removed before the driver exits.
// Exit status: 0 finished, 1 the page reported a failure, 2 time-out or driver error.
'use strict';

const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const url = require('url');
const WebSocket = require('/usr/share/nodejs/ws');

function parseArgs(argv) {
    const opts = {
        page: path.join(__dirname, 'page', 'test_page.html'),
        params: [],
        timeout: 30000,
        headed: false,
        display: process.env.DISPLAY || '',
        size: '1280x800',
        hold: false,
        chromium: '/usr/bin/chromium',
    };
    const need = (i) => {
        if (i + 1 >= argv.length)
            throw new Error('missing value after ' + argv[i]);
        return argv[i + 1];
    };
    for (let i = 0; i < argv.length; i++) {
        const a = argv[i];
        switch (a) {
        case '--page': opts.page = path.resolve(need(i)); i++; break;
        case '--port': opts.params.push(['port', need(i)]); i++; break;
        case '--script':
            opts.params.push(['steps', JSON.stringify(JSON.parse(fs.readFileSync(need(i), 'utf8')))]);
            i++;
            break;
        case '--steps': opts.params.push(['steps', JSON.stringify(JSON.parse(need(i)))]); i++; break;
        case '--param': {
            const kv = need(i);
            const eq = kv.indexOf('=');
            if (eq <= 0)
                throw new Error('--param wants K=V: ' + kv);
            opts.params.push([kv.slice(0, eq), kv.slice(eq + 1)]);
            i++;
            break;
        }
        case '--timeout': opts.timeout = parseInt(need(i), 10); i++; break;
        case '--headed': opts.headed = true; break;
        case '--display': opts.display = need(i); i++; break;
        case '--size': opts.size = need(i); i++; break;
        case '--hold': opts.hold = true; break;
        case '--close-tab':
            opts.closeTab = true;
            break;
        case '--chromium': opts.chromium = need(i); i++; break;
        default: throw new Error('unknown option ' + a);
        }
    }
    if (!/^\d+x\d+$/.test(opts.size))
        throw new Error('--size wants WxH: ' + opts.size);
    if (!(opts.timeout > 0))
        throw new Error('--timeout wants a positive number');
    if (opts.headed && !opts.display)
        throw new Error('--headed needs --display or $DISPLAY');
    return opts;
}

function emit(obj) {
    process.stdout.write(JSON.stringify(obj) + '\n');
}

// The browser process, its profile folder and how to end both.
class Browser {
    constructor(opts) {
        this.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qv-chromium-'));
        const profile = path.join(this.dir, 'profile');
        const home = path.join(this.dir, 'home');
        fs.mkdirSync(profile);
        fs.mkdirSync(home);
        const [w, h] = opts.size.split('x');
        const args = [
            '--no-sandbox', '--disable-gpu', '--no-first-run', '--no-default-browser-check',
            '--disable-background-networking', '--disable-component-update', '--disable-sync',
            '--disable-crash-reporter', '--password-store=basic', '--test-type',
            // Port 0: the browser takes a free port and names it on standard error.
            '--remote-debugging-address=127.0.0.1', '--remote-debugging-port=0',
            '--user-data-dir=' + profile,
            '--window-position=0,0', '--window-size=' + w + ',' + h,
        ];
        const env = Object.assign({}, process.env, {
            // Nothing of the run lands in the user's home.
            HOME: home,
            XDG_CONFIG_HOME: path.join(home, '.config'),
            XDG_CACHE_HOME: path.join(home, '.cache'),
        });
        if (opts.headed) {
            args.push('--ozone-platform=x11');
            env.DISPLAY = opts.display;
        } else {
            args.push('--headless');
        }
        args.push('about:blank');
        // A process group of its own, so that every helper process ends with it.
        this.proc = childProcess.spawn(opts.chromium, args,
            { env, detached: true, stdio: ['ignore', 'ignore', 'pipe'] });
        this.exited = new Promise((resolve) => this.proc.once('exit', resolve));
        this.stderrTail = '';
        this.endpoint = new Promise((resolve, reject) => {
            let buf = '';
            this.proc.stderr.on('data', (chunk) => {
                buf += chunk.toString('utf8');
                this.stderrTail = (this.stderrTail + chunk.toString('utf8')).slice(-4000);
                const m = /DevTools listening on (ws:\/\/\S+)/.exec(buf);
                if (m)
                    resolve(m[1]);
                if (buf.length > 65536)
                    buf = buf.slice(-1024);
            });
            this.proc.once('error', reject);
            this.exited.then((code) => reject(new Error('the browser ended (' + code
                + ') before it listened: ' + this.stderrTail.trim().split('\n').slice(-5).join(' | '))));
        });
    }

    // The running processes (zombies do not count) of the browser's group, and
    // those outside it that name the run's folder on their command line: the
    // crash handlers start sessions of their own.
    leftovers() {
        const out = [];
        let names;
        try {
            names = fs.readdirSync('/proc');
        } catch (e) {
            return out;
        }
        for (const name of names) {
            if (!/^\d+$/.test(name) || Number(name) === process.pid)
                continue;
            let stat;
            let cmdline;
            try {
                stat = fs.readFileSync('/proc/' + name + '/stat', 'latin1');
                cmdline = fs.readFileSync('/proc/' + name + '/cmdline', 'latin1');
            } catch (e) {
                continue;
            }
            // pid (comm) state ppid pgrp ...
            const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
            if (fields[0] === 'Z')
                continue;
            if (parseInt(fields[2], 10) === this.proc.pid || cmdline.includes(this.dir))
                out.push(Number(name));
        }
        return out;
    }

    // Kills what is left of the browser and waits, bounded, until it is gone.
    async killRest() {
        this.killGroup('SIGKILL');
        for (let i = 0; i < 250; i++) {
            const rest = this.leftovers();
            if (rest.length === 0)
                return;
            for (const pid of rest) {
                try {
                    process.kill(pid, 'SIGKILL');
                } catch (e) {
                    // gone meanwhile
                }
            }
            await delay(20);
        }
    }

    killGroup(signal) {
        try {
            process.kill(-this.proc.pid, signal);
        } catch (e) {
            // already gone
        }
    }

    // Ends the browser: a polite close first, then the whole process group.
    async end(cdp) {
        if (this.proc.exitCode === null && this.proc.signalCode === null) {
            if (cdp)
                cdp.send('Browser.close').catch(() => {});
            const polite = await Promise.race([this.exited.then(() => true), delay(3000).then(() => false)]);
            if (!polite)
                this.killGroup('SIGKILL');
            await Promise.race([this.exited, delay(5000)]);
        }
        // Helpers left in the group after the main process ended.
        await this.killRest();
        this.removeProfile();
    }

    async endNow() {
        await this.killRest();
        this.removeProfile();
    }

    removeProfile() {
        try {
            fs.rmSync(this.dir, { recursive: true, force: true, maxRetries: 3 });
        } catch (e) {
            // a helper may still write for a moment; the folder is in the temp folder
        }
    }
}

function delay(ms) {
    return new Promise((resolve) => setTimeout(resolve, ms));
}

// A DevTools protocol connection with flat sessions.
class Cdp {
    constructor(endpoint) {
        this.ws = new WebSocket(endpoint, { perMessageDeflate: false, maxPayload: 256 * 1024 * 1024 });
        this.nextId = 1;
        this.pending = new Map();
        this.listeners = [];
        this.opened = new Promise((resolve, reject) => {
            this.ws.once('open', resolve);
            this.ws.once('error', reject);
        });
        this.ws.on('message', (data) => {
            let msg;
            try {
                msg = JSON.parse(data.toString('utf8'));
            } catch (e) {
                return;
            }
            if (msg.id !== undefined) {
                const p = this.pending.get(msg.id);
                if (!p)
                    return;
                this.pending.delete(msg.id);
                if (msg.error)
                    p.reject(new Error(p.method + ': ' + msg.error.message));
                else
                    p.resolve(msg.result);
                return;
            }
            for (const l of this.listeners.slice())
                l(msg);
        });
        this.ws.on('close', () => {
            for (const p of this.pending.values())
                p.reject(new Error(p.method + ': DevTools connection closed'));
            this.pending.clear();
        });
    }

    send(method, params, sessionId) {
        const id = this.nextId++;
        const msg = { id, method, params: params || {} };
        if (sessionId)
            msg.sessionId = sessionId;
        return new Promise((resolve, reject) => {
            this.pending.set(id, { resolve, reject, method });
            this.ws.send(JSON.stringify(msg), (err) => {
                if (err) {
                    this.pending.delete(id);
                    reject(err);
                }
            });
        });
    }

    // Resolves with the first event `method` of the session for which `filter` holds.
    waitFor(method, sessionId, filter) {
        let remove;
        const promise = new Promise((resolve) => {
            const l = (msg) => {
                if (msg.method === method && msg.sessionId === sessionId && (!filter || filter(msg.params))) {
                    remove();
                    resolve(msg.params);
                }
            };
            remove = () => {
                const i = this.listeners.indexOf(l);
                if (i >= 0)
                    this.listeners.splice(i, 1);
            };
            this.listeners.push(l);
        });
        promise.cancel = remove;
        return promise;
    }

    on(listener) {
        this.listeners.push(listener);
    }

    close() {
        try {
            this.ws.close();
        } catch (e) {
            // closed already
        }
    }
}

function pageUrl(opts) {
    const u = url.pathToFileURL(opts.page);
    for (const [k, v] of opts.params)
        u.searchParams.append(k, v);
    return u.href;
}

async function evaluate(cdp, session, expression) {
    const r = await cdp.send('Runtime.evaluate', { expression, returnByValue: true }, session);
    if (r.exceptionDetails)
        throw new Error('page script failed: ' + (r.exceptionDetails.exception
            ? r.exceptionDetails.exception.description : r.exceptionDetails.text));
    return r.result.value;
}

// The page's area in screen pixels; the window frame and tool bars lie above it.
const VIEWPORT_EXPR = `JSON.stringify({
    x: window.screenX + Math.max(0, Math.round((window.outerWidth - window.innerWidth) / 2)),
    y: window.screenY + Math.max(0, window.outerHeight - window.innerHeight),
    width: window.innerWidth, height: window.innerHeight, scale: window.devicePixelRatio })`;

function stdinEnded() {
    return new Promise((resolve) => {
        process.stdin.on('data', (d) => {
            if (/^quit\s*$/m.test(d.toString('utf8')))
                resolve();
        });
        process.stdin.on('end', resolve);
        process.stdin.on('close', resolve);
        process.stdin.resume();
    });
}

async function main() {
    let opts;
    try {
        opts = parseArgs(process.argv.slice(2));
    } catch (e) {
        process.stderr.write('page_driver: ' + e.message + '\n');
        process.exit(2);
    }
    const started = Date.now();
    const browser = new Browser(opts);
    let cdp = null;
    let status = 2;
    const stop = () => {
        browser.endNow().then(() => process.exit(2));
    };
    process.on('SIGTERM', stop);
    process.on('SIGINT', stop);
    process.on('SIGHUP', stop);
    process.on('exit', () => browser.killGroup('SIGKILL'));

    let timer;
    const overall = new Promise((resolve, reject) => {
        timer = setTimeout(() => reject(new Error('time-out after ' + opts.timeout + ' ms')), opts.timeout);
    });
    let session = null;
    try {
        const endpoint = await Promise.race([browser.endpoint, overall]);
        cdp = new Cdp(endpoint);
        await Promise.race([cdp.opened, overall]);
        const version = await cdp.send('Browser.getVersion');
        emit({ event: 'browser', product: version.product, pid: browser.proc.pid, profile: browser.dir,
            ms: Date.now() - started });

        // The tab the browser opened with; a new one only when there is none.
        const { targetInfos } = await cdp.send('Target.getTargets');
        const tab = targetInfos.find((t) => t.type === 'page');
        const targetId = tab ? tab.targetId
            : (await cdp.send('Target.createTarget', { url: 'about:blank' })).targetId;
        ({ sessionId: session } = await cdp.send('Target.attachToTarget', { targetId, flatten: true }));
        // Page errors go to standard error: they explain a page that never finishes.
        cdp.on((msg) => {
            if (msg.sessionId !== session)
                return;
            if (msg.method === 'Runtime.exceptionThrown')
                process.stderr.write('page exception: ' + JSON.stringify(msg.params.exceptionDetails) + '\n');
            else if (msg.method === 'Runtime.consoleAPICalled' && msg.params.type === 'error')
                process.stderr.write('page console: '
                    + JSON.stringify(msg.params.args.map((a) => a.value)) + '\n');
        });
        await cdp.send('Runtime.enable', {}, session);
        await cdp.send('Page.enable', {}, session);
        // The page calls this binding once it is done: no polling.
        await cdp.send('Runtime.addBinding', { name: 'qvPageDone' }, session);
        const doneCall = cdp.waitFor('Runtime.bindingCalled', session, (p) => p.name === 'qvPageDone');
        const nav = await cdp.send('Page.navigate', { url: pageUrl(opts) }, session);
        if (nav.errorText)
            throw new Error('navigation failed: ' + nav.errorText);
        if (opts.headed)
            await cdp.send('Page.bringToFront', {}, session);

        // Fallback for a page that set its flag before the binding existed:
        // a slow, bounded look at the flag besides the binding call.
        let fallback;
        const flagSeen = new Promise((resolve) => {
            fallback = setInterval(() => {
                evaluate(cdp, session, 'window.done === true').then((d) => d && resolve(), () => {});
            }, 1000);
        });
        try {
            await Promise.race([doneCall, flagSeen, overall]);
        } finally {
            clearInterval(fallback);
            doneCall.cancel();
        }
        clearTimeout(timer);

        const results = JSON.parse(await evaluate(cdp, session, 'JSON.stringify(window.results || [])'));
        for (const r of results)
            emit(r);
        const failure = String(await evaluate(cdp, session, 'String(window.failure || "")'));
        emit({ event: 'done', finished: true, failure, ms: Date.now() - started });
        status = failure ? 1 : 0;
        if (opts.closeTab) {
            await cdp.send('Target.closeTarget', { targetId });
            emit({ event : 'tab-closed', ms : Date.now() - started });
        }

        if (opts.hold) {
            await cdp.send('Page.bringToFront', {}, session);
            const viewport = JSON.parse(await evaluate(cdp, session, VIEWPORT_EXPR));
            emit({ event: 'holding', viewport });
            await Promise.race([stdinEnded(), browser.exited]);
        }
    } catch (e) {
        clearTimeout(timer);
        // What the page collected so far explains the time-out.
        if (cdp && session) {
            try {
                const partial = await Promise.race([
                    evaluate(cdp, session, 'JSON.stringify(window.results || [])'),
                    delay(2000).then(() => '[]')]);
                for (const r of JSON.parse(partial))
                    emit(r);
            } catch (e2) {
                // the page is gone
            }
        }
        emit({ event: 'done', finished: false, failure: e.message, ms: Date.now() - started });
        status = 2;
    }
    await browser.end(cdp);
    if (cdp)
        cdp.close();
    process.exit(status);
}

main();
