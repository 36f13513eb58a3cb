// The page as a viewer sees it, in headless Chromium over the DevTools pipe:
// build-web/tumble.html opened from disk (file://) plays the show; at 1366 x 768
// "windowed" is a centred 1024 x 768 picture between black columns of 171; at
// two device pixels per CSS pixel its backing store becomes 2048 x 1536; Back
// returns to the chooser; 1280x1024 draws at 1280 x 960.
// Exit 77 (skipped) where emcc or Chromium cannot start.
// Usage: node view.js SOURCE_DIR
'use strict';
const { spawn, spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const src = path.resolve(process.argv[2] || '.');
const limitMs = 300 * 1000;
const started = Date.now();
const has = (cmd) => spawnSync('sh', ['-c', 'command -v ' + cmd], { stdio: 'ignore' }).status === 0;
const chromiumPath = process.env.CHROMIUM || 'chromium';
if (!has('emcc') || !has(chromiumPath)) {
    console.log('SKIP: emcc or chromium is not installed');
    process.exit(77);
}
const build = spawnSync(path.join(src, 'scripts/web-build.sh'), [],
                        { env: { ...process.env, WEB_BUILD: path.join(src, 'build-web') }, encoding: 'utf8' });
if (build.status !== 0) {
    console.log('FAIL: the web build failed:\n' + (build.stdout + build.stderr).slice(-2000));
    process.exit(1);
}

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tumble-view-'));
const chromium = spawn(chromiumPath, [
    '--headless=new', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
    '--disable-gpu-sandbox', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--mute-audio', '--remote-debugging-pipe',
    '--user-data-dir=' + profile, 'about:blank',
], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
let chromiumLog = '', answered = false;
chromium.stderr.on('data', (d) => { chromiumLog += d; });
function finish(code, message) {
    if (message)
        console.log(message);
    try { chromium.kill('SIGKILL'); } catch (e) {}
    try { fs.rmSync(profile, { recursive: true, force: true }); } catch (e) {}
    process.exit(code);
}
chromium.on('error', (e) => finish(77, 'SKIP: chromium cannot start: ' + e.message));
chromium.on('exit', (code) => finish(answered ? 1 : 77, 'chromium ended (' + code + '): ' + chromiumLog.slice(-400)));

// The pipe carries NUL-terminated JSON messages.
let nextId = 1, buffered = '';
const waiting = new Map();
chromium.stdio[4].on('data', (chunk) => {
    answered = true;
    buffered += chunk.toString('utf8');
    for (let end; (end = buffered.indexOf('\0')) >= 0;) {
        const message = JSON.parse(buffered.slice(0, end));
        buffered = buffered.slice(end + 1);
        const w = waiting.get(message.id);
        if (w) {
            waiting.delete(message.id);
            message.error ? w.reject(new Error(JSON.stringify(message.error))) : w.resolve(message.result);
        } else if (message.method === 'Runtime.exceptionThrown') {
            console.log('page exception: ' + JSON.stringify(message.params.exceptionDetails).slice(0, 600));
        }
    }
});
let session;
function send(method, params) {
    const id = nextId++;
    chromium.stdio[3].write(JSON.stringify({ id, method, params: params || {}, sessionId: session }) + '\0');
    return new Promise((resolve, reject) => waiting.set(id, { resolve, reject }));
}
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
async function evaluate(expression) {
    const r = await send('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
    if (r.exceptionDetails)
        throw new Error(expression.slice(0, 200) + ': ' + JSON.stringify(r.exceptionDetails).slice(0, 400));
    return r.result.value;
}
async function waitFor(expression, what, ms) {
    const until = Date.now() + (ms || limitMs);
    while (!(await evaluate(expression).catch(() => false))) {
        if (Date.now() > Math.min(until, started + limitMs))
            finish(1, 'FAIL: timed out waiting for ' + what);
        await sleep(200);
    }
}
const metrics = (scale) => send('Emulation.setDeviceMetricsOverride',
                                { width: 1366, height: 768, deviceScaleFactor: scale, mobile: false });
const chooserShown = "!!document.getElementById('chooser') && !document.getElementById('chooser').hidden";
async function pick(row) {
    await waitFor(chooserShown, 'the chooser');
    await evaluate(`document.querySelector('#chooser input[value="${row}"]').click()`);
    await evaluate("document.getElementById('ok').click()");
}

// The screenshot's columns, decoded in the page: how many pixels of the bars
// are not black, and whether the picture between them shows anything.
async function screenshotColumns() {
    const { data } = await send('Page.captureScreenshot', { format: 'png' });
    return evaluate(`(async () => {
        const image = new Image();
        image.src = 'data:image/png;base64,${data}';
        await image.decode();
        const c = document.createElement('canvas');
        c.width = image.width;
        c.height = image.height;
        const g = c.getContext('2d');
        g.drawImage(image, 0, 0);
        const px = g.getImageData(0, 0, c.width, c.height).data;
        let barLit = 0, pictureLit = 0;
        for (let y = 0; y < c.height; ++y)
            for (let x = 0; x < c.width; ++x) {
                const i = (y * c.width + x) * 4, lit = px[i] + px[i + 1] + px[i + 2] > 0;
                if (x < 171 || x >= 1195) barLit += lit; else pictureLit += lit;
            }
        return {width: c.width, height: c.height, barLit, pictureLit};
    })()`);
}

async function main() {
    const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
    session = (await send('Target.attachToTarget', { targetId, flatten: true })).sessionId;
    await send('Runtime.enable');
    await send('Page.enable');
    await metrics(1);
    await send('Page.navigate', { url: 'file://' + path.join(src, 'build-web/tumble.html') });
    await pick(8);
    await waitFor('Module.webFirstShowFrameMs !== undefined', 'the show\'s first frame');

    const placed = "(() => { const c = document.getElementById('canvas'), r = c.getBoundingClientRect();" +
                   " return [r.left, r.top, r.width, r.height, c.width, c.height].join(); })()";
    let shot;
    for (let tries = 0; tries < 20; ++tries) {   // the show may open on a black frame
        shot = await screenshotColumns();
        if (shot.pictureLit > 0)
            break;
        await sleep(500);
    }
    const where = await evaluate(placed);
    console.log('1366 x 768, windowed: canvas ' + where + '; screenshot ' + JSON.stringify(shot));
    if (where !== '171,0,1024,768,1024,768' || shot.width !== 1366 || shot.height !== 768 || shot.barLit !== 0 ||
        shot.pictureLit === 0)
        finish(1, 'FAIL: not a 1024 x 768 picture between black columns of 171');

    await metrics(2);
    await waitFor("document.getElementById('canvas').width == 2048 && document.getElementById('canvas').height == 1536",
                  'a 2048 x 1536 backing store at 2 device pixels per CSS pixel', 20000);
    console.log('device scale 2: canvas ' + await evaluate(placed));
    await metrics(1);

    await evaluate('history.back()');
    await pick(7);
    await waitFor("document.getElementById('canvas').width == 1280 && document.getElementById('canvas').height == 960",
                  'the 1280x1024 choice drawn at 1280 x 960', 60000);
    console.log('Back returned to the chooser; 1280x1024: canvas ' + await evaluate(placed) + '; ' +
                ((Date.now() - started) / 1000).toFixed(1) + ' s');
    finish(0);
}
main().catch((e) => finish(1, 'FAIL: ' + e.message));
