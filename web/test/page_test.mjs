// The web page in a real browser: Debian's chromium, headless. For every
// tileset case of the command-line suite, every kind of image the page takes,
// and the ways a file reaches it, the page's message, download and pictures
// must be what glyphor, the README's ImageMagick recipe and glyphor-preview
// give for the same file.
//
//   node page_test.mjs PAGE BINDIR CASES
//
// PAGE is glyphor.html, BINDIR holds glyphor and glyphor-preview, CASES the
// files and cases.json that make_cases wrote. ImageMagick's convert makes the
// images and runs the recipe.
import { execFileSync, spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join, resolve } from 'node:path';
import { deflateSync } from 'node:zlib';
import { dropFile, openBrowser, openPage } from './browser.mjs';

const [pageFile, bin, casesDir] = process.argv.slice(2).map((path) => resolve(path));
const glyphor = join(bin, 'glyphor');
const work = mkdtempSync(join(tmpdir(), 'glyphor-web-'));
const downloads = join(work, 'downloads');
let failures = 0;
let checks = 0;

function expectEqual(what, actual, expected) {
  checks += 1;
  if (Buffer.compare(Buffer.from(actual), Buffer.from(expected)) === 0) return true;
  failures += 1;
  console.log(`FAIL ${what}\n  page:     ${JSON.stringify(String(actual)).slice(0, 300)}` +
              `\n  expected: ${JSON.stringify(String(expected)).slice(0, 300)}`);
  return false;
}

// The name the page gives the charset of a file: its extension replaced by .bin.
const charsetName = (file) => `${basename(file).replace(/(.)\.[^.]*$/, '$1')}.bin`;

// What glyphor prints after its banner, and the charset it writes (null for none).
function programRun(command, output) {
  rmSync(join(work, output), { force: true });
  const run = spawnSync('sh', ['-c', command], { cwd: work, encoding: 'utf8' });
  const afterBanner = run.stdout.split('--------------------------------------------\n\n')[1];
  const file = join(work, output);
  return { message: afterBanner, charset: existsSync(file) ? readFileSync(file) : null };
}
const shellWord = (text) => `'${text.replaceAll("'", "'\\''")}'`;
const glyphorRun = (file, count) => programRun(
  `${shellWord(glyphor)} ${shellWord(file)} ${shellWord(charsetName(file))} ${shellWord(count)}`,
  charsetName(file));
// The README's recipe for PNG art, and glyphor after it.
const recipeRun = (file, count) => programRun(
  `convert ${shellWord(file)} -background black -alpha remove -type truecolor bmp:- | ` +
  `${shellWord(glyphor)} /dev/stdin ${shellWord(charsetName(file))} ${shellWord(count)}`,
  charsetName(file));

// A 256x64, 24-bit BMP's pixels as red, green, blue, alpha, top row first.
function bmpPixels(bmp) {
  const offset = bmp.readUInt32LE(10);
  const height = bmp.readInt32LE(22);
  const pixels = Buffer.alloc(256 * 64 * 4);
  for (let y = 0; y < 64; y += 1) {
    const row = offset + (height > 0 ? 63 - y : y) * 768;
    for (let x = 0; x < 256; x += 1) {
      const at = (y * 256 + x) * 4;
      pixels[at] = bmp[row + x * 3 + 2];
      pixels[at + 1] = bmp[row + x * 3 + 1];
      pixels[at + 2] = bmp[row + x * 3];
      pixels[at + 3] = 255;
    }
  }
  return pixels;
}
const canvasPixels = (page, id) => page.$eval(`#${id}`, (canvas) => (canvas.hidden ? [] :
  [...canvas.getContext('2d').getImageData(0, 0, 256, 64).data]));

// glyphor-preview's picture of a charset file.
function previewPicture(charset) {
  const file = join(work, 'preview-input.bin');
  writeFileSync(file, charset);
  execFileSync(join(bin, 'glyphor-preview'), [file, join(work, 'preview.bmp')], { stdio: 'ignore' });
  return bmpPixels(readFileSync(join(work, 'preview.bmp')));
}

// The page converts a file, chosen or dropped, with this count: its message,
// the file its download saves (null when it offers none) and its preview.
async function pageRun(page, cdp, file, count, how = 'choose') {
  await page.$eval('#count', (field, text) => {
    field.value = text;
    field.dispatchEvent(new Event('input'));
  }, count);
  // The chooser takes the same file again as a new choice, as a user's second choice is.
  await page.$eval('#file', (chooser) => { chooser.value = ''; });
  await page.$eval('#message', (message) => { message.value = ''; });
  if (how === 'drop') {
    await dropFile(page, basename(file), readFileSync(file));
  } else {
    await (await page.$('#file')).uploadFile(file);
  }
  await page.waitForFunction(() => document.getElementById('message').value !== '');
  const message = await page.$eval('#message', (output) => output.value);
  const offered = await page.$eval('#save', (link) => !link.hidden);
  let saved = null;
  if (offered) {
    rmSync(downloads, { recursive: true, force: true });
    const done = new Promise((finish) => {
      const progress = (event) => {
        if (event.state !== 'completed') return;
        cdp.off('Browser.downloadProgress', progress);
        finish();
      };
      cdp.on('Browser.downloadProgress', progress);
    });
    await page.click('#save');
    await done;
    const [name] = readdirSync(downloads);
    saved = { name, bytes: readFileSync(join(downloads, name)) };
  }
  return { message, saved, preview: await canvasPixels(page, 'preview') };
}

