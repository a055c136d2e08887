// The page's worker: the module lives here, so that making an installer
// never stops the page. It answers each message {id, kind, ...} with
// {id, result} or {id, failed}, and sends {id, progress} meanwhile.
"use strict";

// The module's code is in this script, and would still ask fetch() for it:
// without fetch it decodes its own bytes, and no request is even tried.
const fetch = undefined;

const modulePromise = SaverpackModule();

// A file from the page as the bridge takes it: its bytes, or only its size.
async function filePart(file, withBytes, input) {
  if (!file) return null;
  if (!withBytes) return { name: file.name, size: file.size };
  let buffer;
  try {
    buffer = await file.arrayBuffer();
  } catch (e) {
    throw { input, message: file.name + ": cannot read it: the browser gives this page too little memory for it, or the file is gone" };
  }
  return { name: file.name, bytes: new Uint8Array(buffer) };
}

async function requestOf(form, withBytes) {
  const r = Object.assign({}, form);
  r.saver = (await filePart(form.saver, withBytes, "saver")) || { name: "", size: 0 };
  r.data = await filePart(form.data, withBytes, "data");
  r.files = [];
  for (const f of form.files) r.files.push(await filePart(f, withBytes, "files"));
  // The icon is read whole even for a preview: it is small, and what is
  // wrong with it is best told at once.
  r.icon = await filePart(form.icon, true, "icon");
  return r;
}

// Bytes from the module's memory, copied out before the next call reuses it.
function copied(view) {
  return view ? view.slice() : view;
}

const handlers = {
  async preview(m, message) {
    return m.preview(await requestOf(message.form, false));
  },
  async make(m, message) {
    const request = await requestOf(message.form, true);
    let last = 0;
    const result = m.make(request, (done, total) => {
      const now = Date.now();
      if (now - last > 50 || done === total) {
        last = now;
        postMessage({ id: message.id, progress: { done, total } });
      }
    });
    result.installer = copied(result.installer);
    return result;
  },
  async open(m, message) {
    const bytes = new Uint8Array(await message.file.arrayBuffer());
    return m.open(message.file.name, bytes);
  },
  async extract(m, message) {
    const result = m.extract(message.target);
    result.bytes = copied(result.bytes);
    return result;
  },
};

onmessage = async (event) => {
  const message = event.data;
  try {
    const m = await modulePromise;
    const result = await handlers[message.kind](m, message);
    const transfer = [];
    if (result.installer) transfer.push(result.installer.buffer);
    if (result.bytes) transfer.push(result.bytes.buffer);
    postMessage({ id: message.id, result }, transfer);
  } catch (e) {
    if (e && e.input !== undefined) {
      postMessage({ id: message.id, result: { error: e } });
    } else {
      postMessage({ id: message.id, failed: String((e && e.message) || e) });
    }
  }
};
