// Drives the page in a real browser engine with node's built-ins only:
// Chromium over the DevTools pipe, Firefox over WebDriver BiDi (a loopback
// WebSocket, node-ws), WebKit over W3C WebDriver (loopback HTTP through
// WebKitWebDriver and MiniBrowser). Loads the page in capture mode, picks
// "windowed", confirms, waits for the asked-for frames and writes them, with
// the first seconds of what the page's audio callback produced, into OUTDIR.
// With LIVE_URL it then loads the page in real time as well and keeps the
// first three seconds its Web Audio callback produced (audio_live.raw).
// With SHOTS "bench:FIRST:COUNT" it only times frames FIRST .. FIRST+COUNT
// and prints their mean interval (bench.json in OUTDIR). With SHOTS "lag"
// (Chromium, real time, sound on) it notes on node's clock when the page drew
// each frame into the feedback effect's framebuffer, for tests/web/lag.sh.
// Firefox and WebKit need a display (DISPLAY, Xvfb): headless they have no WebGL.
// Usage: node drive.js ENGINE URL OUTDIR SHOTS(comma list) SECONDS_LIMIT [LIVE_URL]
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');
const devtools = require('./devtools');

const [engine, url, outDir, shotList, limitText, liveUrl] = process.argv.slice(2);
const bench = /^bench:(\d+):(\d+)$/.exec(shotList);
const lag = shotList === 'lag';
const shots = bench || lag ? [] : shotList.split(',').map((s) => parseInt(s, 10));
const limitMs = parseFloat(limitText || '240') * 1000;
const started = Date.now();
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tumble-' + engine + '-'));
const WEBKIT_DIR = process.env.WEBKIT_DIR || '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1';
const PROGRAMS = { chromium: process.env.CHROMIUM || 'chromium', firefox: process.env.FIREFOX || 'firefox-esr',
                   webkit: process.env.WEBKIT_DRIVER || 'WebKitWebDriver' };

let child = null, childLog = '', answered = false, closing = null, finishing = false;
function finish(code, message) {
    // The browser ending while the session closes is no news.
    if (finishing)
        return;
    finishing = true;
    if (message)
        console.log(message);
    const done = () => {
        try { child && child.kill('SIGKILL'); } catch (e) {}
        try { fs.rmSync(profile, { recursive: true, force: true }); } catch (e) {}
        process.exit(code);
    };
    // A WebDriver session is ended politely, so that the driver takes its browser along.
    if (closing)
        Promise.race([closing().catch(() => {}), sleep(3000)]).then(done);
    else
        done();
}

// The engine's program ended; before it ever answered, it "cannot start" (77).
function ended(answeredYet, why) {
    finish(answeredYet ? 1 : 77, (answeredYet ? 'FAIL: ' + engine + ' ended ' : 'SKIP: ' + engine + ' cannot start ') + why);
}

function launch(args, stdio) {
    child = spawn(PROGRAMS[engine], args, { stdio });
    child.stderr.on('data', (d) => { childLog = (childLog + d).slice(-4000); });
    child.on('error', (e) => ended(false, e.message));
    child.on('exit', (code) => ended(answered, '(' + code + '): ' + childLog.slice(-400)));
    return child;
}

function freePort() {
    return new Promise((resolve) => {
        const s = net.createServer().listen(0, '127.0.0.1', () => { const p = s.address().port; s.close(() => resolve(p)); });
    });
}

// Every expression's value comes back as JSON text, whatever the protocol's own value types.
const wrap = (expression) => '(() => { const v = (' + expression + '); return v === undefined ? "null" : JSON.stringify(v); })()';

async function startChromium() {
    const browser = await devtools.startChromium({
        program: PROGRAMS.chromium, profile, width: 800, height: 600, onExit: ended,
        args: [...(lag ? [] : ['--mute-audio']), '--autoplay-policy=no-user-gesture-required'],
    });
    child = browser.child;
    return { navigate: browser.navigate, evaluate: async (expression) => JSON.parse(await browser.evaluate(wrap(expression))) };
}