// The page's outcome against the program's for one file.
async function compare(page, cdp, what, file, count, expected, how) {
  const got = await pageRun(page, cdp, file, count, how);
  expectEqual(`${what}: message`, got.message, expected.message);
  if (expected.charset === null) {
    expectEqual(`${what}: no download`, got.saved === null ? 'none' : got.saved.name, 'none');
    return;
  }
  if (!expectEqual(`${what}: a download`, got.saved === null ? 'none' : 'one', 'one')) return;
  expectEqual(`${what}: the download's name`, got.saved.name, charsetName(file));
  expectEqual(`${what}: the download's bytes`, got.saved.bytes, expected.charset);
  expectEqual(`${what}: the preview's pixels`, got.preview, previewPicture(expected.charset));
}

// A PNG with these chunks put in after its header chunk.
function crc32(bytes) {
  let crc = 0xFFFFFFFF;
  for (const byte of bytes) {
    crc ^= byte;
    for (let bit = 0; bit < 8; bit += 1) crc = (crc >>> 1) ^ (0xEDB88320 & -(crc & 1));
  }
  return (crc ^ 0xFFFFFFFF) >>> 0;
}
function chunk(type, data) {
  const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
  const framed = Buffer.alloc(body.length + 8);
  framed.writeUInt32BE(data.length, 0);
  body.copy(framed, 4);
  framed.writeUInt32BE(crc32(body), body.length + 4);
  return framed;
}
// A PNG without its colour chunks (gAMA, cHRM, sRGB, iCCP) and with these
// put in after its header chunk instead.
function withChunks(png, ...chunks) {
  const kept = [png.subarray(0, 8)];
  for (let at = 8; at < png.length;) {
    const end = at + 12 + png.readUInt32BE(at);
    const type = png.toString('latin1', at + 4, at + 8);
    if (!['gAMA', 'cHRM', 'sRGB', 'iCCP'].includes(type)) kept.push(png.subarray(at, end));
    if (type === 'IHDR') kept.push(...chunks);
    at = end;
  }
  return Buffer.concat(kept);
}
// An RGBA PNG of a BMP's pixels, every alpha from 0 to 255 across it.
function withAlpha(bmp) {
  const pixels = bmpPixels(bmp);
  const rows = Buffer.alloc(64 * (1 + 256 * 4));
  for (let y = 0; y < 64; y += 1) {
    for (let x = 0; x < 256; x += 1) {
      const at = y * (1 + 1024) + 1 + x * 4;
      pixels.copy(rows, at, (y * 256 + x) * 4, (y * 256 + x) * 4 + 3);
      rows[at + 3] = (x * 7 + y * 13) % 256;
    }
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(256, 0);
  header.writeUInt32BE(64, 4);
  header.set([8, 6, 0, 0, 0], 8);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A]),
                        chunk('IHDR', header), chunk('IDAT', deflateSync(rows)),
                        chunk('IEND', Buffer.alloc(0))]);
}

