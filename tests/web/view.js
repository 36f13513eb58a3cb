// The page as a viewer sees it, in headless Chromium over the DevTools pipe:
// build-web/index.html opened from disk (file://) says it must be served and
// points to tumble.html; tumble.html from disk plays the show; at 1366 x 768
// "windowed" is a centred 1024 x 768 picture between black columns of 171; at
// two device pixels per CSS pixel its backing store becomes 2048 x 1536; Back
// returns to the chooser; 1280x1024 draws at 1280 x 960. The viewer's page
// has none of the test and timing hooks.
// Exit 77 (skipped) where emcc or Chromium cannot start.
// Usage: node view.js SOURCE_DIR
'use strict';
const { spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { startChromium } = require('./devtools');

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
let chromium = null;
function finish(code, message) {
    if (message)
        console.log(message);
    try { chromium && chromium.child.kill('SIGKILL'); } catch (e) {}
    try { fs.rmSync(profile, { recursive: true, force: true }); } catch (e) {}
    process.exit(code);
}
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const evaluate = (expression) => chromium.evaluate(expression);
async function waitFor(expression, what, ms) {
    const until = Date.now() + (ms || limitMs);
    while (!(await evaluate(expression).catch(() => false))) {
        if (Date.now() > Math.min(until, started + limitMs))
            finish(1, 'FAIL: timed out waiting for ' + what);
        await sleep(200);
    }
}
const metrics = (scale) => chromium.setSize(1366, 768, scale);
const chooserShown = "!!document.getElementById('chooser') && !document.getElementById('chooser').hidden";
async function pick(row) {
    await waitFor(chooserShown, 'the chooser');
    await evaluate(`document.querySelector('#chooser input[value="${row}"]').click()`);
    await evaluate("document.getElementById('ok').click()");
}

// The screenshot's columns, decoded in the page: how many pixels of the bars
// are not black, and whether the picture between them shows anything.
async function screenshotColumns() {
    const { data } = await chromium.send('Page.captureScreenshot', { format: 'png' });
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
    chromium = await startChromium({
        program: chromiumPath, profile, args: ['--mute-audio'], width: 1366, height: 768,
        onExit: (answered, why) => finish(answered ? 1 : 77, 'chromium ended ' + why),
    });
    // index.html from disk cannot load the show, and says so in the page.
    await chromium.navigate('file://' + path.join(src, 'build-web/index.html'));
    await waitFor("!document.getElementById('served').hidden && " +
                  "document.querySelector('#served a').getAttribute('href') == 'tumble.html'",
                  'index.html from disk to say that it must be served', 30000);
    await chromium.navigate('file://' + path.join(src, 'build-web/tumble.html'));
    await pick(8);
    await waitFor("!document.getElementById('canvas').hidden", 'the show\'s canvas');

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
    const hooks = await evaluate("['chooserMs', 'okMs', 'firstFrameMs', 'firstShowFrameMs', 'framesDrawn', 'shots', " +
                                 "'audio'].filter((k) => k in Module.page).join()");
    if (hooks)
        finish(1, 'FAIL: a viewer\'s page has test hooks: ' + hooks);
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
