// Lets the sound output sleep while the movie makes no sound. Runs after
// pacing.js and before Ruffle's script, and only when the host left the
// player's savings on (window.mirvoSavings).
//
// Ruffle mixes its sounds itself and hands the result to the audio context
// in short buffers, one after the other, each scheduled when the one before
// has ended. The context and the browser's audio threads behind it wake every
// few milliseconds for as long as it runs, silence or not; in a lesson that
// stands on its last frame, or a movie without sound, that is a third of what
// the player costs. So once the mixer has produced a second of silence the
// real context is suspended, and its clock is carried on by the page's own:
// silent buffers still "play" and "end" on time, so Ruffle goes on mixing at
// its pace and nothing in it notices. The first buffer that holds a sound
// wakes the context and plays as scheduled; no sound is lost, it may start a
// few milliseconds late.
(function () {
  "use strict";
  if (window.mirvoSavings === false || !window.AudioContext) return;

  // Silence this long (in the context's seconds) before the context sleeps.
  const sleepAfter = 1.0;
  const nativeTime = Object.getOwnPropertyDescriptor(BaseAudioContext.prototype, "currentTime").get;
  const nativeState = Object.getOwnPropertyDescriptor(BaseAudioContext.prototype, "state").get;
  const nativeStart = AudioBufferSourceNode.prototype.start;
  const nativeStop = AudioScheduledSourceNode.prototype.stop;
  const contexts = [];

  function silent(buffer) {
    if (!buffer) return true;
    for (let c = 0; c < buffer.numberOfChannels; c++) {
      const data = buffer.getChannelData(c);
      for (let i = 0; i < data.length; i++) if (data[i] !== 0) return false;
    }
    return true;
  }

  const Base = window.AudioContext;
  window.AudioContext = class AudioContext extends Base {
    constructor(options) {
      super(options);
      this.mirvoAsleep = false;   // the real context suspended by us
      this.mirvoPaused = false;   // suspended by its user (Ruffle's pause)
      this.mirvoOffset = 0;       // our clock = the real one + this, while awake
      this.mirvoSleptAt = 0;      // our clock when it fell asleep
      this.mirvoSleptSince = 0;   // performance.now() then
      this.mirvoSilence = 0;      // seconds of silence handed over in a row
      this.mirvoSources = new Set();  // buffers scheduled and not yet ended
      this.mirvoClosed = false;
      contexts.push(new WeakRef(this));
    }

    get currentTime() {
      if (!this.mirvoAsleep) return nativeTime.call(this) + this.mirvoOffset;
      if (this.mirvoPaused) return this.mirvoSleptAt;
      return this.mirvoSleptAt + (performance.now() - this.mirvoSleptSince) / 1000;
    }

    get state() {
      if (this.mirvoAsleep) return this.mirvoPaused ? "suspended" : "running";
      return nativeState.call(this);
    }

    suspend() {
      if (!this.mirvoAsleep) return super.suspend();
      // Our clock stops with it; so do the buffers that only we play.
      if (!this.mirvoPaused) {
        this.mirvoSleptAt = this.currentTime;
        this.mirvoPaused = true;
        for (const source of this.mirvoSources) clearTimeout(source.mirvoTimer);
      }
      return Promise.resolve();
    }

    resume() {
      if (!this.mirvoAsleep) return super.resume();
      if (this.mirvoPaused) {
        this.mirvoPaused = false;
        this.mirvoSleptSince = performance.now();
        for (const source of this.mirvoSources) this.mirvoPlayQuietly(source);
      }
      return Promise.resolve();
    }

    close() {
      this.mirvoClosed = true;
      for (const source of this.mirvoSources) clearTimeout(source.mirvoTimer);
      this.mirvoSources.clear();
      if (this.mirvoAsleep) {
        this.mirvoAsleep = false;
        this.mirvoPaused = false;
      }
      return super.close();
    }

    createBufferSource() {
      const source = super.createBufferSource();
      const context = this;
      source.mirvoEnded = null;
      source.mirvoQuiet = false;  // played by our clock, not the real context
      // Ruffle chains its buffers through onended: the handler is ours to
      // call, once, whichever clock the buffer played by.
      Object.defineProperty(source, "onended", {
        configurable: true,
        get: function () { return source.mirvoEnded; },
        set: function (handler) { source.mirvoEnded = handler; },
      });
      source.addEventListener("ended", function () {
        if (!source.mirvoQuiet) context.mirvoEnd(source);
      });
      source.start = function (when, offset, duration) {
        context.mirvoStart(source, Number(when) || 0, offset, duration);
      };
      source.stop = function () {
        if (source.mirvoQuiet) context.mirvoEnd(source);
        else nativeStop.apply(source, arguments);
      };
      return source;
    }

    mirvoStart(source, when, offset, duration) {
      if (this.mirvoClosed) return;
      source.mirvoWhen = Math.max(when, this.currentTime);
      source.mirvoLength = source.buffer ? source.buffer.duration : 0;
      this.mirvoSources.add(source);
      if (!silent(source.buffer)) {
        this.mirvoSilence = 0;
        if (this.mirvoAsleep) this.mirvoWake();
      } else {
        this.mirvoSilence += source.mirvoLength;
        if (this.mirvoAsleep) {
          this.mirvoPlayQuietly(source);
          return;
        }
      }
      const args = [Math.max(0, source.mirvoWhen - this.mirvoOffset)];
      if (offset !== undefined) args.push(offset);
      if (duration !== undefined) args.push(duration);
      nativeStart.apply(source, args);
      if (this.mirvoSilence >= sleepAfter && !this.mirvoClosed && nativeState.call(this) === "running") {
        this.mirvoSleep();
      }
    }

    mirvoEnd(source) {
      if (!this.mirvoSources.delete(source)) return;
      clearTimeout(source.mirvoTimer);
      if (typeof source.mirvoEnded === "function") source.mirvoEnded.call(source, new Event("ended"));
    }

    // The buffer ends by our clock.
    mirvoPlayQuietly(source) {
      source.mirvoQuiet = true;
      clearTimeout(source.mirvoTimer);
      if (this.mirvoPaused) return;
      const ms = Math.max(0, (source.mirvoWhen + source.mirvoLength - this.currentTime) * 1000);
      source.mirvoTimer = setTimeout(() => this.mirvoEnd(source), ms);
    }

    mirvoSleep() {
      this.mirvoSleptAt = this.currentTime;
      this.mirvoSleptSince = performance.now();
      this.mirvoAsleep = true;
      // What the real context still holds is silence: from here our clock
      // plays it.
      for (const source of this.mirvoSources) {
        if (source.mirvoQuiet) continue;
        source.mirvoQuiet = true;
        try { nativeStop.call(source); } catch (e) { /* not started yet */ }
        this.mirvoPlayQuietly(source);
      }
      super.suspend();
    }

    mirvoWake() {
      const now = this.currentTime;
      this.mirvoAsleep = false;
      // The real clock goes on from where it stopped; ours must not jump.
      this.mirvoOffset = now - nativeTime.call(this);
      if (!this.mirvoPaused) super.resume();
    }
  };

  // For those who watch (tests, benchmarks): which contexts sleep now.
  window.mirvoQuietAudio = {
    asleep: function () {
      return contexts.map(function (r) { return r.deref(); }).filter(Boolean)
        .map(function (c) { return c.mirvoAsleep; });
    },
    // No context plays anything: each is asleep, paused or closed.
    quiet: function () {
      return contexts.every(function (r) {
        const c = r.deref();
        return !c || c.mirvoClosed || c.mirvoAsleep || nativeState.call(c) !== "running";
      });
    },
  };
})();
