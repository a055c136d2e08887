// The page's worker: the module lives here, so that making an installer
// never stops the page. It says {ready, levels} once the module runs (the
// compression levels it offers, its default first), or {startFailed}
// when it cannot; then it answers each message {id, kind, ...} with
// {id, result} or {id, failed}, and sends {id, progress} meanwhile.
"use strict";

// The module's code is in this script, and would still ask fetch() for it:
// without fetch it decodes its own bytes, and no request is even tried.
const fetch = undefined;

const modulePromise = SaverpackModule();
modulePromise.then(
  (m) => {
    postMessage({ ready: true, levels: m.levels() });
    m.warm();
  },
  (e) => postMessage({ startFailed: String((e && e.message) || e) })
);

// The files come from the page already read, as bytes it handed over
// (transferred, not copied); the page reads them because some browsers do
// not let a worker of a page opened from disk read a file.
function filePart(file) {
  if (!file) return null;
  if (!file.bytes) return file; // a preview's, or one the module received in slices
  return { name: file.name, bytes: new Uint8Array(file.bytes) };
}

function requestOf(form) {
  const r = Object.assign({}, form);
  r.saver = filePart(form.saver) || { name: "", size: 0 };
  r.data = filePart(form.data);
  r.files = form.files.map(filePart);
  r.icon = filePart(form.icon);
  return r;
}

const handlers = {
  preview(m, message) {
    return m.preview(requestOf(message.form));
  },
  make(m, message) {
    const request = requestOf(message.form);
    message.form = null; // the module copies each file in, and lets the page's bytes go
    let last = 0;
    const result = m.make(request, (done, total) => {
      const now = Date.now();
      if (now - last > 50 || done === total) {
        last = now;
        postMessage({ id: message.id, progress: { done, total } });
      }
    });
    // Straight from the module's memory into the Blob the page offers:
    // the one copy there is, and a Blob reaches the page without another.
    if (result.installer) {
      result.installer = new Blob(result.installer, {
        type: "application/vnd.microsoft.portable-executable",
      });
    }
    return result;
  },
  receive(m, message) {
    return m.receive(message.file, message.size, new Uint8Array(message.bytes));
  },
  open(m, message) {
    return m.open(message.name, new Uint8Array(message.bytes));
  },
  extract(m, message) {
    const result = m.extract(message.target);
    if (result.bytes) result.bytes = new Blob([result.bytes]);
    return result;
  },
};

onmessage = async (event) => {
  const message = event.data;
  try {
    const m = await modulePromise;
    postMessage({ id: message.id, result: handlers[message.kind](m, message) });
  } catch (e) {
    postMessage({ id: message.id, failed: String((e && e.message) || e) });
  }
};
