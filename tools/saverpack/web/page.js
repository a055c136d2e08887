// The page: the form and its live preview, making an installer in the
// worker with progress and Cancel, and opening an installer. The module runs
// only in the worker; this script sends it the form and files and shows
// what comes back.
"use strict";

const $ = (id) => document.getElementById(id);

// ---- The worker, made from the module and the worker's script in this page.

const workerUrl = URL.createObjectURL(
  new Blob([$("module-source").textContent, "\n", $("worker-source").textContent], {
    type: "text/javascript",
  })
);
let worker = null;
let ready = false; // the module in it runs
let failedStarts = 0; // one after another
let unusable = ""; // why the module cannot run in this browser at all
let nextId = 1;
const waiting = new Map(); // id -> {resolve, reject, progress}, sent to the worker
let unsent = []; // [message, transfer, {resolve, reject, progress}] until the worker is ready

function startWorker() {
  ready = false;
  worker = new Worker(workerUrl);
  worker.onmessage = (event) => {
    const { id, result, failed, progress } = event.data;
    if (event.data.ready) return workerReady(event.data.levels);
    if (event.data.startFailed !== undefined) return startFailed(event.data.startFailed);
    const w = waiting.get(id);
    if (!w) return;
    if (progress) return w.progress && w.progress(progress);
    waiting.delete(id);
    // The module cannot be trusted after a failure inside it: a new one,
    // and every request it held fails with it.
    if (failed === undefined) return w.resolve(result);
    restartWorker(new Error(failed));
    w.reject(new Error(failed));
  };
  worker.onerror = (event) => {
    event.preventDefault();
    const message = event.message || "the page's worker stopped";
    if (ready) restartWorker(new Error(message));
    else startFailed(message);
  };
}

// Every request the worker holds or will be sent, taken from it: to fail
// them, since the module that was to answer them is gone.
function takeHeld() {
  const held = [...waiting.values()].concat(unsent.map(([, , w]) => w));
  waiting.clear();
  unsent = [];
  return held;
}

function workerReady(levels) {
  ready = true;
  offerLevels(levels);
  failedStarts = 0;
  for (const [message, transfer, w] of unsent) {
    waiting.set(message.id, w);
    worker.postMessage(message, transfer);
  }
  unsent = [];
}

// A module that will not start is tried once more; then the page says it
// cannot run here rather than trying for ever.
function startFailed(why) {
  worker.terminate();
  if (++failedStarts < 2) return startWorker();
  unusable = "This page cannot run in this browser: its module does not start (" + why + ").";
  $("page-error").textContent = unusable + " saverpack, the command-line tool, makes the same installers.";
  $("page-error").hidden = false;
  $("make-button").disabled = true;
  for (const w of takeHeld()) w.reject(new Error(unusable));
}

// Ends the worker where it stands and starts a new one; what the old one
// held fails with `reason`. The installer it had open is opened again.
function restartWorker(reason) {
  worker.terminate();
  const held = takeHeld();
  startWorker();
  for (const w of held) w.reject(reason);
  if (opened.file) opened.reopened = reopenInstaller();
}

function ask(message, progress, transfer = []) {
  if (unusable) return Promise.reject(new Error(unusable));
  const id = nextId++;
  return new Promise((resolve, reject) => {
    const w = { resolve, reject, progress };
    message = Object.assign({ id }, message);
    if (!ready) return unsent.push([message, transfer, w]);
    waiting.set(id, w);
    worker.postMessage(message, transfer);
  });
}

startWorker();

// ---- The form.

// The module names the levels it offers, so the page offers no other; until
// it has, a request goes without one and gets the default.
function offerLevels(levels) {
  const select = $("level");
  if (select.options.length) return;
  for (const name of levels) select.add(new Option(name, name));
  select.selectedIndex = 0;
}

const form = { saver: null, data: null, files: [], icon: null };
const textInputs = ["title", "name", "version", "company", "description", "copyright"];
const errorPlaces = {
  saver: "saver", data: "data", files: "files", icon: "icon", title: "title", name: "name",
  version: "version", company: "company", description: "description", copyright: "copyright",
};
let nameFollowsTitle = true;

