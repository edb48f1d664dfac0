// The page in each browser the web stage drives, behind one interface: run(fn,
// ...args) runs a function in the page (arguments and result as JSON) and
// resolves to its result; load() opens the page from its file until its module
// is ready; saved() is the file the page's download gives; close() ends all.
// Chromium is Debian's, headless, with a fresh profile, no background
// connections and downloads into a folder; Firefox ESR is driven over
// WebDriver BiDi; WebKitGTK's MiniBrowser by WebKitWebDriver over plain
// WebDriver, where saved() reads the Blob behind the link, as WebKitGTK loads
// no blob: URL from a script.
import { spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import puppeteer from 'puppeteer-core';

// In the page: resolves once its module is ready for a file.
async function whenReady() {
  while (document.body?.dataset.ready !== 'yes') {
    await new Promise((done) => { setTimeout(done, 10); });
  }
}

// In the page: from now on, keeps the Blob behind each link the page makes.
function keepOffers() {
  const make = URL.createObjectURL;
  URL.createObjectURL = (blob) => {
    window.offered = { blob, url: make.call(URL, blob) };
    return window.offered.url;
  };
}
// In the page: the name and bytes the download link offers, from its Blob.
async function readOffer() {
  const save = document.getElementById('save');
  if (save.href !== window.offered?.url) return { name: 'a stale link', bytes: [] };
  const bytes = new Uint8Array(await window.offered.blob.arrayBuffer());
  return { name: save.download, bytes: [...bytes] };
}

// The interface over an engine's page, given run and go (to an address); the
// download's bytes from the Blob behind the link unless saveAs saves them as a
// user does.
function driverOf(file, { run, go, saveAs, ...rest }) {
  return {
    ...rest,
    run,
    async load() {
      await go(`file://${file}`);
      await run(whenReady);
      if (!saveAs) await run(keepOffers);
    },
    saved: () => (saveAs ? saveAs() : run(readOffer)),
  };
}
// The driver over a puppeteer page, its file chooser used as a user does.
const onPage = (file, page, saveAs) => driverOf(file, {
  page,
  run: (fn, ...args) => page.evaluate(fn, ...args),
  go: (address) => page.goto(address),
  saveAs: saveAs && (() => saveAs(page)),
  choose: async (path) => (await page.$('#file')).uploadFile(path),
});
// Loads the page; resolves to the driver, or closes it on failure.
async function opened(driver) {
  try {
    await driver.load();
    return driver;
  } catch (error) {
    await driver.close();
    throw error;
  }
}

export async function chromium(file) {
  const profile = mkdtempSync(join(tmpdir(), 'glyphor-chromium-'));
  const downloads = join(profile, 'downloads');
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           `--user-data-dir=${profile}`],
  });
  const cdp = await browser.target().createCDPSession();
  // Saves the download as a user's click does, into a folder of its own (none
  // removed while the browser may still be at work in it); the file it saved.
  let saves = 0;
  const saveAs = async (page) => {
    const folder = join(downloads, String(saves += 1));
    await cdp.send('Browser.setDownloadBehavior',
                   { behavior: 'allow', downloadPath: folder, eventsEnabled: true });
    const done = new Promise((finish) => {
      cdp.on('Browser.downloadProgress', function progress(event) {
        if (event.state === 'inProgress') return;
        cdp.off('Browser.downloadProgress', progress);
        finish(event.state);
      });
    });
    // Chromium drops a click's download unsaid after many in a short time: the
    // click is made again, a second later, until a download begins.
    let began = false;
    const begin = () => { began = true; };
    cdp.on('Browser.downloadWillBegin', begin);
    for (let tries = 0; !began && tries < 10; tries += 1) {
      await page.click('#save');
      for (let wait = 0; !began && wait < 20; wait += 1) {
        await new Promise((d) => { setTimeout(d, 50); });
      }
    }
    cdp.off('Browser.downloadWillBegin', begin);
    if (!began || await done !== 'completed') return { name: 'a download canceled', bytes: [] };
    const [name] = readdirSync(folder);
    return { name, bytes: readFileSync(join(folder, name)) };
  };
  return opened({
    ...onPage(file, await browser.newPage(), saveAs),
    browser,
    on: (page) => onPage(file, page, saveAs),
    async close() {
      await browser.close();
      rmSync(profile, { recursive: true, force: true });
    },
  });
}

export async function firefox(file) {
  const browser = await puppeteer.launch({ browser: 'firefox', headless: true,
                                           executablePath: '/usr/bin/firefox-esr' });
  return opened({ ...onPage(file, await browser.newPage()), close: () => browser.close() });
}

