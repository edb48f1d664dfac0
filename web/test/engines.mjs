// The web page in the other engines: Debian's Firefox ESR, driven by
// puppeteer-core over WebDriver BiDi, and WebKitGTK's MiniBrowser, driven by
// WebKitWebDriver over plain WebDriver (run it under xvfb-run). In each, the
// sample, its PNG and a text file at several counts must give glyphor's
// message and bytes (the README's recipe's for the PNG). The bytes are read
// from the Blob the page offers: WebKitGTK loads no blob: URL from a script.
//
//   xvfb-run -a node engines.mjs PAGE BINDIR SAMPLE
import { execFileSync, spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { basename, join, resolve } from 'node:path';
import puppeteer from 'puppeteer-core';
import { checker, programs } from './programs.mjs';

const [pageFile, bin, sample] = process.argv.slice(2).map((path) => resolve(path));
const work = mkdtempSync(join(tmpdir(), 'glyphor-engines-'));
const { expectEqual, summary } = checker();
const { charsetName, glyphorRun, recipeRun } = programs(bin, work);

// In the page: drops a file of these bytes (base64) with this count, and
// gives back the message and what the page offers, its bytes read from the
// Blob behind the link.
const convertInPage = async (name, base64, count) => {
  const $ = (id) => document.getElementById(id);
  if (!window.offered) {
    const make = URL.createObjectURL;
    URL.createObjectURL = (blob) => {
      window.offered = { blob, url: make.call(URL, blob) };
      return window.offered.url;
    };
  }
  $('count').value = count;
  $('count').dispatchEvent(new Event('input'));
  $('message').value = '';
  const file = new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name);
  const drop = new Event('drop', { bubbles: true });
  Object.defineProperty(drop, 'dataTransfer', { value: { files: [file] } });
  document.dispatchEvent(drop);
  while ($('results').getAttribute('aria-busy') !== 'false' || $('message').value === '') {
    await new Promise((done) => { setTimeout(done, 10); });
  }
  const save = $('save');
  if (save.hidden) return { message: $('message').value, saved: 'none' };
  if (save.href !== window.offered.url) {
    return { message: $('message').value, saved: 'a stale link' };
  }
  const bytes = new Uint8Array(await window.offered.blob.arrayBuffer());
  const hex = Array.from(bytes, (byte) => byte.toString(16).padStart(2, '0')).join('');
  return { message: $('message').value, saved: `${save.download} ${hex}` };
};

execFileSync('convert', [sample, join(work, 'tileset.png')]);
writeFileSync(join(work, 'notes.txt'), 'Not a picture at all.\n');
const png = join(work, 'tileset.png');
const notes = join(work, 'notes.txt');
const cases = [[sample, '256', glyphorRun], [sample, '64', glyphorRun], [sample, '', glyphorRun],
               [sample, '257', glyphorRun], [png, '256', recipeRun], [png, '1', recipeRun],
               [notes, '256', glyphorRun]].map(([file, count, run]) => {
  const expected = run(file, count);
  const saved = expected.charset && expected.charset.length > 0
    ? `${charsetName(file)} ${expected.charset.toString('hex')}` : 'none';
  return { file, count, expected: { message: expected.message, saved } };
});

// Runs every case in an engine, given a way to run convertInPage in the page.
async function runCases(engine, convert) {
  for (const { file, count, expected } of cases) {
    const got = await convert(basename(file), readFileSync(file).toString('base64'), count);
    const what = `${engine}: ${basename(file)} with count ${JSON.stringify(count)}`;
    expectEqual(`${what}: message`, got.message, expected.message);
    expectEqual(`${what}: download's bytes`, got.saved, expected.saved);
  }
}

async function firefox() {
  const browser = await puppeteer.launch({ browser: 'firefox', headless: true,
                                           executablePath: '/usr/bin/firefox-esr' });
  try {
    const page = await browser.newPage();
    await page.goto(`file://${pageFile}`);
    await page.waitForSelector('body[data-ready="yes"]');
    await runCases('Firefox', (...args) => page.evaluate(convertInPage, ...args));
  } finally {
    await browser.close();
  }
}

// WebKitWebDriver on a free port, spoken to over HTTP.
async function webkit() {
  const port = await new Promise((done) => {
    const server = createServer().listen(0, '127.0.0.1', () => {
      const { port: free } = server.address();
      server.close(() => done(free));
    });
  });
  const driver = spawn('WebKitWebDriver', [`--port=${port}`], { stdio: 'ignore' });
  const base = `http://127.0.0.1:${port}`;
  const call = async (method, path, body) => {
    const response = await fetch(`${base}${path}`, {
      method, headers: { 'Content-Type': 'application/json' },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const { value } = await response.json();
    if (!response.ok) throw new Error(`WebDriver ${path}: ${JSON.stringify(value)}`);
    return value;
  };
  try {
    for (let tries = 0; ; tries += 1) {
      try {
        if ((await call('GET', '/status')).ready) break;
      } catch (error) {
        if (tries > 100) throw error;
      }
      await new Promise((done) => { setTimeout(done, 100); });
    }
    const { sessionId } = await call('POST', '/session', { capabilities: { alwaysMatch: {
      'webkitgtk:browserOptions': { args: ['--automation'] } } } });
    const session = `/session/${sessionId}`;
    try {
      await call('POST', `${session}/url`, { url: `file://${pageFile}` });
      const run = (script, args) => call('POST', `${session}/execute/async`, { script, args });
      await run('const done = arguments[0]; const ready = () => document.body.dataset.ready ' +
                "=== 'yes' ? done() : setTimeout(ready, 10); ready();", []);
      await runCases('WebKitGTK', (...args) => run(
        `const done = arguments[arguments.length - 1];
         (${convertInPage})(...Array.from(arguments).slice(0, -1)).then(done);`, args));
    } finally {
      await call('DELETE', session);
    }
  } finally {
    driver.kill();
  }
}

try {
  await firefox();
  await webkit();
} finally {
  rmSync(work, { recursive: true, force: true });
}
process.exit(summary('web, Firefox and WebKitGTK') ? 0 : 1);
