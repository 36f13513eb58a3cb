// Headless Chromium over the DevTools pipe, for view.js and drive.js: starts
// it with a fresh profile and opens one page of the given size.
'use strict';
const { spawn } = require('child_process');

// onExit(answered, why): the browser ended, or never started (answered false).
async function startChromium({ program, profile, args, width, height, onExit }) {
    const child = spawn(program, [
        '--headless=new', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
        '--disable-gpu-sandbox', '--disable-quic', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync', '--remote-debugging-pipe', ...args,
        '--user-data-dir=' + profile, 'about:blank',
    ], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
    let log = '', answered = false;
    child.stderr.on('data', (d) => { log = (log + d).slice(-4000); });
    child.on('error', (e) => onExit(false, e.message));
    child.on('exit', (code) => onExit(answered, '(' + code + '): ' + log.slice(-400)));

    // The pipe carries NUL-terminated JSON messages.
    let nextId = 1, buffered = '';
    const waiting = new Map();
    child.stdio[4].on('data', (chunk) => {
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
            } else if (message.method === 'Runtime.consoleAPICalled') {
                console.log('page: ' + message.params.args.map((a) => a.value).join(' '));
            }
        }
    });
    const send = (method, params, sessionId) => {
        const id = nextId++;
        child.stdio[3].write(JSON.stringify({ id, method, params: params || {}, sessionId }) + '\0');
        return new Promise((resolve, reject) => waiting.set(id, { resolve, reject }));
    };
    const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
    const page = (method, params) => send(method, params, sessionId);
    const setSize = (w, h, scale) =>
        page('Emulation.setDeviceMetricsOverride', { width: w, height: h, deviceScaleFactor: scale, mobile: false });
    await page('Runtime.enable');
    await page('Page.enable');
    await setSize(width, height, 1);
    return {
        child,
        send: page,
        setSize,
        navigate: (url) => page('Page.navigate', { url }),
        // The expression's value (awaited when it is a promise), as JSON can carry it.
        evaluate: async (expression) => {
            const r = await page('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
            if (r.exceptionDetails)
                throw new Error(expression.slice(0, 200) + ': ' + JSON.stringify(r.exceptionDetails).slice(0, 400));
            return r.result.value;
        },
    };
}

module.exports = { startChromium };