// WebKitWebDriver on a free port, spoken to over HTTP.
export async function webkit(file) {
  const port = await new Promise((done) => {
    const server = createServer().listen(0, '127.0.0.1', () => {
      const { port: free } = server.address();
      server.close(() => done(free));
    });
  });
  const server = spawn('WebKitWebDriver', [`--port=${port}`], { stdio: 'ignore' });
  const call = async (method, path, body) => {
    const response = await fetch(`http://127.0.0.1:${port}${path}`, {
      method, headers: { 'Content-Type': 'application/json' },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const { value } = await response.json();
    if (!response.ok) throw new Error(`WebDriver ${path}: ${JSON.stringify(value)}`);
    return value;
  };
  // A session once the driver answers.
  let session = '';
  for (let tries = 0; session === ''; tries += 1) {
    try {
      const { sessionId } = await call('POST', '/session', { capabilities: { alwaysMatch: {
        'webkitgtk:browserOptions': { args: ['--automation'] } } } });
      session = `/session/${sessionId}`;
    } catch (error) {
      if (tries > 100) {
        server.kill();
        throw error;
      }
      await new Promise((done) => { setTimeout(done, 100); });
    }
  }
  return opened(driverOf(file, {
    run: (fn, ...args) => call('POST', `${session}/execute/async`, { args, script:
      `const done = arguments[arguments.length - 1];
       Promise.resolve((${fn})(...Array.from(arguments).slice(0, -1))).then(done);` }),
    go: (url) => call('POST', `${session}/url`, { url }),
    async close() {
      await call('DELETE', session);
      server.kill();
    },
  }));
}

// In the page: types into a field, as a user's edit does.
export function typeIn(id, value) {
  const field = document.getElementById(id);
  field.value = value;
  field.dispatchEvent(new Event('input'));
}
// In the page: resolves once it shows the outcome of the last file (named, if given).
export async function settled(name = '') {
  const $ = (id) => document.getElementById(id);
  while ($('results').getAttribute('aria-busy') !== 'false' || $('message').value === '' ||
         (name !== '' && $('source').textContent !== name)) {
    await new Promise((done) => { setTimeout(done, 10); });
  }
}
// In the page: drops a file of these bytes, as a user's drop does. Its reading
// may instead fail ('gone', a file removed since), take some ms, or wait for
// window.release() ('held'), as a large file's does; the drop's data is then a
// plain object, as a browser's own would not keep the file's changed reader.
// 'drop+' drops another file with it; 'over' holds it over the page.
function dropFile(fileName, content, how) {
  const file = new File([new Uint8Array(content)], fileName);
  if (['drop', 'drop+', 'over'].includes(how)) {
    const transfer = new DataTransfer();
    transfer.items.add(file);
    if (how === 'drop+') transfer.items.add(new File([], 'another.bmp'));
    return document.body.dispatchEvent(new DragEvent(how === 'over' ? 'dragenter' : 'drop',
                                                     { dataTransfer: transfer, bubbles: true }));
  }
  const read = how === 'gone'
    ? () => Promise.reject(new DOMException('gone', 'NotReadableError'))
    : file.arrayBuffer.bind(file);
  const until = new Promise((done) => {
    if (how === 'held') window.release = done;
    else setTimeout(done, how === 'gone' ? 0 : how);
  });
  file.arrayBuffer = () => until.then(read);
  const drop = new Event('drop', { bubbles: true });
  Object.defineProperty(drop, 'dataTransfer', { value: { files: [file] } });
  return document.dispatchEvent(drop);
}

// Gives the page a file: chosen (the chooser takes the same file again as a
// new choice, as a user's second choice is), or dropped with its reading as
// dropFile takes it; then waits for its outcome, unless the reading is slow.
export async function give(driver, file, how = 'choose') {
  const waits = !['held', 'over'].includes(how) && (typeof how !== 'number' || how === 0);
  await driver.run((clear) => {
    document.getElementById('file').value = '';
    if (clear) document.getElementById('message').value = '';
  }, waits);
  if (how === 'choose') await driver.choose(file);
  else await driver.run(dropFile, basename(file), [...readFileSync(file)], how);
  if (waits) await driver.run(settled, basename(file));
}

// In the page: a picture's pixels, none when it is hidden.
export const canvasPixels = (id) => {
  const canvas = document.getElementById(id);
  return canvas.hidden ? [] : [...canvas.getContext('2d').getImageData(0, 0, 256, 64).data];
};

// The page converts a file, chosen or dropped, with this count and load
// address: its message, the file its download saves (null when it offers
// none) and its preview.
export async function pageRun(driver, file, count, how = 'choose', address = '') {
  await driver.run(typeIn, 'address', address);
  await driver.run(typeIn, 'count', count);
  await give(driver, file, how);
  const [message, offered] = await driver.run(() => [document.getElementById('message').value,
                                                     !document.getElementById('save').hidden]);
  const saved = offered ? await driver.saved() : null;
  return { message, saved, preview: await driver.run(canvasPixels, 'preview') };
}
