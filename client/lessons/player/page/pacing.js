// Keeps Ruffle from working harder than the movie asks. Runs before Ruffle's
// script, and only when the host left the player's savings on
// (window.mirvoSavings, set before any page script runs).
//
// - Ruffle drives its player from requestAnimationFrame, that is at the
//   display's 60 Hz, although a movie changes at most at its own frame rate
//   (lessons run at 12 to 30). Every one of those wake-ups costs a pass
//   through Blink's frame machinery and the compositor's. Ruffle is the only
//   user of requestAnimationFrame on this page, so its callbacks are run by a
//   timer at the movie's frame rate instead, with the real time: Ruffle runs
//   the frames that are due by that time, so the movie keeps its speed.
// - While the picture stands and the movie is silent, a tick changes nothing
//   anyone sees or hears, yet each one runs Ruffle's frame and the
//   comparison of still_frames.js. Then Ruffle is woken at most every
//   `restingMs` and runs the frames due by then, so the movie keeps its time.
//   A change of the picture, a sound or the user's hand brings the movie's
//   own rate back, the first change at most one such tick late.
// - Ruffle asks for the gamepads on every tick, which keeps a polling thread
//   busy in the browser process; a lesson has no use for gamepads.
// - Ruffle's sound asks for the shortest audio buffers, and the audio threads
//   wake every few milliseconds for as long as the player lives, sound or
//   not. Lesson sound needs no such latency.
(function () {
  "use strict";
  if (window.mirvoSavings === false) return;

  Object.defineProperty(Navigator.prototype, "getGamepads", {
    configurable: true,
    writable: true,
    value: function getGamepads() { return []; },
  });

  const NativeAudioContext = window.AudioContext;
  if (NativeAudioContext) {
    window.AudioContext = class AudioContext extends NativeAudioContext {
      constructor(options) {
        super(Object.assign({ latencyHint: "playback" }, options || {}));
      }
    };
  }

  const nativeRequest = window.requestAnimationFrame.bind(window);
  const nativeCancel = window.cancelAnimationFrame.bind(window);
  // Timer delays are whole milliseconds; a tick lands this long after the
  // frame it is for is due, so Ruffle never finds a frame a hair short.
  const marginMs = 2;
  // While a movie starts, Ruffle loads and prepares it a piece per tick:
  // for this long an instance is woken at the display's pace, so that its
  // first frame comes as soon as it would without the pacing.
  const startupMs = 500;
  const displayMs = 16;
  let intervalMs = 0;  // 0: no pacing, the display's own
  const restingMs = 100;
  let resting = false;  // the stage stands (still_frames.js says so)
  let nextId = 1;
  const pending = new Map();  // our id -> {timer} or {native}
  // Per callback (one per Ruffle instance): the time its grid starts from.
  // Ruffle counts frame time from its first tick, so the ticks of an
  // instance fall on a grid that starts just after its first one.
  const grids = new WeakMap();
  // Should callbacks ever come as new functions each time, fresh grids must
  // not turn into a busy loop: they start no closer together than this.
  let lastFresh = -Infinity;

  function soundQuiet() { return !window.mirvoQuietAudio || window.mirvoQuietAudio.quiet(); }

  function currentInterval() {
    return resting && soundQuiet() ? Math.max(intervalMs, restingMs) : intervalMs;
  }

  function tick(id, callback, fresh, interval) {
    pending.delete(id);
    const now = performance.now();
    if (fresh) {
      grids.set(callback, { born: now, start: now + marginMs, interval: interval, last: now });
      lastFresh = now;
    }
    else grids.get(callback).last = now;
    callback(now);
  }

  window.requestAnimationFrame = function (callback) {
    const id = nextId++;
    if (!intervalMs) {
      pending.set(id, { native: nativeRequest(function (time) { pending.delete(id); callback(time); }) });
      return id;
    }
    const now = performance.now();
    const grid = grids.get(callback);
    const interval = currentInterval();
    // An instance seen for the first time, after a change of rate or after
    // a rest of its own (a hidden page) starts a new grid at once.
    const fresh = !grid || grid.interval !== interval || now - grid.last > 3 * interval;
    let delay = Math.max(0, Math.ceil(lastFresh + displayMs - now));
    if (!fresh) {
      const k = Math.max(1, Math.floor((now - grid.start) / interval) + 1);
      delay = Math.ceil(grid.start + k * interval - now);
      if (now - grid.born < startupMs) delay = Math.min(delay, displayMs);
    }
    pending.set(id, { timer: setTimeout(tick, delay, id, callback, fresh, interval), callback: callback });
    return id;
  };

  window.cancelAnimationFrame = function (id) {
    const entry = pending.get(id);
    if (!entry) return;
    pending.delete(id);
    if (entry.timer !== undefined) clearTimeout(entry.timer);
    else nativeCancel(entry.native);
  };

  window.mirvoPacing = {
    // The movie's frame rate from its header. Rates a timer cannot serve
    // better than the display (none, or 60 and more) keep the display's pace.
    // Each new movie starts at its own pace.
    setFrameRate: function (fps) {
      intervalMs = Number.isFinite(fps) && fps > 0 && fps < 60 ? 1000 / fps : 0;
      resting = false;
    },
    // The stage stands, or no longer does: a slow tick that is waiting
    // comes at once then.
    setResting: function (on) {
      if (resting === on) return;
      resting = on;
      if (on) return;
      for (const [id, entry] of pending) {
        if (entry.timer === undefined) continue;
        clearTimeout(entry.timer);
        entry.timer = setTimeout(tick, 0, id, entry.callback, true, intervalMs);
      }
    },
    resting: function () { return resting; },
  };
  // The user's hand may change the picture: no slow tick keeps it waiting.
  for (const type of ["pointerdown", "pointermove", "keydown", "wheel"]) {
    window.addEventListener(type, function () { window.mirvoPacing.setResting(false); },
                            { capture: true, passive: true });
  }
})();