// The installer's name from its title: the letters, digits and the marks a
// file name takes everywhere, without blanks, and ".exe".
function nameFromTitle(title) {
  const base = title.replace(/[^A-Za-z0-9_\-]+/g, "");
  return base ? base + ".exe" : "";
}

// What the form holds, as the worker takes it. An empty optional text is
// not given, as an option left off the command line.
function formState() {
  const text = (id) => ($(id).value === "" ? null : $(id).value);
  return {
    out: $("name").value,
    title: $("title").value,
    saver: form.saver,
    data: form.data,
    files: form.files.slice(),
    icon: form.icon,
    level: $("level").value || null,
    productVersion: text("version"),
    company: text("company"),
    description: text("description"),
    copyright: text("copyright"),
  };
}

// A file's bytes, or a part of them (a Blob); a file the browser cannot
// read (gone, changed, or refused to the page) is named at its control.
async function bytesOf(part, file, input) {
  try {
    return await part.arrayBuffer();
  } catch (e) {
    throw { input, message: file.name + ": cannot read it: the browser could not read the file (" + ((e && e.name) || e) + "); choose it again" };
  }
}

// A file larger than this goes to the module in slices of it, each copied in
// there and let go before the next is read: the page never holds the whole
// file beside the module's copy, which would double what a large one takes.
const Slice = 8 << 20;
let nextReceived = 1;

async function sentInSlices(file, input) {
  const id = nextReceived++;
  for (let at = 0; at < file.size; at += Slice) {
    if (!making) throw new Error("cancelled");
    const bytes = await bytesOf(file.slice(at, at + Slice), file, input);
    const taken = await ask({ kind: "receive", file: id, size: file.size, bytes }, null, [bytes]);
    if (taken.error) throw taken.error;
  }
  return { name: file.name, received: id, size: file.size };
}

// A file as the worker takes it: its bytes, handed over rather than copied,
// or only its name and size for a preview.
async function filePart(file, withBytes, input, transfer, sliced = false) {
  if (!file) return null;
  if (!withBytes) return { name: file.name, size: file.size };
  if (sliced && file.size > Slice) return sentInSlices(file, input);
  const bytes = await bytesOf(file, file, input);
  transfer.push(bytes);
  return { name: file.name, bytes };
}

// The form with its files read: [request, the buffers to hand over]. The
// icon is read even for a preview: it is small, and what is wrong with it
// is best told at once.
async function requestOf(state, withBytes) {
  const transfer = [];
  const r = Object.assign({}, state);
  // All at once: the browser reads them side by side.
  [r.saver, r.data, r.icon, ...r.files] = await Promise.all([
    filePart(state.saver, withBytes, "saver", transfer, true),
    filePart(state.data, withBytes, "data", transfer, true),
    filePart(state.icon, true, "icon", transfer),
    ...state.files.map((f) => filePart(f, withBytes, "files", transfer, true)),
  ]);
  return [r, transfer];
}

// The preview clears only the inputs' errors: what the last attempt to
// make said (a failure, Cancelled) stays until the form changes.
function clearErrors(withMake = true) {
  for (const place of Object.values(errorPlaces)) showError(place, "");
  if (withMake) showError("make", "");
}

function showError(place, message) {
  const p = $(place + "-error");
  p.textContent = message;
  const input = $(place === "make" ? "make-button" : place);
  if (input && place !== "make") input.setAttribute("aria-invalid", message ? "true" : "false");
}

// What the core says is wrong with an input, in this page's words: the
// control it is shown beside names the input, so no option is named.
const missingWords = {
  data: "the more files come after the data file, which is always entry 1: choose a data file as well",
};

function worded(error) {
  if (error.fault === "missing") return missingWords[error.input] || error.message;
  if (error.fault === "text" && error.given != null) return error.given + ": " + error.message;
  return error.message;
}

// A failure from the core goes beside the input it is about; one about no
// input goes beside the button.
function showFailure(error) {
  showError(errorPlaces[error.input] || "make", worded(error));
}

function lines(list, items) {
  list.replaceChildren(...items.map((t) => Object.assign(document.createElement("li"), { textContent: t })));
}

// ---- The live preview: the installed names, the size and the user's texts.

let previewAsked = 0;
let previewTimer = 0;

