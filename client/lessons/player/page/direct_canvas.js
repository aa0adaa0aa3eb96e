// Puts Ruffle's stage canvas on the short way to the screen. Runs before
// Ruffle's script, and only when the host left the player's savings on
// (window.mirvoSavings).
//
// Without a GPU, a 2D canvas is painted into the page's own layer: every
// frame of the movie makes Blink's compositor record the page again,
// rasterise its tiles (copying the whole stage into them) and send them on.
// A canvas that asks to be desynchronized hands each finished picture to the
// display compositor itself, and the page's compositor has nothing to do.
// Ruffle draws a frame within one task and the picture is taken when the
// task ends, so the screen still only ever shows whole frames.
//
// The price: once such a canvas has shown a picture, the display compositor
// keeps waking the page at the display's rate, also while nothing is drawn.
// On a stage that stands that costs about two points of a core; while the
// movie moves, five to seven are saved.
(function () {
  "use strict";
  if (window.mirvoSavings === false) return;

  const nativeGetContext = HTMLCanvasElement.prototype.getContext;
  HTMLCanvasElement.prototype.getContext = function (type, attributes) {
    if (type !== "2d") return nativeGetContext.apply(this, arguments);
    return nativeGetContext.call(this, type, Object.assign({}, attributes, { desynchronized: true }));
  };
})();
