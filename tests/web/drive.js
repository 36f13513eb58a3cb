// Drives the page in headless Chromium over the DevTools pipe (no npm
// packages): loads it in capture mode, picks "windowed", confirms, waits for
// the asked-for frames and writes them, with the first seconds of what the
// page's audio callback produced, into OUTDIR.
// With LIVE_URL it then loads the page in real time as well and keeps the
// first three seconds its Web Audio callback produced (audio_live.raw).
// Usage: node drive.js URL OUTDIR SHOTS(comma list) SECONDS_LIMIT [LIVE_URL]
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const [url, outDir, shotList, limitText, liveUrl] = process.argv.slice(2);
const shots = shotList.split(',').map((s) => parseInt(s, 10));
const limitMs = parseFloat(limitText || '240') * 1000;
const started = Date.now();

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tumble-web-'));
const chromium = spawn(process.env.CHROMIUM || 'chromium', [
    '--headless=new', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
    '--disable-gpu-sandbox', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--mute-audio',
    '--autoplay-policy=no-user-gesture-required', '--remote-debugging-pipe',
    '--user-data-dir=' + profile, 'about:blank',
], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
let chromiumLog = '';
chromium.stderr.on('data', (d) => { chromiumLog += d; });

function finish(code, message) {
    if (message)
        console.log(message);
    try { chromium.kill('SIGKILL'); } catch (e) {}
    try { fs.rmSync(profile, { recursive: true, force: true }); } catch (e) {}
    process.exit(code);
}
chromium.on('error', (e) => finish(77, 'SKIP: chromium cannot start: ' + e.message));
// Ending before it ever answered is "cannot start"; ending later is a failure.
let answered = false;
chromium.on('exit', (code) => finish(answered ? 1 : 77, (answered ? 'FAIL: chromium ended (' : 'SKIP: chromium cannot start (') +
                                     code + '): ' + chromiumLog.slice(-400)));

// The pipe carries NUL-terminated JSON messages.
const toBrowser = chromium.stdio[3], fromBrowser = chromium.stdio[4];
let nextId = 1, buffered = '';
const waiting = new Map();
fromBrowser.on('data', (chunk) => {
    answered = true;
    buffered += chunk.toString('utf8');
    let end;
    while ((end = buffered.indexOf('\0')) >= 0) {
        const message = JSON.parse(buffered.slice(0, end));
        buffered = buffered.slice(end + 1);
        if (message.id && waiting.has(message.id)) {
            const { resolve, reject } = waiting.get(message.id);
            waiting.delete(message.id);
            if (message.error)
                reject(new Error(JSON.stringify(message.error)));
            else
                resolve(message.result);
        } else if (message.method === 'Runtime.exceptionThrown') {
            console.log('page exception: ' + JSON.stringify(message.params.exceptionDetails).slice(0, 600));
        } else if (message.method === 'Runtime.consoleAPICalled') {
            console.log('page: ' + message.params.args.map((a) => a.value).join(' '));
        }
    }
});
function send(method, params, sessionId) {
    const id = nextId++;
    toBrowser.write(JSON.stringify({ id, method, params: params || {}, sessionId }) + '\0');
    return new Promise((resolve, reject) => waiting.set(id, { resolve, reject }));
}
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function main() {
    const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
    const evaluate = async (expression) => {
        const r = await send('Runtime.evaluate', { expression, returnByValue: true }, sessionId);
        if (r.exceptionDetails)
            throw new Error(expression + ': ' + JSON.stringify(r.exceptionDetails).slice(0, 400));
        return r.result.value;
    };
    await send('Runtime.enable', {}, sessionId);
    await send('Page.enable', {}, sessionId);
    await send('Emulation.setDeviceMetricsOverride',
               { width: 800, height: 600, deviceScaleFactor: 1, mobile: false }, sessionId);
    await send('Page.navigate', { url }, sessionId);

    const waitFor = async (expression, what) => {
        while (!(await evaluate(expression).catch(() => false))) {
            if (Date.now() - started > limitMs)
                finish(1, 'FAIL: timed out waiting for ' + what);
            await sleep(100);
        }
    };
    await waitFor("document.getElementById('chooser') && !document.getElementById('chooser').hidden",
                  'the chooser');
    const title = await evaluate("document.querySelector('#chooser h1').textContent");
    const labels = await evaluate(
        "[...document.querySelectorAll('#chooser label')].map((l) => l.textContent.trim()).join('|')");
    const buttons = await evaluate("[...document.querySelectorAll('#chooser button')].map((b) => b.textContent).join('|')");
    fs.writeFileSync(path.join(outDir, 'chooser.txt'), title + '\n' + labels + '\n' + buttons + '\n');
    await evaluate("document.querySelector('#chooser input[value=\"8\"]').click()");
    await evaluate("document.getElementById('ok').click()");

    const last = Math.max(...shots);
    let reported = 0;
    await waitFor('(() => { const n = Module.webFramesDrawn || 0; return n > ' + last + '; })()', 'frame ' + last);
    for (const frame of shots) {
        const data = await evaluate('Module.webShots[' + frame + '] || ""');
        if (!data)
            finish(1, 'FAIL: frame ' + frame + ' was not captured');
        fs.writeFileSync(path.join(outDir, 'frame' + frame + '.rgb'), Buffer.from(data, 'base64'));
    }
    const frames = await evaluate('Module._webPublishAudio()');
    fs.writeFileSync(path.join(outDir, 'audio.raw'), Buffer.from(await evaluate('Module.webAudio'), 'base64'));
    const startup = await evaluate('JSON.stringify({chooser: Module.webChooserMs, ok: Module.webOkMs, first: Module.webFirstFrameMs, show: Module.webFirstShowFrameMs})');
    fs.writeFileSync(path.join(outDir, 'startup.json'), startup + '\n');
    if (liveUrl) {
        await send('Page.navigate', { url: liveUrl }, sessionId);
        await waitFor("document.getElementById('chooser') && !document.getElementById('chooser').hidden",
                      'the chooser in real time');
        await evaluate("document.querySelector('#chooser input[value=\"8\"]').click()");
        await evaluate("document.getElementById('ok').click()");
        await waitFor('Module._webPublishAudio() >= 3 * 44100', 'three seconds of sound in real time');
        fs.writeFileSync(path.join(outDir, 'audio_live.raw'),
                         Buffer.from(await evaluate('Module.webAudio'), 'base64'));
    }
    console.log('captured ' + shots.length + ' frames and ' + frames + ' audio frames; start-up ' + startup +
                '; ' + ((Date.now() - started) / 1000).toFixed(1) + ' s');
    finish(0);
}
main().catch((e) => finish(1, 'FAIL: ' + e.message));