function schedulePreview() {
  clearTimeout(previewTimer);
  previewTimer = setTimeout(updatePreview, 120);
}

async function updatePreview() {
  const asked = ++previewAsked;
  const state = formState();
  if (!state.saver) {
    clearErrors(false);
    $("preview-names").hidden = true;
    $("preview-empty").hidden = false;
    for (const id of ["preview-size", "preview-caption", "preview-caption-2", "preview-confirmation", "preview-completion"])
      $(id).textContent = "";
    lines($("preview-warnings"), []);
    return;
  }
  let result;
  try {
    const [request, transfer] = await requestOf(state, false);
    result = await ask({ kind: "preview", form: request }, null, transfer);
  } catch (e) {
    if (e.input !== undefined) {
      result = { error: e };
    } else {
      // A preview cancelled with the worker is asked again by Cancel itself.
      if (asked === previewAsked && e.message !== "cancelled")
        showError("make", "The page's module failed: " + e.message + ". Try again.");
      return;
    }
  }
  if (asked !== previewAsked) return;
  clearErrors(false);
  if (result.error) {
    showFailure(result.error);
    return;
  }
  const rows = result.entries.map((e) => {
    const row = document.createElement("tr");
    cell(row, e.place, "path");
    cell(row, e.shown);
    cell(row, e.sizeText, "n");
    return row;
  });
  $("preview-names").tBodies[0].replaceChildren(...rows);
  $("preview-names").hidden = false;
  $("preview-empty").hidden = true;
  $("preview-size").textContent = "Install size: " + result.installSizeText + " bytes";
  $("preview-caption").textContent = result.caption;
  $("preview-caption-2").textContent = result.caption;
  $("preview-confirmation").textContent = result.confirmation;
  $("preview-completion").textContent = result.completion.replace(/\r\n/g, "\n");
  lines($("preview-warnings"), result.warnings.map((w) => "Warning: " + w));
}

function chooseFile(input, file) {
  if (input === "files") form.files.push(file);
  else form[input] = file;
  if (input === "files") showFiles();
  hideResult();
  schedulePreview();
}

function showFiles() {
  const list = $("files-list");
  list.replaceChildren();
  form.files.forEach((file, i) => {
    const item = document.createElement("li");
    item.append(document.createTextNode(file.name + " "));
    const remove = document.createElement("button");
    remove.type = "button";
    remove.className = "small";
    remove.textContent = "Remove";
    remove.setAttribute("aria-label", "Remove " + file.name);
    remove.addEventListener("click", () => {
      form.files.splice(i, 1);
      showFiles();
      hideResult();
      schedulePreview();
      $("files").focus();
    });
    item.append(remove);
    list.append(item);
  });
}

for (const input of ["saver", "data", "icon"]) {
  $(input).addEventListener("change", () => chooseFile(input, $(input).files[0] || null));
}
$("files").addEventListener("change", () => {
  for (const f of $("files").files) form.files.push(f);
  $("files").value = "";
  showFiles();
  hideResult();
  schedulePreview();
});
$("title").addEventListener("input", () => {
  if (nameFollowsTitle) $("name").value = nameFromTitle($("title").value);
});
$("name").addEventListener("input", () => {
  nameFollowsTitle = $("name").value === "";
});
for (const id of textInputs.concat(["level"])) {
  $(id).addEventListener("input", () => {
    hideResult();
    schedulePreview();
  });
}

// Dropping a file on a field chooses it there; anywhere else on the page it
// is ignored rather than opened by the browser in place of the page.
for (const zone of document.querySelectorAll(".drop")) {
  const input = zone.dataset.input;
  zone.addEventListener("dragover", (e) => {
    e.preventDefault();
    zone.classList.add("over");
  });
  zone.addEventListener("dragleave", () => zone.classList.remove("over"));
  zone.addEventListener("drop", (e) => {
    e.preventDefault();
    e.stopPropagation();
    zone.classList.remove("over");
    const files = [...e.dataTransfer.files];
    if (!files.length) return;
    if (input === "files") return files.forEach((f) => chooseFile("files", f));
    // The control shows the file dropped on it, as if it had been chosen.
    if (files.length === 1) $(input).files = e.dataTransfer.files;
    if (input === "installer") openInstaller(files[0]);
    else chooseFile(input, files[0]);
  });
}
window.addEventListener("dragover", (e) => e.preventDefault());
window.addEventListener("drop", (e) => e.preventDefault());

