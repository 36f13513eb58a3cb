// The page's side of the browser build (linked with --js-library): every
// function the module (platform/web/*.cpp, declared in web.h) asks of the
// page, and the one object they share with the page (index.html) and the
// tests (tests/web), Module.page. Its properties:
//   capture, record     the address asks for capture=1 / record=1 (web.h);
//                       read once, when the program starts
//   chooserResult       0 while the chooser is open, 1 confirmed, 2 cancelled
//   audioContext        the Web Audio context, made by the "Ok, let's go!"
//                       click: sound may only start from one
//   audioNode           the script processor that plays the ring
//   keys                Escapes (and Backs) the show has not taken yet
//   backArmed           the show's history entry is current: Back ends the show
//   listening           the key and history listeners are in place
//   canvasPlace         the canvas's CSS rectangle as last set
// Test and timing hooks, only when the address has capture=1 or record=1:
//   chooserMs, okMs     performance.now() when the chooser showed, and when
//                       "Ok, let's go!" was pressed
//   firstFrameMs        ... when the first picture (the loading screen) came
//   firstShowFrameMs    ... when the show's own first frame came
//   framesDrawn         capture: frames drawn so far on the virtual clock
//   wantedShots, shots  capture: the frames listed by shots=A,B,... and, by
//                       frame, each one's top-down RGB rows in base64
//   audio               the kept sound (16-bit stereo, base64), set by
//                       Module._webPublishAudio(), which returns its frames
// The page calls the module's _webAudioCallback from its audio node.
const pageLibrary = {
  $page: {
    chooserResult: 0,
    keys: [],
    // Sets a test or timing hook once, and only where the address asked for hooks.
    mark: function(name) {
      if ((page.capture || page.record) && page[name] === undefined)
        page[name] = performance.now();
    },
    base64: function(bytes) {
      let text = '';
      for (let i = 0; i < bytes.length; i += 0x8000)
        text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
      return btoa(text);
    },
  },
  $page__postset: 'Module["page"] = page;',

  // The address, parsed here once: capture, record, fps, width, height.
  pageSettings: function(fields) {
    const p = new URLSearchParams(location.search);
    page.capture = p.get('capture') === '1';
    page.record = page.capture || p.get('record') === '1';
    if (page.capture) {
      const list = (p.get('shots') || '').split(',').filter((s) => s);
      page.wantedShots = new Set(list.map((s) => parseInt(s, 10)));
      page.shots = {};
    }
    const fps = parseInt(p.get('fps') || '50', 10);
    const m = /^([0-9]+)x([0-9]+)$/.exec(p.get('size') || '');
    const sized = m && +m[1] >= 1 && +m[2] >= 1 && +m[1] <= 8192 && +m[2] <= 8192;
    HEAP32[fields >> 2] = page.capture ? 1 : 0;
    HEAP32[(fields >> 2) + 1] = page.record ? 1 : 0;
    HEAP32[(fields >> 2) + 2] = fps > 0 && fps <= 1000 ? fps : 50;
    HEAP32[(fields >> 2) + 3] = sized ? +m[1] : 640;
    HEAP32[(fields >> 2) + 4] = sized ? +m[2] : 480;
  },

  // In capture mode a box would stop the test: it goes to the log only.
  pageShowMessage: function(text, caption, quiet) {
    const message = UTF8ToString(caption) + '\n\n' + UTF8ToString(text);
    console.log(message);
    if (!quiet)
      alert(message);
  },

  // The show pushed a history entry so that Back could end it: after Escape that
  // entry is still current, and is left first so that Back then leaves the page.
  pageEnded: function(showed) {
    if (!showed || page.capture) {
      document.body.setAttribute('data-ended', '1');
      return;
    }
    page.backArmed = false;
    const state = history.state;
    if (state && state.tumbleShow) {
      window.addEventListener('popstate', () => location.reload(), {once: true});
      history.back();
      setTimeout(() => location.reload(), 1000);
    } else {
      location.reload();
    }
  },

  // The chooser: index.html's form, its rows added here one by one.
  pageChooserRow: function(value, label, checked) {
    const row = document.createElement('label');
    row.innerHTML = '<input type="radio" name="resolution">';
    Object.assign(row.firstChild, {value: value, checked: !!checked});
    row.append(' ' + UTF8ToString(label));
    document.querySelector('#chooser .buttons').before(row);
  },

  pageChooserShow: function() {
    const form = document.getElementById('chooser');
    if (!form)
      return 0;
    page.chooserResult = 0;
    document.getElementById('ok').onclick = () => {
      // Sound may only start from a click: the audio context is made here.
      try {
        const Context = window.AudioContext || window.webkitAudioContext;
        if (Context && !page.audioContext && !page.capture) {
          page.audioContext = new Context({sampleRate: 44100});
          page.audioContext.resume();
        }
      } catch (e) {
        console.log('no sound: ' + e);
      }
      page.mark('okMs');
      page.chooserResult = 1;
    };
    document.getElementById('cancel').onclick = () => { page.chooserResult = 2; };
    form.hidden = false;
    page.mark('chooserMs');
    return 1;
  },

  // 0 while open, 1 confirmed, 2 cancelled; the current pick in *choice.
  pageChooserPoll: function(choice) {
    const picked = document.querySelector('#chooser input[name=resolution]:checked');
    HEAP32[choice >> 2] = picked ? parseInt(picked.value, 10) : 0;
    if (page.chooserResult)
      document.getElementById('chooser').hidden = true;
    return page.chooserResult;
  },

  pageDesktopSize: function(width, height) {
    HEAP32[width >> 2] = screen.width;
    HEAP32[height >> 2] = screen.height;
  },

  // Shows the canvas with its first backing store, listens for keys and Back,
  // and asks for full screen, without the pointer. Where there is no keyboard,
  // the browser's Back ends the show as Escape does: the show pushes a history
  // entry to come back from.
  pageCanvasPrepare: function(fixed, fullscreen, width, height) {
    const canvas = Module.canvas;
    canvas.hidden = false;
    canvas.className = fixed ? 'fixed' : 'page';
    canvas.width = width;
    canvas.height = height;
    page.keys = [];
    if (!page.listening) {
      page.listening = true;
      window.addEventListener('keydown', (e) => {
        if (e.key === 'Escape') {
          page.keys.push(1);
          e.preventDefault();
        }
      });
      window.addEventListener('popstate', () => {
        if (page.backArmed) {
          page.backArmed = false;
          page.keys.push(1);
        }
      });
    }
    if (fixed)
      return;
    try {
      history.pushState({tumbleShow: true}, '');
      page.backArmed = true;
    } catch (e) {
      console.log('no history entry: ' + e);
    }
    if (!fullscreen)
      return;
    document.body.style.cursor = 'none';
    if (document.documentElement.requestFullscreen)
      document.documentElement.requestFullscreen().catch(() => {});
  },

  // The page's size in CSS pixels and its device pixels per CSS pixel; both
  // change with the zoom and with the screen the window is on.
  pageViewport: function(size, ratio) {
    HEAP32[size >> 2] = Math.max(1, window.innerWidth | 0);
    HEAP32[(size >> 2) + 1] = Math.max(1, window.innerHeight | 0);
    const r = window.devicePixelRatio;
    HEAPF64[ratio >> 3] = r > 0 && r <= 16 ? r : 1;
  },

  // Places the canvas (CSS pixels) and sizes its backing store; 1 when the latter changed.
  pageCanvasPlace: function(x, y, width, height, backingWidth, backingHeight) {
    const canvas = Module.canvas;
    const place = [x, y, width, height].join();
    if (page.canvasPlace !== place) {
      page.canvasPlace = place;
      canvas.style.left = x + 'px';
      canvas.style.top = y + 'px';
      canvas.style.width = width + 'px';
      canvas.style.height = height + 'px';
    }
    if (canvas.width == backingWidth && canvas.height == backingHeight)
      return 0;
    canvas.width = backingWidth;
    canvas.height = backingHeight;
    return 1;
  },

  // The drawable: the drawing buffer, which a browser may make smaller than a
  // very large canvas.
  pageCanvasSize: function(width, height) {
    const canvas = Module.canvas;
    const gl = Module.ctx;
    HEAP32[width >> 2] = gl ? gl.drawingBufferWidth : canvas.width;
    HEAP32[height >> 2] = gl ? gl.drawingBufferHeight : canvas.height;
  },

  pageNextKey: function() {
    return page.keys.length ? page.keys.shift() : 0;
  },

  // Asynchronous: the module sleeps (asyncify) until the next animation frame.
  pageWaitAnimationFrame: function() {
    return Asyncify.handleAsync(() => new Promise((resolve) => requestAnimationFrame(resolve)));
  },

  pageLeaveFullscreen: function() {
    if (document.fullscreenElement && document.exitFullscreen)
      document.exitFullscreen().catch(() => {});
    document.body.style.cursor = '';
  },

  pageMarkFrame: function(inLoop) {
    page.mark('firstFrameMs');
    if (inLoop)
      page.mark('firstShowFrameMs');
  },

  // Capture mode only: whether the address asked for this frame.
  pageShotWanted: function(frame) {
    page.framesDrawn = frame + 1;
    return page.wantedShots.has(frame) ? 1 : 0;
  },

  pageStoreShot: function(frame, pixels, bytes) {
    page.shots[frame] = page.base64(HEAPU8.subarray(pixels, pixels + bytes));
  },

  pagePublishAudio: function(samples, count) {
    page.audio = page.base64(HEAPU8.subarray(samples, samples + count * 2));
  },

  // The sound device: a script processor that asks the module for each buffer.
  pageAudioStart: function(rate, frames, buffer) {
    try {
      let context = page.audioContext;
      if (!context) {
        const Context = window.AudioContext || window.webkitAudioContext;
        if (!Context)
          return 0;
        context = page.audioContext = new Context({sampleRate: rate});
      }
      // A context the browser keeps suspended would never ask for samples, and
      // the song clock would stand still: the silent device keeps time instead.
      if (context.sampleRate != rate || context.state !== 'running')
        return 0;
      const node = context.createScriptProcessor(frames, 0, 2);
      node.onaudioprocess = (e) => {
        const out = e.outputBuffer;
        const n = out.length;
        Module._webAudioCallback(buffer, n, typeof e.playbackTime === 'number' ? e.playbackTime : -1);
        const left = out.getChannelData(0), right = out.getChannelData(1);
        const pcm = HEAP16.subarray(buffer >> 1, (buffer >> 1) + n * 2);
        for (let i = 0; i < n; ++i) {
          left[i] = pcm[i * 2] / 32768;
          right[i] = pcm[i * 2 + 1] / 32768;
        }
      };
      node.connect(context.destination);
      page.audioNode = node;
      if (context.state !== 'running')
        context.resume().catch(() => {});
      return 1;
    } catch (e) {
      console.log('no sound: ' + e);
      return 0;
    }
  },

  // The context time whose sound reaches the ear now; -1 when the page has no context.
  pageHeardTime: function() {
    const context = page.audioContext;
    if (!context)
      return -1;
    if (context.getOutputTimestamp) {
      const t = context.getOutputTimestamp();
      // Zero until the device has played a first buffer.
      if (t && t.contextTime > 0 && t.performanceTime > 0)
        return t.contextTime + Math.max(0, performance.now() - t.performanceTime) / 1000;
    }
    return context.currentTime - (context.outputLatency || 0) - (context.baseLatency || 0);
  },

  pageAudioStop: function() {
    if (page.audioNode) {
      page.audioNode.onaudioprocess = null;
      page.audioNode.disconnect();
      page.audioNode = null;
    }
  },
};
autoAddDeps(pageLibrary, '$page');
mergeInto(LibraryManager.library, pageLibrary);
