// Chromium's fetch() refuses custom URL schemes, but Ruffle loads its .wasm,
// its movies and everything a movie asks for with fetch(). XMLHttpRequest does
// work on our scheme, so requests for it are carried over XHR and handed back
// as an ordinary Response. Other schemes keep the browser's own fetch.
(function () {
  "use strict";
  const nativeFetch = window.fetch.bind(window);
  const ourScheme = location.protocol;

  function headersOf(xhr) {
    const headers = new Headers();
    for (const line of xhr.getAllResponseHeaders().trim().split(/[\r\n]+/)) {
      const colon = line.indexOf(":");
      if (colon > 0) {
        try { headers.append(line.slice(0, colon).trim(), line.slice(colon + 1).trim()); } catch (e) { /* skip odd header */ }
      }
    }
    return headers;
  }

  window.fetch = function (input, init) {
    const request = input instanceof Request ? input : null;
    const url = new URL(request ? request.url : String(input), document.baseURI);
    if (url.protocol !== ourScheme) return nativeFetch(input, init);
    const method = (init && init.method) || (request && request.method) || "GET";
    const body = init && init.body !== undefined ? init.body : null;
    const signal = (init && init.signal) || (request && request.signal) || null;
    return new Promise(function (resolve, reject) {
      const xhr = new XMLHttpRequest();
      xhr.open(method, url.href);
      xhr.responseType = "arraybuffer";
      xhr.onload = function () {
        // Custom schemes report status 0 for a served reply.
        const status = xhr.status === 0 ? 200 : xhr.status;
        let response;
        try {
          response = new Response(status === 204 || status === 304 ? null : xhr.response,
                                  { status: status, statusText: xhr.statusText || "OK", headers: headersOf(xhr) });
        } catch (e) {
          reject(new TypeError("fetch failed: " + e));
          return;
        }
        // Ruffle takes the movie's own address from the response.
        Object.defineProperty(response, "url", { value: xhr.responseURL || url.href });
        resolve(response);
      };
      xhr.onerror = function () { reject(new TypeError("fetch failed: " + url.href)); };
      xhr.onabort = function () { reject(new DOMException("aborted", "AbortError")); };
      if (signal) {
        if (signal.aborted) { reject(new DOMException("aborted", "AbortError")); return; }
        signal.addEventListener("abort", function () { xhr.abort(); });
      }
      xhr.send(method === "GET" || method === "HEAD" ? null : body);
    });
  };
})();