const { browser, close } = await openBrowser();
try {
  const cdp = await browser.target().createCDPSession();
  await cdp.send('Browser.setDownloadBehavior',
                 { behavior: 'allow', downloadPath: downloads, eventsEnabled: true });
  const page = await openPage(browser, pageFile);
  page.on('pageerror', (error) => expectEqual('an error in the page', error.message, ''));

  // Every tileset case of the command-line suite, chosen with the file chooser.
  const cases = JSON.parse(readFileSync(join(casesDir, 'cases.json'), 'utf8'));
  for (const { file, count } of cases) {
    const path = join(casesDir, file);
    await compare(page, cdp, `${file} with count ${JSON.stringify(count)}`, path, count,
                  glyphorRun(path, count));
  }
  const sample = resolve('examples/tileset.bmp');
  await compare(page, cdp, 'the sample, dropped', sample, '256', glyphorRun(sample, '256'), 'drop');
  expectEqual('the sample: the tileset as shown', await canvasPixels(page, 'tileset'),
              bmpPixels(readFileSync(sample)));

  // Images the browser decodes, against the README's recipe for them.
  const near = join(casesDir, 'near.bmp');
  const convert = (...args) => execFileSync('convert', args, { cwd: work });
  convert(near, 'near.png');
  const nearPng = readFileSync(join(work, 'near.png'));
  // near.png holds the gamma and chromaticity chunks ImageMagick writes (gamma
  // 1/2.2); profile.png an L* profile instead. Either, applied, moves pixels
  // across the threshold. (For a gamma other than 1/2.2 ImageMagick takes the
  // pixels as linear and makes them sRGB: its recipe is colour-managed there.)
  const profile = readFileSync('/usr/share/color/icc/LStar-RGB.icc');
  writeFileSync(join(work, 'profile.png'), withChunks(nearPng, chunk('iCCP', Buffer.concat([
    Buffer.from('LStar-RGB\0\0', 'latin1'), deflateSync(profile)]))));
  writeFileSync(join(work, 'alpha.png'), withAlpha(readFileSync(near)));
  convert(sample, 'png8:palette.png');
  convert(sample, '-alpha', 'set', '-channel', 'RGBA', '-fill', '#FFFFFF00', '-opaque', 'black',
          '+channel', 'png8:palette-alpha.png');
  convert(sample, 'tiles.gif');
  convert(near, '-define', 'webp:lossless=true', 'near.webp');
  convert(near, '-crop', '128x64+0+0', '+repage', 'narrow.png');
  writeFileSync(join(work, 'notes.txt'), 'Not a picture at all.\n');
  for (const [file, how] of [['near.png'], ['profile.png'], ['alpha.png', 'drop'],
                             ['palette.png'], ['palette-alpha.png'], ['tiles.gif'], ['near.webp'],
                             ['narrow.png']]) {
    const path = join(work, file);
    await compare(page, cdp, `${file}${how ? ', dropped' : ''}`, path, '256',
                  recipeRun(path, '256'), how);
  }
  // A file the browser cannot read (gone since it was chosen): glyphor's
  // message for a file it cannot open.
  await page.$eval('#message', (message) => { message.value = ''; });
  await page.evaluate(() => {
    const gone = new File([], 'gone.bmp');
    gone.arrayBuffer = () => Promise.reject(new DOMException('gone', 'NotReadableError'));
    const transfer = { files: [gone] };
    const drop = new Event('drop', { bubbles: true });
    Object.defineProperty(drop, 'dataTransfer', { value: transfer });
    document.dispatchEvent(drop);
  });
  await page.waitForFunction(() => document.getElementById('message').value !== '');
  expectEqual('a file that cannot be read: message',
              await page.$eval('#message', (output) => output.value),
              programRun(`${shellWord(glyphor)} gone.bmp gone.bin`, 'gone.bin').message);
  const notes = join(work, 'notes.txt');
  await compare(page, cdp, 'a text file', notes, '256', glyphorRun(notes, '256'));

  // By keyboard alone: the file chooser, the count field, the download.
  const focused = () => page.evaluate(() => document.activeElement.id);
  await page.reload();
  await page.waitForSelector('body[data-ready="yes"]');
  const order = [];
  for (let step = 0; step < 2; step += 1) {
    await page.keyboard.press('Tab');
    order.push(await focused());
  }
  await (await page.$('#file')).uploadFile(sample);
  await page.waitForFunction(() => document.getElementById('message').value !== '');
  await page.keyboard.down('Control');
  await page.keyboard.press('KeyA');
  await page.keyboard.up('Control');
  await page.keyboard.type('64');
  await page.keyboard.press('Tab');
  order.push(await focused());
  expectEqual('Tab goes to the file, the count and the download', order.join(' '),
              'file count save');
  expectEqual('the count typed in', await page.$eval('#message', (output) => output.value),
              glyphorRun(sample, '64').message);
  // 320 pixels wide: nothing reaches past the window's edge.
  await page.setViewport({ width: 320, height: 640 });
  await page.evaluate(() => window.dispatchEvent(new Event('resize')));
  expectEqual('the page at 320 pixels wide',
              String(await page.evaluate(() => document.documentElement.scrollWidth)), '320');
  expectEqual('the message is announced',
              await page.$eval('#message', (output) => output.getAttribute('aria-live')), 'polite');
  await page.close();

  // From its file, offline and with every other request refused: the page
  // asks for nothing but itself, converting and saving included.
  const quiet = await browser.newPage();
  await quiet.setOfflineMode(true);
  await quiet.setRequestInterception(true);
  const asked = [];
  quiet.on('request', (request) => {
    if (request.url() === `file://${pageFile}`) return request.continue();
    asked.push(request.url());
    return request.abort();
  });
  await quiet.goto(`file://${pageFile}`);
  await quiet.waitForSelector('body[data-ready="yes"]');
  await compare(quiet, cdp, 'offline', sample, '256', glyphorRun(sample, '256'));
  expectEqual('requests besides the page', asked.join(' '), '');
} finally {
  await close();
  rmSync(work, { recursive: true, force: true });
}
console.log(`web: ${checks} checks, ${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