async function startFirefox() {
    let WebSocket;
    try { WebSocket = require('ws'); } catch (e) {
        try { WebSocket = require('/usr/share/nodejs/ws'); } catch (e2) { finish(77, 'SKIP: node-ws is not installed'); }
    }
    const port = await freePort();
    // A fresh profile: no first-run pages, sound allowed without a click, WebGL on Mesa whatever its blocklist says.
    fs.writeFileSync(path.join(profile, 'user.js'), [
        'user_pref("browser.shell.checkDefaultBrowser", false);',
        'user_pref("browser.startup.homepage_override.mstone", "ignore");',
        'user_pref("datareporting.policy.dataSubmissionEnabled", false);',
        'user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);',
        'user_pref("app.update.disabledForTesting", true);',
        'user_pref("media.autoplay.default", 0);',
        'user_pref("webgl.force-enabled", true);',
        'user_pref("dom.max_script_run_time", 0);',
        'user_pref("browser.sessionstore.resume_from_crash", false);',
    ].join('\n') + '\n');
    launch(['--remote-debugging-port=' + port, '--profile', profile, '--no-remote', '--new-instance',
            '--width=800', '--height=700', 'about:blank'], ['ignore', 'ignore', 'pipe']);
    while (!/WebDriver BiDi listening/.test(childLog)) {
        if (Date.now() - started > 60000)
            finish(1, 'FAIL: firefox did not open its WebDriver BiDi port: ' + childLog.slice(-400));
        await sleep(100);
    }
    // ws sends no Origin header unless asked to, as the remote agent requires.
    const socket = new WebSocket('ws://127.0.0.1:' + port + '/session', { perMessageDeflate: false, maxPayload: 1 << 30 });
    await new Promise((resolve, reject) => { socket.on('open', resolve); socket.on('error', reject); });
    answered = true;
    let nextId = 1;
    const waiting = new Map();
    socket.on('message', (data) => {
        const message = JSON.parse(data.toString('utf8'));
        if (message.id && waiting.has(message.id)) {
            const { resolve, reject } = waiting.get(message.id);
            waiting.delete(message.id);
            if (message.type === 'error')
                reject(new Error(message.error + ': ' + message.message));
            else
                resolve(message.result);
        } else if (message.method === 'log.entryAdded') {
            console.log('page: ' + message.params.text);
        }
    });
    const send = (method, params) => {
        const id = nextId++;
        socket.send(JSON.stringify({ id, method, params: params || {} }));
        return new Promise((resolve, reject) => waiting.set(id, { resolve, reject }));
    };
    await send('session.new', { capabilities: {} });
    closing = () => send('session.end', {});
    await send('session.subscribe', { events: ['log.entryAdded'] });
    const { contexts } = await send('browsingContext.getTree', {});
    const context = contexts[0].context;
    await send('browsingContext.setViewport', { context, viewport: { width: 800, height: 600 } });
    return {
        navigate: (address) => send('browsingContext.navigate', { context, url: address, wait: 'none' }),
        evaluate: async (expression) => {
            const r = await send('script.evaluate', { expression: wrap(expression), target: { context },
                                                      awaitPromise: false, resultOwnership: 'none' });
            if (r.type !== 'success')
                throw new Error(expression + ': ' + JSON.stringify(r.exceptionDetails).slice(0, 400));
            return JSON.parse(r.result.value);
        },
    };
}

async function startWebkit() {
    const port = await freePort();
    launch(['--host=127.0.0.1', '--port=' + port], ['ignore', 'pipe', 'pipe']);
    child.stdout.on('data', (d) => { childLog = (childLog + d).slice(-4000); });
    const base = 'http://127.0.0.1:' + port;
    const request = async (method, where, body) => {
        const r = await fetch(base + where, { method, headers: { 'Content-Type': 'application/json' },
                                             body: body === undefined ? undefined : JSON.stringify(body) });
        const answer = await r.json();
        if (!r.ok)
            throw new Error(method + ' ' + where + ': ' + JSON.stringify(answer.value).slice(0, 400));
        return answer.value;
    };
    for (;;) {
        try { await request('GET', '/status'); break; } catch (e) {
            if (Date.now() - started > 30000)
                finish(1, 'FAIL: WebKitWebDriver does not answer: ' + childLog.slice(-400));
            await sleep(100);
        }
    }
    answered = true;
    const binary = path.join(WEBKIT_DIR, 'MiniBrowser');
    if (!fs.existsSync(binary))
        finish(77, 'SKIP: ' + binary + ' is not installed');
    const session = await request('POST', '/session', { capabilities: { alwaysMatch: {
        'webkitgtk:browserOptions': { binary, args: ['--automation'] } } } });
    const id = session.sessionId;
    closing = () => request('DELETE', '/session/' + id);
    await request('POST', '/session/' + id + '/window/rect', { width: 800, height: 700 }).catch(() => {});
    return {
        // Navigation waits for the load; the page's own start-up runs on after it.
        navigate: (address) => request('POST', '/session/' + id + '/url', { url: address }),
        evaluate: async (expression) =>
            JSON.parse(await request('POST', '/session/' + id + '/execute/sync',
                                     { script: 'return ' + wrap(expression) + ';', args: [] })),
    };
}

