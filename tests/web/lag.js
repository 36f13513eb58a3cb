// Helpers of tests/web/lag.sh.
// node lag.js stamp OUT.raw OUT.json: copies raw 44,100 Hz stereo s16 sound
//   from stdin to OUT.raw and estimates, on node's clock (epoch ms), when its
//   first sample came: each chunk arrives no earlier than its last sample, so
//   the earliest "arrival minus duration so far" is the tightest bound.
// node lag.js measure TUNE.wav REC.raw REC.json LAG.json ORDER1_SAMPLE:
//   finds the tune in the recording (cross-correlation around order 1) and
//   prints the lag between the main phase's first picture and order 1 heard.
'use strict';
const fs = require('fs');
const RATE = 44100;
const [mode, ...args] = process.argv.slice(2);

if (mode === 'stamp') {
    const [rawFile, jsonFile] = args;
    const out = fs.openSync(rawFile, 'w');
    let bytes = 0, firstMs = Infinity;
    process.stdin.on('data', (chunk) => {
        const now = performance.timeOrigin + performance.now();
        fs.writeSync(out, chunk);
        bytes += chunk.length;
        firstMs = Math.min(firstMs, now - (bytes / 4) * 1000 / RATE);
    });
    const end = () => { fs.writeFileSync(jsonFile, JSON.stringify({ firstMs, bytes }) + '\n'); process.exit(0); };
    process.stdin.on('end', end);
    process.on('SIGTERM', end);
} else if (mode === 'measure') {
    const [tuneFile, recFile, recJson, lagJson, order1Text] = args;
    const order1 = parseInt(order1Text, 10);
    const mono = (buffer, offset) => {
        const n = Math.floor((buffer.length - offset) / 4), m = new Float64Array(n);
        for (let i = 0; i < n; ++i)
            m[i] = buffer.readInt16LE(offset + i * 4) + buffer.readInt16LE(offset + i * 4 + 2);
        return m;
    };
    const wav = fs.readFileSync(tuneFile);
    const song = mono(wav, wav.indexOf('data') + 8);
    const rec = mono(fs.readFileSync(recFile), 0);
    const first = (a) => { for (let i = 0; i < a.length; ++i) if (Math.abs(a[i]) > 64) return i; return -1; };
    const guess = first(rec) - first(song);
    // The recorded sample that holds song sample s is s + shift.
    const half = RATE / 2, span = RATE / 10;
    let best = -Infinity, shift = guess;
    for (let d = guess - span; d <= guess + span; ++d) {
        let dot = 0, energy = 0;
        for (let s = order1 - half; s < order1 + half; ++s) {
            const r = rec[s + d] || 0;
            dot += r * song[s];
            energy += r * r;
        }
        const score = energy > 0 ? dot / Math.sqrt(energy) : -Infinity;
        if (score > best) {
            best = score;
            shift = d;
        }
    }
    let songEnergy = 0;
    for (let s = order1 - half; s < order1 + half; ++s)
        songEnergy += song[s] * song[s];
    const { firstMs } = JSON.parse(fs.readFileSync(recJson, 'utf8'));
    const { mainDrawnMs, context, callbacks, clocks } = JSON.parse(fs.readFileSync(lagJson, 'utf8'));
    const heardMs = firstMs + (order1 + shift) * 1000 / RATE;
    const lagMs = mainDrawnMs - heardMs;
    const report = { lagMs: +lagMs.toFixed(1), correlation: +(best / Math.sqrt(songEnergy)).toFixed(4), shift, context };
    // Where the page's clocks put the song's first sample against where it was heard: the
    // first callback that sounded started it; its playback time on the output timestamp's
    // scale, and the callback's own time.
    const k = callbacks ? callbacks.findIndex((c) => c[3]) : -1;
    if (k >= 0 && clocks.length) {
        const songStartMs = firstMs + shift * 1000 / RATE;
        const clock = clocks.find((c) => c[2] > 0) || clocks[0];
        const byTimestamp = clock[3] + (callbacks[k][1] - clock[2]) * 1000;
        report.songStart = { callbackMs: +(callbacks[k][0] - songStartMs).toFixed(1),
                             playbackTimeMs: +(byTimestamp - songStartMs).toFixed(1),
                             playbackMinusCurrentMs: +((callbacks[k][1] - callbacks[k][2]) * 1000).toFixed(1) };
    }
    console.log(JSON.stringify(report));
} else {
    console.log('usage: node lag.js stamp OUT.raw OUT.json | measure TUNE.wav REC.raw REC.json LAG.json ORDER1_SAMPLE');
    process.exit(2);
}
