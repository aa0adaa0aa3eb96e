// Puts the stage's pictures on the short way to the screen while they
// change. Runs before still_frames.js and Ruffle's script, and only when the
// host left the player's savings on (window.mirvoSavings).
//
// Without a GPU, a 2D canvas is painted into the page's own layer: every
// frame of the movie makes Blink's compositor record the page again,
// rasterise its tiles (copying the whole stage into them) and send them on.
// A canvas that asks to be desynchronized hands each finished picture to the
// display compositor itself, and the page's compositor has nothing to do.
// The picture is taken when the task that drew it ends, and Ruffle draws a
// frame within one task, so the screen still only ever shows whole frames.
//
// The price: for as long as such a canvas lives, the display compositor
// wakes the page at the display's rate, also while nothing is drawn and
// also once it has left the page; on a stage that stands that is most of
// what the player costs. So the desynchronized canvas is a twin laid over
// Ruffle's stage canvas, and still_frames.js sends the stage's drawing
// there. When the picture has stood for a while, picture and drawing state
// go back to Ruffle's canvas and the twin is dropped (the wake-ups end when
// it is collected); the next change makes a new twin from Ruffle's canvas.
// Ruffle keeps its own canvas for its size and events: the twin lets the
// mouse through.
(function () {
  "use strict";
  if (window.mirvoSavings === false) return;

  // Taken before still_frames.js wraps them: the twin is ours alone.
  const nativeGetContext = HTMLCanvasElement.prototype.getContext;
  const proto = CanvasRenderingContext2D.prototype;
  const native = {};
  for (const name of ["save", "restore", "setTransform", "getTransform", "drawImage", "getContextAttributes",
                      "setLineDash", "getLineDash"]) {
    native[name] = proto[name];
  }
  // The drawing state a context keeps besides its transform and dashes.
  const properties = [];
  for (const name of Object.getOwnPropertyNames(proto)) {
    const d = Object.getOwnPropertyDescriptor(proto, name);
    if (d.get && d.set) properties.push(d);
  }
  const setter = function (name) { return Object.getOwnPropertyDescriptor(proto, name).set; };
  const setAlpha = setter("globalAlpha");
  const setOperation = setter("globalCompositeOperation");
  const setShadow = setter("shadowColor");
  const canvasWidth = Object.getOwnPropertyDescriptor(HTMLCanvasElement.prototype, "width");
  const canvasHeight = Object.getOwnPropertyDescriptor(HTMLCanvasElement.prototype, "height");

  const twins = new Map();  // stage canvas -> twin canvas

  // A new Ruffle instance in the same player puts a new canvas in place of
  // the old one: the old one's twin goes with it.
  function drop(stage) {
    const twin = twins.get(stage);
    if (twin) twin.remove();
    twins.delete(stage);
  }
  function dropLeftOver() {
    for (const old of twins.keys()) if (!old.isConnected) drop(old);
  }

  // Whole picture, as it is, from one canvas to the other.
  function copyPicture(from, to) {
    native.save.call(to);
    native.setTransform.call(to, 1, 0, 0, 1, 0, 0);
    setAlpha.call(to, 1);
    setOperation.call(to, "copy");
    setShadow.call(to, "transparent");
    native.drawImage.call(to, from.canvas, 0, 0);
    native.restore.call(to);
  }

  // The state the next frame starts from. Only called between frames that
  // left no saved state or clip behind (still_frames.js sees to that).
  function copyState(from, to) {
    for (const d of properties) {
      try {
        const value = d.get.call(from);
        if (d.get.call(to) !== value) d.set.call(to, value);
      } catch (e) {
        // A property this engine keeps but cannot set back: left as it is.
      }
    }
    native.setTransform.call(to, native.getTransform.call(from));
    native.setLineDash.call(to, native.getLineDash.call(from));
  }

  window.mirvoDirectCanvas = {
    // A new twin over the stage canvas, with the picture and drawing state
    // of the stage's context; returns the twin's context, or null.
    open: function (stage, stageContext) {
      dropLeftOver();
      drop(stage);
      if (!stage.isConnected) return null;
      const canvas = document.createElement("canvas");
      const attributes = Object.assign({}, native.getContextAttributes.call(stageContext), { desynchronized: true });
      const context = nativeGetContext.call(canvas, "2d", attributes);
      if (!context) return null;
      canvasWidth.set.call(canvas, canvasWidth.get.call(stage));
      canvasHeight.set.call(canvas, canvasHeight.get.call(stage));
      // Ruffle's stylesheet stretches its canvas over its container; the
      // twin lies on top of it.
      canvas.style.cssText = "position:absolute;left:0;top:0;width:100%;height:100%;pointer-events:none";
      copyPicture(stageContext, context);
      copyState(stageContext, context);
      stage.after(canvas);
      twins.set(stage, canvas);
      return context;
    },
    // The picture stands: picture and state go back to the stage's context
    // and the twin is dropped.
    rest: function (stage, stageContext, twinContext) {
      if (twins.get(stage) !== twinContext.canvas) return;
      copyPicture(twinContext, stageContext);
      copyState(twinContext, stageContext);
      drop(stage);
    },
    // Ruffle resized its canvas (which clears it); the twin follows.
    resize: function (stage, name, value) {
      const twin = twins.get(stage);
      if (twin) (name === "width" ? canvasWidth : canvasHeight).set.call(twin, value);
    },
    // Twins on the page, for those who watch (tests).
    onPage: function () {
      dropLeftOver();
      return twins.size;
    },
  };
})();