// ---- Making the installer.

let downloadUrl = null;
let making = null; // the request's id while it runs

function hideResult() {
  showError("make", "");
  $("result").hidden = true;
  if (downloadUrl) URL.revokeObjectURL(downloadUrl);
  downloadUrl = null;
}

function showProgress(done, total) {
  $("bar").max = total || 1;
  $("bar").value = done;
  $("progress-text").textContent =
    done.toLocaleString("en-US") + " of " + total.toLocaleString("en-US") + " bytes";
}

$("form").addEventListener("submit", async (e) => {
  e.preventDefault();
  if (making) return;
  hideResult();
  clearErrors();
  const state = formState();
  if (!state.saver) {
    showError("saver", "choose the saver (the .scr file) first");
    $("saver").focus();
    return;
  }
  $("make-button").disabled = true;
  $("progress").hidden = false;
  showProgress(0, 0);
  $("cancel").focus();
  making = true;
  let result;
  try {
    const [request, transfer] = await requestOf(state, true);
    if (!making) throw new Error("cancelled");
    result = await ask({ kind: "make", form: request }, (p) => showProgress(p.done, p.total), transfer);
  } catch (err) {
    if (err.input !== undefined) result = { error: err };
    else if (err.message === "cancelled") result = { error: { input: "", message: "Cancelled: no installer was made." } };
    else if (unusable) result = { error: { input: "", message: unusable } };
    else result = { error: { input: "", message: "The page's module failed: " + err.message + ". The page has started it again; try once more." } };
  }
  making = false;
  $("progress").hidden = true;
  $("make-button").disabled = !!unusable;
  if (result.error) {
    showFailure(result.error);
    const place = errorPlaces[result.error.input];
    $(place || "make-button").focus();
    return;
  }
  downloadUrl = URL.createObjectURL(result.installer);
  const link = $("download");
  link.href = downloadUrl;
  link.download = state.out;
  link.textContent = "Download " + state.out + " (" + result.size.toLocaleString("en-US") + " bytes)";
  $("summary").textContent = result.summary;
  lines($("result-warnings"), result.warnings.map((w) => "Warning: " + w));
  $("result").hidden = false;
  link.focus();
});

// Cancel ends the worker where it stands: the module cannot be interrupted
// from outside, and a new one starts at once.
$("cancel").addEventListener("click", () => {
  if (!making) return;
  making = false;
  restartWorker(new Error("cancelled"));
  schedulePreview();
});

// ---- Opening an installer.

const openedUrls = [];
// The installer shown, kept so that a new module can open it again, and
// that opening, which an Extract must wait for: reading the file takes a
// while, and a request sent meanwhile would reach a module with nothing open.
const opened = { file: null, reopened: Promise.resolve() };

function forgetOpened() {
  while (openedUrls.length) URL.revokeObjectURL(openedUrls.pop());
  $("opened").hidden = true;
  opened.file = null;
}

// The installer's bytes, read by the page and handed to the module.
async function askOpen(file) {
  const transfer = [];
  const part = await filePart(file, true, "installer", transfer);
  return ask({ kind: "open", name: part.name, bytes: part.bytes }, null, transfer);
}

// After the module was started again, its Extract buttons need the
// installer open in it; if it cannot be, the view goes, with a word.
async function reopenInstaller() {
  const file = opened.file;
  let result;
  try {
    result = await askOpen(file);
  } catch (e) {
    result = { error: e };
  }
  if (opened.file !== file || !result.error) return;
  forgetOpened();
  showError("installer", file.name + ": the page had to start its module again and could not open it again; choose it again");
}

function cell(row, text, className) {
  const td = document.createElement("td");
  td.textContent = text;
  if (className) td.className = className;
  row.append(td);
  return td;
}

function factList(dl, pairs) {
  dl.replaceChildren();
  for (const [term, value] of pairs) {
    dl.append(Object.assign(document.createElement("dt"), { textContent: term }));
    dl.append(Object.assign(document.createElement("dd"), { textContent: value }));
  }
}

