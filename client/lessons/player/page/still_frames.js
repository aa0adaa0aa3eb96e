// Ruffle's canvas renderer draws the whole stage again on every movie frame,
// also while the root stands and nothing on the stage changes; each redraw
// is rasterised, composited and copied into the Qt window, which costs more
// than running the movie. Here the drawing calls of one frame on the stage
// canvas are held back and compared with those of the frame on screen: when
// they are the same (same calls, same values, same paths, gradients and
// pictures, none of them changed since, and the same context state to start
// from), the picture on screen already is that frame and nothing is drawn.
// Anything that changes the picture (a blinking sprite, a button under the
// mouse, a new bitmap) makes the calls differ, and the frame is drawn as it
// came. Runs after direct_canvas.js and before Ruffle's script, and only when
// the host left the player's savings on (window.mirvoSavings).
//
// Only frames that start by covering the whole canvas (Ruffle paints the
// stage background first) can be left out: what such a frame draws does not
// depend on the picture before it. Holding calls back is only sound while
// nothing looks at the context in between, so any other use of the stage
// context (a getter, a read-back, a call not known here, an argument that
// cannot be compared) first carries out what was held back, and the rest of
// that frame is drawn as it comes.
//
// While the picture changes, the stage's drawing goes to the desynchronized
// twin direct_canvas.js lays over Ruffle's canvas; once it has stood for
// `restAfter` frames, the drawing goes back to Ruffle's canvas and the twin
// is dropped.
(function () {
  "use strict";
  if (window.mirvoSavings === false) return;

  const proto = CanvasRenderingContext2D.prototype;
  // Calls that draw or set drawing state and return nothing: these can wait
  // until the frame is complete. Text is left out: how it looks depends on
  // fonts that may still be loading.
  const deferrable = new Set([
    "fillRect", "clearRect", "strokeRect", "fill", "stroke", "clip", "setTransform", "resetTransform",
    "transform", "translate", "scale", "rotate", "save", "restore", "beginPath", "closePath", "moveTo", "lineTo",
    "bezierCurveTo", "quadraticCurveTo", "arc", "arcTo", "ellipse", "rect", "roundRect", "drawImage",
    "setLineDash",
  ]);
  // Calls that put something on the canvas (or limit where the next ones do).
  const marking = new Set(["fillRect", "clearRect", "strokeRect", "fill", "stroke", "clip", "drawImage"]);
  // Calls that read the context but leave its state and picture alone.
  const reading = new Set([
    "getTransform", "getLineDash", "getImageData", "isPointInPath", "isPointInStroke", "measureText",
  ]);
  // Calls that neither read nor change the context's state or picture.
  const independent = new Set([
    "createLinearGradient", "createRadialGradient", "createConicGradient", "createPattern", "createImageData",
    "getContextAttributes", "isContextLost",
  ]);
  // The state a frame may take over from the one before without setting it.
  const inherited = ["globalAlpha", "globalCompositeOperation", "fillStyle", "strokeStyle", "filter",
                     "imageSmoothingEnabled", "imageSmoothingQuality", "lineWidth", "lineCap", "lineJoin",
                     "miterLimit", "lineDashOffset", "shadowBlur", "shadowColor", "shadowOffsetX", "shadowOffsetY"];
  // Objects a frame may refer to whose content can change later: each change
  // counts up their version, and a frame refers to object and version.
  const versioned = [window.Path2D, window.CanvasGradient, window.CanvasPattern, window.HTMLCanvasElement,
                     window.OffscreenCanvas, window.ImageBitmap].filter(Boolean);
  const versions = new WeakMap();
  // Canvases drawn on by other means than a 2D context: not comparable.
  const untracked = new WeakSet();
  const nativeMethods = {};
  const nativeGetters = {};
  const nativeSetters = {};
  const canvasOf = Object.getOwnPropertyDescriptor(proto, "canvas").get;
  const canvasWidth = Object.getOwnPropertyDescriptor(HTMLCanvasElement.prototype, "width").get;
  const canvasHeight = Object.getOwnPropertyDescriptor(HTMLCanvasElement.prototype, "height").get;

  // Per stage canvas: the frame being held back and the one on screen.
  class FrameState {
    constructor(context) {
      this.context = context;
      // Where the drawing goes: the twin's context, or the stage's own.
      this.target = context;
      this.twinComing = false;  // a twin is to be made in a task of its own
      this.standing = 0;  // frames in a row left out
      this.drawn = null;  // key of the frame on screen; null: not known
      this.direct = false;  // this frame is drawn as it comes
      this.queued = false;  // the end of this frame is queued
      this.clear();
    }
    clear() {
      this.calls = [];  // [name, args, is_setter]
      this.key = [];  // what frames are compared by
      this.refs = new Set();  // versioned objects the held calls use
      this.covered = null;  // first marking call paints over everything: true/false; null: none yet
      this.fill = null;  // fill state as the held calls leave it
      this.depth = 0;  // saves less restores
      this.lasting = false;  // leaves a save or a clip behind for the next frame
    }
  }
  const states = new WeakMap();  // canvas -> FrameState
  // Frames in a row that repeat the picture before the twin rests: half a
  // second to a second of a lesson movie's frames.
  const restAfter = 12;
  const directCanvas = window.mirvoDirectCanvas || null;
  // Frames drawn and left out, for those who watch (tests, benchmarks).
  const counts = { drawn: 0, leftOut: 0 };
  window.mirvoStillFrames = { counts: function () { return Object.assign({}, counts); } };
  const holding = new Set();  // states with calls held back

  function stateOf(context) {
    const canvas = canvasOf.call(context);
    let state = states.get(canvas);
    if (!state) states.set(canvas, (state = new FrameState(context)));
    return state;
  }

  // Ruffle's bitmaps and off-screen work use canvases outside the page.
  function isStage(context) { return canvasOf.call(context).isConnected; }

  // Adds a call argument to the key; returns the value to replay with, or
  // `unusable` when the argument cannot be compared.
  const unusable = {};
  function keyed(state, value) {
    const type = typeof value;
    if (value === null || type === "number" || type === "string" || type === "boolean" || type === "undefined") {
      state.key.push(value);
      return value;
    }
    if (untracked.has(value)) return unusable;
    for (const kind of versioned) {
      if (value instanceof kind) {
        state.key.push(value, versions.get(value) || 0);
        state.refs.add(value);
        return value;
      }
    }
    if (window.DOMMatrixReadOnly && value instanceof DOMMatrixReadOnly && value.is2D) {
      state.key.push("matrix", value.a, value.b, value.c, value.d, value.e, value.f);
      return DOMMatrix.fromMatrix(value);  // the caller may change its own later
    }
    if (Array.isArray(value) && value.every(function (v) { return typeof v === "number"; })) {
      state.key.push("array", value.length, ...value);
      return value.slice();
    }
    return unusable;
  }

  // The frame's first calls: the state it starts from is part of its key.
  function begin(state) {
    const context = state.target;
    const stage = canvasOf.call(state.context);
    const t = nativeMethods.getTransform.call(context);
    state.key.push(t.a, t.b, t.c, t.d, t.e, t.f, canvasWidth.call(stage), canvasHeight.call(stage));
    for (const name of inherited) if (nativeGetters[name]) state.key.push(nativeGetters[name].call(context));
    state.fill = {
      identity: t.isIdentity,
      alpha: nativeGetters.globalAlpha.call(context),
      operation: nativeGetters.globalCompositeOperation.call(context),
      style: nativeGetters.fillStyle.call(context),
    };
  }

  // A context of its own (never on the page) reads colours back the
  // canonical way: "#rrggbb" for opaque ones only.
  let scratch = null;
  function opaque(style) {
    if (typeof style !== "string") return false;
    if (!scratch) scratch = document.createElement("canvas").getContext("2d");
    nativeSetters.fillStyle.call(scratch, "#00000000");
    nativeSetters.fillStyle.call(scratch, style);
    return String(nativeGetters.fillStyle.call(scratch)).charAt(0) === "#";
  }

  // Follows what decides whether the frame's first marking call paints over
  // the whole canvas.
  function follow(state, name, args, isSetter) {
    // The clip region and the saved states cannot be read back, so the state
    // a frame starts from is only known when the one before left none.
    if (name === "save") state.depth++;
    else if (name === "restore") state.depth = Math.max(0, state.depth - 1);
    else if (name === "clip" && state.depth === 0) state.lasting = true;
    if (state.covered !== null) return;
    const fill = state.fill;
    if (isSetter) {
      if (name === "globalAlpha") fill.alpha = Number(args[0]);
      else if (name === "globalCompositeOperation") fill.operation = String(args[0]);
      else if (name === "fillStyle") fill.style = args[0];
      return;
    }
    if (name === "resetTransform") fill.identity = true;
    else if (name === "setTransform") {
      fill.identity = args.length === 6 && args[0] === 1 && args[1] === 0 && args[2] === 0 && args[3] === 1 &&
                      args[4] === 0 && args[5] === 0;
    } else if (name === "transform" || name === "translate" || name === "scale" || name === "rotate" ||
               name === "restore") {
      fill.identity = false;
    } else if (marking.has(name)) {
      const canvas = canvasOf.call(state.context);
      const whole = fill.identity && args.length === 4 && args[0] <= 0 && args[1] <= 0 &&
                    args[0] + args[2] >= canvasWidth.call(canvas) && args[1] + args[3] >= canvasHeight.call(canvas);
      // "copy" replaces every pixel with the fill, whatever its alpha.
      const replaces = fill.operation === "copy" ||
                       (fill.operation === "source-over" && fill.alpha === 1 && opaque(fill.style));
      state.covered = whole && (name === "clearRect" || (name === "fillRect" && replaces));
    }
  }

  function waking(state) {
    state.standing = 0;
    if (window.mirvoPacing) window.mirvoPacing.setResting(false);
  }

  // The picture changes: once a frame drawn on the stage's own context has
  // left no saved state or clip behind, the frames after it go to a new
  // twin. Making one takes a while, so it is made in a task of its own, and
  // the frame that starts a movie or wakes a standing stage is not held up.
  function twinLater(state) {
    if (!directCanvas || state.target !== state.context || state.twinComing) return;
    state.twinComing = true;
    setTimeout(function () {
      state.twinComing = false;
      if (state.target !== state.context || state.calls.length || state.drawn === null ||
          state.standing >= restAfter) {
        return;
      }
      state.target = directCanvas.open(canvasOf.call(state.context), state.context) || state.context;
    }, 0);
  }

  // The picture stands: the drawing goes to the stage's own context.
  function resting(state) {
    if (state.target === state.context) return;
    directCanvas.rest(canvasOf.call(state.context), state.context, state.target);
    state.target = state.context;
  }

  function replay(state) {
    if (state.calls.length) waking(state);
    const context = state.target;
    for (const [name, args, isSetter] of state.calls) {
      try {
        if (isSetter) nativeSetters[name].call(context, args[0]);
        else nativeMethods[name].apply(context, args);
      } catch (e) {
        // The call failed where it was made too (a picture of no size, say);
        // the frame goes on without it, as it did there.
      }
    }
    state.clear();
    holding.delete(state);
  }

  // Carries out what was held back; the rest of the frame is drawn as it
  // comes, and the next frame is drawn whatever it holds.
  function drawDirect(state) {
    replay(state);
    state.direct = true;
    state.drawn = null;
    queueEnd(state);
  }

  function sameKey(a, b) {
    if (a === null || a.length !== b.length) return false;
    for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
    return true;
  }

  // Ruffle draws a frame in one go, within one task: the frame is complete
  // when that task's script has run.
  function endFrame(state) {
    state.queued = false;
    if (state.direct) {
      state.direct = false;
      counts.drawn++;
      return;
    }
    if (state.covered === true && sameKey(state.drawn, state.key)) {
      counts.leftOut++;
      if (++state.standing === restAfter) resting(state);
      if (state.standing >= restAfter && window.mirvoPacing) window.mirvoPacing.setResting(true);
      state.clear();
      holding.delete(state);
      return;
    }
    const key = state.covered === true && state.depth === 0 && !state.lasting ? state.key : null;
    counts.drawn++;
    replay(state);
    state.drawn = key;
    if (key !== null) twinLater(state);
  }

  function queueEnd(state) {
    if (state.queued) return;
    state.queued = true;
    queueMicrotask(function () { endFrame(state); });
  }

  // Holds a call back; false when it has to be made now.
  function hold(context, name, args, isSetter) {
    const state = stateOf(context);
    if (state.direct) return false;
    if (!state.calls.length) begin(state);
    const start = state.key.length;
    state.key.push(name);
    const values = new Array(args.length);
    for (let i = 0; i < args.length; i++) {
      values[i] = keyed(state, args[i]);
      if (values[i] === unusable) {
        state.key.length = start;
        drawDirect(state);
        return false;
      }
    }
    follow(state, name, values, isSetter);
    state.calls.push([name, values, isSetter]);
    holding.add(state);
    queueEnd(state);
    return true;
  }

  // Before anything a held call refers to changes: carry the held calls out
  // first, then count the change.
  function changing(object) {
    for (const state of holding) if (state.refs.has(object)) drawDirect(state);
    versions.set(object, (versions.get(object) || 0) + 1);
  }

  // Any other use of a stage context finds it as the calls so far left it;
  // one that may change the picture makes the picture on screen unknown.
  // Returns the context to make the call on.
  function catchUp(context, changesPicture) {
    const state = stateOf(context);
    if (state.calls.length) drawDirect(state);
    if (changesPicture) {
      state.drawn = null;
      waking(state);
    }
    return state.target;
  }

  for (const name of Object.getOwnPropertyNames(proto)) {
    const d = Object.getOwnPropertyDescriptor(proto, name);
    if (typeof d.value === "function" && name !== "constructor") {
      const native = d.value;
      nativeMethods[name] = native;
      if (independent.has(name)) continue;
      const canWait = deferrable.has(name);
      const changesPicture = !reading.has(name);
      proto[name] = function () {
        if (!isStage(this)) {
          if (changesPicture) changing(canvasOf.call(this));
          return native.apply(this, arguments);
        }
        if (canWait && hold(this, name, arguments, false)) return undefined;
        return native.apply(catchUp(this, changesPicture), arguments);
      };
    } else if (d.get && d.set) {
      nativeGetters[name] = d.get;
      nativeSetters[name] = d.set;
      Object.defineProperty(proto, name, {
        configurable: true,
        enumerable: d.enumerable,
        get: function () {
          return d.get.call(isStage(this) ? catchUp(this, false) : this);
        },
        set: function (value) {
          if (!isStage(this)) {
            changing(canvasOf.call(this));
            d.set.call(this, value);
          } else if (!hold(this, name, [value], true)) {
            d.set.call(catchUp(this, true), value);
          }
        },
      });
    }
  }

  // What changes the content of the objects a frame may refer to.
  const mutators = [
    [window.Path2D, ["addPath", "closePath", "moveTo", "lineTo", "bezierCurveTo", "quadraticCurveTo", "arc",
                     "arcTo", "ellipse", "rect", "roundRect"]],
    [window.CanvasGradient, ["addColorStop"]],
    [window.CanvasPattern, ["setTransform"]],
  ];
  for (const [kind, names] of mutators) {
    if (!kind) continue;
    for (const name of names) {
      const native = kind.prototype[name];
      if (typeof native !== "function") continue;
      kind.prototype[name] = function () {
        changing(this);
        return native.apply(this, arguments);
      };
    }
  }
  // Canvases drawn through another kind of context are not compared at all;
  // so are off-screen canvases, whose 2D context is another class.
  for (const kind of [window.HTMLCanvasElement, window.OffscreenCanvas]) {
    if (!kind) continue;
    const native = kind.prototype.getContext;
    kind.prototype.getContext = function (type) {
      const context = native.apply(this, arguments);
      if (context && !(kind === window.HTMLCanvasElement && type === "2d")) untracked.add(this);
      return context;
    };
  }
  // A canvas that is resized is cleared, and its context's state with it.
  for (const name of ["width", "height"]) {
    const d = Object.getOwnPropertyDescriptor(HTMLCanvasElement.prototype, name);
    Object.defineProperty(HTMLCanvasElement.prototype, name, {
      configurable: true,
      enumerable: d.enumerable,
      get: d.get,
      set: function (value) {
        const state = states.get(this);
        if (state) catchUp(state.context, true);
        changing(this);
        d.set.call(this, value);
        if (state && directCanvas) directCanvas.resize(this, name, value);
      },
    });
  }
})();