async function main() {
    const start = { chromium: startChromium, firefox: startFirefox, webkit: startWebkit }[engine];
    if (!start)
        finish(2, 'usage: node drive.js chromium|firefox|webkit URL OUTDIR SHOTS SECONDS [LIVE_URL]');
    const page = await start();
    const { navigate, evaluate } = page;
    const waitFor = async (expression, what) => {
        while (!(await evaluate(expression).catch(() => false))) {
            if (Date.now() - started > limitMs)
                finish(1, 'FAIL: timed out waiting for ' + what);
            await sleep(100);
        }
    };
    const chooserShown = "document.getElementById('chooser') && !document.getElementById('chooser').hidden";
    const pickWindowed = async () => {
        await evaluate("document.querySelector('#chooser input[value=\"8\"]').click()");
        await evaluate("document.getElementById('ok').click()");
    };
    await navigate(url);
    await waitFor(chooserShown, 'the chooser');
    if (bench) {
        // Each frame's start on the page's clock, from the frame counter the page sets.
        // Each frame's start on the page's clock, and the draw calls and vertex uploads so far.
        await evaluate("(() => { let n = 0; Module.benchTimes = []; Module.benchCalls = []; const calls = [0, 0]; " +
                       "const p = WebGLRenderingContext.prototype, draw = p.drawArrays, data = p.bufferData, sub = p.bufferSubData; " +
                       "p.drawArrays = function (...a) { ++calls[0]; return draw.apply(this, a); }; " +
                       "p.bufferData = function (...a) { ++calls[1]; return data.apply(this, a); }; " +
                       "p.bufferSubData = function (...a) { ++calls[1]; return sub.apply(this, a); }; " +
                       "Object.defineProperty(Module.page, 'framesDrawn', { configurable: true, get: () => n, set: (v) => { n = v; " +
                       "Module.benchTimes[v] = performance.now(); Module.benchCalls[v] = calls.slice(); } }); })()");
        await pickWindowed();
        const first = parseInt(bench[1], 10), count = parseInt(bench[2], 10);
        await waitFor('Module.page.framesDrawn > ' + (first + count), 'frame ' + (first + count));
        const times = await evaluate('Module.benchTimes.slice(' + first + ', ' + (first + count + 1) + ')');
        const calls = await evaluate('[Module.benchCalls[' + first + '], Module.benchCalls[' + (first + count) + ']]');
        const meanMs = (times[count] - times[0]) / count;
        const draws = (calls[1][0] - calls[0][0]) / count, uploads = (calls[1][1] - calls[0][1]) / count;
        fs.writeFileSync(path.join(outDir, 'bench.json'), JSON.stringify({ engine, first, count, meanMs, draws, uploads }) + '\n');
        console.log(engine + ': frames ' + first + '..' + (first + count) + ': ' + meanMs.toFixed(2) + ' ms a frame, ' +
                    draws.toFixed(1) + ' draw calls and ' + uploads.toFixed(1) + ' vertex uploads a frame');
        finish(0);
        return;
    }
    if (lag) {
        await evaluate("(() => { Module.lagBinds = []; const p = WebGLRenderingContext.prototype, bind = p.bindFramebuffer; " +
                       "p.bindFramebuffer = function (target, fb) { if (fb && Module.lagBinds.length < 100000) " +
                       "Module.lagBinds.push(performance.now()); return bind.call(this, target, fb); }; " +
                       // Each callback's page time, playback time and whether it sounded; the context's clocks now and then.
                       "Module.lagCallbacks = []; Module.lagClocks = []; const create = AudioContext.prototype.createScriptProcessor; " +
                       "AudioContext.prototype.createScriptProcessor = function (...a) { const node = create.apply(this, a), context = this; " +
                       "let handler = null; Object.defineProperty(node, 'onaudioprocess', { get: () => handler, set: (f) => { handler = f; " +
                       "node.addEventListener('audioprocess', (e) => { const now = performance.now(); f(e); const d = e.outputBuffer.getChannelData(0); " +
                       "if (Module.lagCallbacks.length < 2000) Module.lagCallbacks.push([now, e.playbackTime, context.currentTime, d.some((v) => v != 0) ? 1 : 0]); }); } }); " +
                       "setInterval(() => { const o = context.getOutputTimestamp(); if (Module.lagClocks.length < 2000) " +
                       "Module.lagClocks.push([performance.now(), context.currentTime, o.contextTime, o.performanceTime, context.outputLatency, context.baseLatency]); }, 250); " +
                       "return node; }; })()");
        await pickWindowed();
        await waitFor('Module.page.firstShowFrameMs !== undefined && Module.lagBinds.some((t) => t > Module.page.firstShowFrameMs + 20000)',
                      '20 s of the main phase');
        // The page's clock against node's: the middle of a short round trip.
        let offset = 0, best = Infinity;
        for (let i = 0; i < 20; ++i) {
            const before = performance.timeOrigin + performance.now();
            const page = await evaluate('performance.timeOrigin + performance.now()');
            const after = performance.timeOrigin + performance.now();
            if (after - before < best) {
                best = after - before;
                offset = (before + after) / 2 - page;
            }
        }
        const origin = await evaluate('performance.timeOrigin');
        const show = await evaluate('Module.page.firstShowFrameMs');
        const binds = (await evaluate('Module.lagBinds')).filter((t) => t > show);
        const info = await evaluate('(() => { const c = Module.page.audioContext; const o = c.getOutputTimestamp ? c.getOutputTimestamp() : {}; ' +
                                    'return { baseLatency: c.baseLatency, outputLatency: c.outputLatency, ' +
                                    'currentTime: c.currentTime, outputTime: o.contextTime }; })()');
        const pageToNode = origin + offset;
        const callbacks = (await evaluate('Module.lagCallbacks')).map((c) => [c[0] + pageToNode, ...c.slice(1)]);
        const clocks = (await evaluate('Module.lagClocks')).map((c) => [c[0] + pageToNode, c[1], c[2], c[3] + pageToNode, c[4], c[5]]);
        const result = { mainDrawnMs: pageToNode + binds[0], roundTripMs: best, context: info, callbacks, clocks };
        fs.writeFileSync(path.join(outDir, 'lag.json'), JSON.stringify(result) + '\n');
        console.log('main phase first drawn at ' + result.mainDrawnMs.toFixed(1) + ' (epoch ms); ' + JSON.stringify(info));
        finish(0);
        return;
    }
    const title = await evaluate("document.querySelector('#chooser h1').textContent");
    const labels = await evaluate(
        "[...document.querySelectorAll('#chooser label')].map((l) => l.textContent.trim()).join('|')");
    const buttons = await evaluate("[...document.querySelectorAll('#chooser button')].map((b) => b.textContent).join('|')");
    fs.writeFileSync(path.join(outDir, 'chooser.txt'), title + '\n' + labels + '\n' + buttons + '\n');
    await pickWindowed();

    const last = Math.max(...shots);
    await waitFor('(Module.page.framesDrawn || 0) > ' + last, 'frame ' + last);
    for (const frame of shots) {
        const data = await evaluate('Module.page.shots[' + frame + '] || ""');
        if (!data)
            finish(1, 'FAIL: frame ' + frame + ' was not captured');
        fs.writeFileSync(path.join(outDir, 'frame' + frame + '.rgb'), Buffer.from(data, 'base64'));
    }
    const frames = await evaluate('Module._webPublishAudio()');
    fs.writeFileSync(path.join(outDir, 'audio.raw'), Buffer.from(await evaluate('Module.page.audio'), 'base64'));
    const startup = await evaluate('(({chooserMs: chooser, okMs: ok, firstFrameMs: first, firstShowFrameMs: show}) => ' +
                                   'JSON.stringify({chooser, ok, first, show}))(Module.page)');
    fs.writeFileSync(path.join(outDir, 'startup.json'), startup + '\n');
    if (liveUrl) {
        await navigate(liveUrl);
        await waitFor(chooserShown, 'the chooser in real time');
        await pickWindowed();
        await waitFor('Module._webPublishAudio() >= 3 * 44100', 'three seconds of sound in real time');
        fs.writeFileSync(path.join(outDir, 'audio_live.raw'), Buffer.from(await evaluate('Module.page.audio'), 'base64'));
    }
    console.log(engine + ': captured ' + shots.length + ' frames and ' + frames + ' audio frames; start-up ' + startup +
                '; ' + ((Date.now() - started) / 1000).toFixed(1) + ' s');
    finish(0);
}
main().catch((e) => finish(1, 'FAIL: ' + e.message));