const thousands = (n) => n.toLocaleString("en-US");

async function openInstaller(file) {
  forgetOpened();
  showError("installer", "");
  if (!file) return;
  let result;
  try {
    result = await askOpen(file);
  } catch (err) {
    if (err.input !== undefined) showError("installer", err.message);
    else showError("installer", "The page's module failed: " + err.message + ". The page has started it again.");
    return;
  }
  if (result.error) {
    showError("installer", result.error.message);
    return;
  }
  opened.file = file;
  const list = JSON.parse(result.json);
  $("opened-title").textContent = list.title;
  $("opened-first").textContent = String(list.firstFileNumber);
  $("opened-size").textContent = list.totalInstallSizeText + " bytes";
  $("opened-signature").textContent = result.signed
    ? "It carries a signature (a certificate table); saverpack verify checks it."
    : "Not signed.";
  const extractable = new Map(result.extract.map((t) => [t.index, t]));
  const body = $("opened-entries").tBodies[0];
  body.replaceChildren();
  list.entries.forEach((e, i) => {
    const row = document.createElement("tr");
    cell(row, String(e.index));
    cell(row, result.places[i], "path");
    cell(row, thousands(e.fileOffset), "n");
    cell(row, thousands(e.storedSize), "n");
    cell(row, thousands(e.originalSize), "n");
    cell(row, e.method);
    cell(row, (100 * e.ratio).toFixed(1) + "%", "n");
    const target = extractable.get(e.index);
    const td = cell(row, "");
    if (target) {
      const button = document.createElement("button");
      button.type = "button";
      button.className = "small";
      const name = target.path.split("\\").pop();
      button.textContent = "Extract " + name;
      button.dataset.target = String(target.target);
      button.addEventListener("click", () => extractEntry(target, name, td));
      td.append(button);
    }
    body.append(row);
  });
  $("opened-extract-error").textContent = result.cannotExtract;
  const icons = $("opened-icons");
  icons.replaceChildren();
  list.icon.forEach((icon, i) => {
    const figure = document.createElement("figure");
    const bytes = result.icons[i];
    if (bytes) {
      const url = URL.createObjectURL(new Blob([bytes], { type: "image/x-icon" }));
      openedUrls.push(url);
      const img = document.createElement("img");
      img.src = url;
      img.width = icon.width;
      img.height = icon.height;
      img.alt = icon.width + "x" + icon.height + " icon image";
      figure.append(img);
    }
    const caption = icon.width + "x" + icon.height + " " + icon.bitCount + "-bit" +
      (icon.format === "png" ? " PNG" : "") + (icon.present ? "" : " (missing)");
    figure.append(Object.assign(document.createElement("figcaption"), { textContent: caption }));
    icons.append(figure);
  });
  if (!list.icon.length) icons.textContent = "(none)";
  const version = list.version
    ? [["file version", list.version.fileVersion], ["product version", list.version.productVersion]].concat(Object.entries(list.version.strings))
    : [["version", "(none)"]];
  factList($("opened-version"), version);
  if (!result.sound)
    showError("installer", file.name + ": the package has problems; the verdict below names them");
  $("opened-verdict").textContent = result.verdict;
  $("opened-verdict").className = "lines " + (result.sound ? "sound" : "unsound");
  $("opened-json").textContent = result.json;
  $("opened").hidden = false;
}

// An extracted file is offered as a download once it is unpacked.
async function extractEntry(target, name, td) {
  const file = opened.file;
  await opened.reopened;
  if (opened.file !== file) return; // it could not be opened again, or another was
  let result;
  try {
    result = await ask({ kind: "extract", target: target.target });
  } catch (err) {
    $("opened-extract-error").textContent = "The page's module failed: " + err.message + ". Open the installer again.";
    return;
  }
  if (result.error) {
    $("opened-extract-error").textContent = result.error.message;
    return;
  }
  const url = URL.createObjectURL(result.bytes);
  openedUrls.push(url);
  const link = document.createElement("a");
  link.href = url;
  link.download = name;
  link.textContent = "Download " + name;
  link.dataset.target = String(target.target);
  td.replaceChildren(link);
  link.focus();
}

$("installer").addEventListener("change", () => openInstaller($("installer").files[0] || null));
