// The page side of the movie player. The host (CShockwaveflash1) starts loads
// through window.mirvoPlayer and learns what the movie does through the
// "host" object on the web channel: which root frame was entered (from the
// frame markers the host put into the movie) and a heartbeat that tells it
// the page is alive, both stamped with the page's own clock so the host can
// judge a quiet timeline even when its own thread was busy.
//
// The heartbeat only goes while it can still change what the host sees: from
// a load until the movie's first frame (or its start time-out, or the end of
// a clock's run). While root frames come, they carry the page's time
// themselves; after the last one, a single beat lets the host see the root
// stand. A movie that stands sends nothing, and the host, the page and the
// channel between them all sleep.
(function () {
  "use strict";

  const beatMs = 100;
  let host = null;
  let player = null;
  let generation = 0;
  let pending = null;        // a load asked for before the channel was up
  let beat = null;           // the heartbeat's timer while it goes
  let beatUntil = 0;         // page time after which it stops
  let lastWord = null;       // the one beat after the latest root frame
  let beats = 0;             // sent, for those who watch (tests)
  let quietMs = 0;           // the current movie's: from the host

  function now() { return performance.now(); }

  function beatOnce() {
    const t = now();
    beats++;
    host.heartbeat(generation, t);
    if (t > beatUntil && beat !== null) {
      clearInterval(beat);
      beat = null;
    }
  }

  // Beats go on until `ms` from now; the last one comes after that time, so
  // the host sees the whole span pass.
  function beatFor(ms) {
    beatUntil = now() + ms + beatMs;
    if (beat === null) beat = setInterval(beatOnce, beatMs);
  }

  function afterFrame() {
    if (beat !== null) {
      clearInterval(beat);
      beat = null;
    }
    clearTimeout(lastWord);
    lastWord = setTimeout(beatOnce, quietMs + beatMs);
  }

  function newPlayer() {
    const stage = document.getElementById("stage");
    if (player) player.remove();
    player = window.RufflePlayer.newest().createPlayer();
    stage.appendChild(player);
    return player;
  }

  function observerFor(gen, prefix) {
    return function (message) {
      if (gen !== generation || typeof message !== "string" || !message.startsWith(prefix)) return;
      const index = Number(message.slice(prefix.length));
      if (!Number.isInteger(index) || index < 0) return;
      host.marker(gen, index, now());
      afterFrame();
    };
  }

  function start(gen, options) {
    generation = gen;
    quietMs = options.quietMs;
    // The host learns at once that this load reached the page, and from then
    // on counts the movie's start in page time.
    beatOnce();
    beatFor(options.watchMs);
    document.body.style.background = options.background;
    const p = player || newPlayer();
    const rules = (options.rewrite || []).map(function (r) { return [new RegExp(r[0]), r[1]]; });
    if (window.mirvoPacing) window.mirvoPacing.setFrameRate(options.frameRate);
    p.addEventListener("loadedmetadata", function onMeta() {
      p.removeEventListener("loadedmetadata", onMeta);
      if (gen === generation) host.metadata(gen, now());
    });
    p.load({
      url: options.url,
      base: options.base,
      autoplay: "on",
      unmuteOverlay: "hidden",
      backgroundColor: options.background,
      letterbox: "off",
      scale: "showAll",
      quality: "high",
      wmode: "window",
      splashScreen: false,
      contextMenu: "off",
      menu: false,
      showSwfDownload: false,
      warnOnUnsupportedContent: false,
      upgradeToHttps: false,
      // Also keeps a movie from navigating the player page itself away.
      allowScriptAccess: false,
      logLevel: "error",
      urlRewriteRules: rules,
    }).then(function () {
      if (gen !== generation) return;
      // Each load makes a new Ruffle instance; the observer belongs to it.
      p.traceObserver = observerFor(gen, options.prefix);
      // Ruffle switches to its background ticking when the page becomes
      // hidden, but an instance made while the page is already hidden (the
      // next movie of a lesson playing in the tray) would wait for frames
      // that never come. Let it see the page's state as a change.
      if (document.hidden) document.dispatchEvent(new Event("visibilitychange"));
      host.loaded(gen, true, "", now());
      // A movie followed by its clock plays from here.
      beatFor(options.watchMs);
    }).catch(function (error) {
      if (gen === generation) host.loaded(gen, false, String(error), now());
    });
  }

  window.mirvoPlayer = {
    load: function (gen, options) {
      if (!host) { pending = [gen, options]; return; }
      start(gen, options);
    },
    unload: function (gen, background) {
      generation = gen;
      pending = null;
      document.body.style.background = background;
      if (player) { player.remove(); player = null; }
    },
    play: function () { if (player) player.play(); },
    background: function (css) { document.body.style.background = css; },
    heartbeats: function () { return beats; },
  };

  // Ruffle compiles its WebAssembly when the first instance is made, which
  // takes seconds on a slow machine. An empty one-frame movie made while the
  // page starts moves that wait out of the first lesson movie.
  function warmUp() {
    const emptyMovie = new Uint8Array([
      0x46, 0x57, 0x53, 0x08, 0x11, 0x00, 0x00, 0x00,  // FWS, version 8, 17 bytes
      0x00,                                            // empty stage rectangle
      0x00, 0x0c, 0x01, 0x00,                          // 12 fps, one frame
      0x40, 0x00,                                      // ShowFrame
      0x00, 0x00,                                      // End
    ]);
    if (window.mirvoPacing) window.mirvoPacing.setFrameRate(12);
    return newPlayer().load({
      data: emptyMovie.buffer, autoplay: "on", unmuteOverlay: "hidden", splashScreen: false,
      contextMenu: "off", letterbox: "off", logLevel: "error",
      backgroundColor: "#ffffff",
    }).catch(function () { /* the real load reports its own failure */ });
  }

  new QWebChannel(qt.webChannelTransport, function (channel) {
    host = channel.objects.host;
    warmUp().then(function () {
      host.pageReady();
      if (pending) { const p = pending; pending = null; start(p[0], p[1]); }
    });
  });
})();
