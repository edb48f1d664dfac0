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
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join, resolve } from 'node:path';
import { deflateSync } from 'node:zlib';
import { dropFile, openBrowser, openPage } from './browser.mjs';
import { checker, programs } from './programs.mjs';

const [pageFile, bin, casesDir] = process.argv.slice(2).map((path) => resolve(path));
const glyphor = join(bin, 'glyphor');
const work = mkdtempSync(join(tmpdir(), 'glyphor-web-'));
const downloads = join(work, 'downloads');
const { expectEqual, summary } = checker();
const { charsetName, programRun, shellWord, glyphorRun, recipeRun } = programs(bin, work);
// Writes a file of these bytes into the work folder; gives its path.
const put = (file, bytes) => {
  writeFileSync(join(work, file), bytes);
  return join(work, file);
};

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
  const file = put('preview-input.bin', charset);
  execFileSync(join(bin, 'glyphor-preview'), [file, join(work, 'preview.bmp')], { stdio: 'ignore' });
  return bmpPixels(readFileSync(join(work, 'preview.bmp')));
}

// The page converts a file, chosen or dropped, with this count: its message,
// the file its download saves (null when it offers none) and its preview.
async function pageRun(page, cdp, file, count, how = 'choose', address = '') {
  await type(page, 'address', address);
  await type(page, 'count', count);
  await give(page, file, how);
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

const reload = async (page) => {
  await page.reload();
  await page.waitForSelector('body[data-ready="yes"]');
};
// Types into a field, as a user's edit does.
const type = (page, id, value) => page.$eval(`#${id}`, (field, text) => {
  field.value = text;
  field.dispatchEvent(new Event('input'));
}, value);
// Waits until the page has shown the outcome of the last file (named, if given).
const settled = (page, name = '') => page.waitForFunction((fileName) =>
  document.getElementById('results').getAttribute('aria-busy') === 'false' &&
  document.getElementById('message').value !== '' &&
  (fileName === '' || document.getElementById('source').textContent === fileName), {}, name);
// Gives the page a file: chosen (the chooser takes the same file again as a
// new choice, as a user's second choice is), or dropped with its reading as
// dropFile takes it; then waits for its outcome, unless the reading is slow.
async function give(page, file, how = 'choose') {
  const waits = how !== 'held' && typeof how !== 'number';
  await page.$eval('#file', (chooser) => { chooser.value = ''; });
  if (waits) await page.$eval('#message', (message) => { message.value = ''; });
  if (how === 'choose') await (await page.$('#file')).uploadFile(file);
  else await dropFile(page, basename(file), readFileSync(file), how);
  if (how === 'held') await page.waitForFunction(() => window.release !== undefined);
  if (waits) await settled(page, basename(file));
}
// What the page shows: the parts on screen (a hidden one takes no room), the
// texts and the states it tells assistive technology: the French messages as
// French and announced, what the pictures show, and the hatching explained.
const pageState = (page) => page.evaluate(() => {
  const $ = (id) => document.getElementById(id);
  const parts = ['working', 'source-line', 'save', 'pictures', 'tileset', 'preview',
                 'address-error', 'tile'];
  return {
    shown: parts.filter((id) => $(id).getBoundingClientRect().height > 0).join(' '),
    message: $('message').value,
    source: $('source').textContent,
    field: $('file').files[0]?.name ?? '',
    busy: $('results').getAttribute('aria-busy'),
    working: $('working').textContent,
    count: $('count').getAttribute('aria-invalid'),
    address: $('address').getAttribute('aria-invalid'),
    error: $('address-error').textContent,
    tile: $('tile').textContent,
    told: [$('message').closest('[lang]').lang, $('message').getAttribute('aria-live'),
           document.querySelectorAll('figcaption')[1].textContent].join(' / '),
    names: ['tileset', 'preview'].map((id) => $(id).getAttribute('aria-label')).join(' / '),
  };
});
// A PNG or GIF that says it is 40000x40000 pixels, too big for a browser.
function hugeImage(kind) {
  if (kind === 'gif') {
    return Buffer.from([0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x40, 0x9C, 0x40, 0x9C, 0, 0, 0,
                        0x2C, 0, 0, 0, 0, 0x40, 0x9C, 0x40, 0x9C, 0, 2, 2, 0x4C, 1, 0, 0x3B]);
  }
  return png(40000, 40000, 2, Buffer.alloc(120001));
}
// The relative luminance of a CSS rgb() colour, and the contrast of two.
const luminance = (colour) => {
  const [r, g, b] = colour.match(/[\d.]+/g).slice(0, 3).map((part) => {
    const c = Number(part) / 255;
    return c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
  });
  return 0.2126 * r + 0.7152 * g + 0.0722 * b;
};
const contrast = (one, two) => {
  const [light, dark] = [luminance(one), luminance(two)].sort((a, b) => b - a);
  return (light + 0.05) / (dark + 0.05);
};

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
// An 8-bit PNG of this size, colour type and rows (each a filter byte first).
function png(width, height, colourType, rows) {
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, colourType, 0, 0, 0], 8);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A]),
                        chunk('IHDR', header), chunk('IDAT', deflateSync(rows)),
                        chunk('IEND', Buffer.alloc(0))]);
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
  return png(256, 64, 6, rows);
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
  put('profile.png', withChunks(nearPng, chunk('iCCP', Buffer.concat([
    Buffer.from('LStar-RGB\0\0', 'latin1'), deflateSync(profile)]))));
  put('alpha.png', withAlpha(readFileSync(near)));
  convert(sample, 'png8:palette.png');
  convert(sample, '-alpha', 'set', '-channel', 'RGBA', '-fill', '#FFFFFF00', '-opaque', 'black',
          '+channel', 'png8:palette-alpha.png');
  convert(sample, 'tiles.gif');
  convert(near, '-define', 'webp:lossless=true', 'near.webp');
  convert(near, '-crop', '128x64+0+0', '+repage', 'narrow.png');
  const notes = put('notes.txt', 'Not a picture at all.\n');
  for (const [file, how, run = recipeRun] of [
    ['near.png'], ['profile.png'], ['alpha.png', 'drop'], ['palette.png'], ['palette-alpha.png'],
    ['tiles.gif'], ['near.webp'], ['narrow.png'], ['notes.txt', 'choose', glyphorRun]]) {
    const path = join(work, file);
    await compare(page, cdp, `${file}${how === 'drop' ? ', dropped' : ''}`, path, '256',
                  run(path, '256'), how);
  }
  // A file the browser cannot read (gone since it was chosen): glyphor's
  // message for a file it cannot open.
  const cannotOpen = programRun(`${shellWord(glyphor)} gone.bmp gone.bin`, 'gone.bin').message;
  expectEqual('a file that cannot be read: message',
              (await pageRun(page, cdp, put('gone.bmp', ''), '256', 'gone')).message, cannotOpen);

  // What the page shows after these steps, each from a fresh page: the last
  // file's outcome and nothing that a mistake or a newer file replaced.
  const choose = (file) => (page) => give(page, file);
  const drop = (file, reading = 'drop') => (page) => give(page, file, reading);
  const release = async (page) => {
    await page.evaluate(() => window.release());
    await settled(page);
  };
  const field = (id, value) => (page) => type(page, id, value);
  const sleep = (ms) => () => new Promise((done) => { setTimeout(done, ms); });
  // The sample's header, saying 40000x40000 pixels, and nothing after it.
  const bmpHeader = Buffer.from(readFileSync(sample).subarray(0, 54));
  bmpHeader.writeInt32LE(40000, 18);
  bmpHeader.writeInt32LE(40000, 22);
  const [hugePng, hugeGif, hugeBmp, broken] = [
    ['huge.png', hugeImage('png')], ['huge.gif', hugeImage('gif')],
    ['huge.bmp', bmpHeader], ['broken.png', nearPng.subarray(0, 60)],
  ].map(([file, bytes]) => put(file, bytes));
  const said = (file, count = '256') => glyphorRun(file, count).message;
  const all = 'source-line save pictures tileset preview';
  const pictures = 'source-line pictures tileset preview';
  const stateCases = [
    ['before any file', [],
     { shown: '', message: '', busy: 'false', count: 'false', told: 'fr / polite / The charset ' +
       'drawn from its bytes, white on black; tiles beyond the count are hatched dark red' }],
    ['the sample', [choose(sample)],
     { shown: all, message: said(sample), source: 'tileset.bmp', field: 'tileset.bmp',
       names: 'The tileset tileset.bmp: 32 by 8 tiles / The charset tileset.bin, drawn from its ' +
       'bytes' }],
    ['the sample, then a text file', [choose(sample), choose(notes)],
     { shown: 'source-line', message: said(notes), source: 'notes.txt' }],
    ['the sample, then count -1', [choose(sample), field('count', '-1')],
     { shown: 'source-line', message: said(sample, '-1'), count: 'true' }],
    ['the sample, then count 0', [choose(sample), field('count', '0')],
     { shown: pictures, message: said(sample, '0'), count: 'false' }],
    ['the sample, then the count emptied',
     [choose(sample), field('count', '9'), field('count', '')],
     { shown: all, message: said(sample) }],
    ['a text file chosen, the sample dropped', [choose(notes), drop(sample)],
     { shown: all, message: said(sample), source: 'tileset.bmp', field: 'tileset.bmp' }],
    ['a slow file, then the sample', [drop(hugePng, 400), choose(sample), sleep(800)],
     { shown: all, message: said(sample), source: 'tileset.bmp', field: 'tileset.bmp' }],
    ['the sample, then a file being read', [choose(sample), drop(notes, 'held')],
     { shown: 'working', message: '', busy: 'true', working: 'Reading notes.txt…' }],
    ['a file read at last', [drop(notes, 'held'), release],
     { shown: 'source-line', message: said(notes), busy: 'false', working: '' }],
    ['a PNG too big for the browser', [drop(hugePng)], { message: said(hugeBmp) }],
    ['a GIF too big for the browser', [drop(hugeGif)], { message: said(hugeBmp) }],
    ['a broken PNG', [drop(broken)], { message: said(broken) }],
    ['a load address above $FFFF', [choose(sample), field('address', '$10000')],
     { shown: `${pictures} address-error`, address: 'true',
       error: 'Load address $10000 is above $FFFF' }],
    ['a load address the charset runs past $FFFF from', [choose(sample), field('address', '63489')],
     { shown: `${pictures} address-error`, address: 'true', error: 'Load address $F801: the ' +
       "charset's 2048 bytes would run past $FFFF (the last address that fits them is $F800)" }],
    ['a load address that is no number', [field('address', '2000h')],
     { shown: 'address-error', error: 'Load address 2000h: write it as $2000, 0x2000 or 8192' }],
    ['a load address that fits', [choose(sample), field('address', '$f800')],
     { shown: all, address: 'false', error: '' }],
  ];
  for (const [what, steps, expected] of stateCases) {
    await reload(page);
    for (const step of steps) await step(page);
    const got = await pageState(page);
    for (const [key, value] of Object.entries(expected)) {
      expectEqual(`${what}: ${key}`, got[key], value);
    }
  }

  // The download with a load address: a PRG, the address first, low byte first.
  const charset = glyphorRun(sample, '256').charset.toString('hex');
  for (const [address, saved] of [['', 'tileset.bin '], ['$2000', 'tileset.prg 0020'],
                                  ['0x2000', 'tileset.prg 0020'], ['8192', 'tileset.prg 0020'],
                                  [' $C000 ', 'tileset.prg 00c0'], ['$F800', 'tileset.prg 00f8']]) {
    const got = await pageRun(page, cdp, sample, '256', 'choose', address);
    expectEqual(`load address ${JSON.stringify(address)}: the download`,
                got.saved ? `${got.saved.name} ${got.saved.bytes.toString('hex')}` : 'none',
                `${saved}${charset}`);
  }
  await type(page, 'address', '');

  // The tile under the pointer, named and outlined on both pictures.
  const character = ': screen code character ';
  for (const [tile, line] of [[0, `($00)${character}@`], [1, `($01)${character}A`],
                              [28, `($1C)${character}£`], [30, `($1E)${character}↑`],
                              [32, `($20)${character}space`], [42, `($2A)${character}*`],
                              [63, `($3F)${character}?`], [64, '($40)'], [255, '($FF)']]) {
    for (const picture of ['tileset', 'preview']) {
      const box = await page.$eval(`#${picture}`,
                                   (canvas) => canvas.getBoundingClientRect().toJSON());
      const [w, h] = [box.width / 32, box.height / 8];
      const [x, y] = [box.left + (tile % 32) * w, box.top + Math.floor(tile / 32) * h];
      await page.mouse.move(x + w / 2, y + h / 2);
      expectEqual(`tile ${tile} on the ${picture}: named`,
                  await page.$eval('#tile', (p) => p.textContent), `Tile ${tile} ${line}`);
      const marks = await page.$$eval('.mark', (boxes) => boxes.map((mark) => {
        const at = mark.getBoundingClientRect();
        const canvas = mark.parentNode.querySelector('canvas').getBoundingClientRect();
        return [at.left - canvas.left, at.top - canvas.top, at.width, at.height]
          .map((v) => Math.round(v)).join(',');
      }));
      const where = [x - box.left, y - box.top, w, h].map((v) => Math.round(v)).join(',');
      expectEqual(`tile ${tile} on the ${picture}: outlined on both`, marks.join(' '),
                  `${where} ${where}`);
    }
  }

  // Each picture a whole number of device pixels a tileset pixel, on device
  // pixel edges, at least 256 CSS pixels wide where the window leaves room.
  // Layout places boxes to 1/64 of a CSS pixel; painting snaps within that.
  for (const [width, height, ratio] of [[1280, 800, 1], [1280, 800, 1.5], [1280, 800, 2],
                                        [1280, 800, 2.625], [1280, 800, 3], [390, 844, 3],
                                        [412, 915, 2.625], [360, 740, 1.5], [320, 568, 2],
                                        [320, 640, 2.625], [320, 640, 3], [768, 1024, 2]]) {
    await page.setViewport({ width, height, deviceScaleFactor: ratio });
    await page.evaluate(() => window.dispatchEvent(new Event('resize')));
    const boxes = await page.$$eval('canvas', (canvases) => canvases.map((canvas) => {
      const box = canvas.getBoundingClientRect();
      return { left: box.left + window.scrollX, top: box.top + window.scrollY, width: box.width,
               height: box.height, room: document.body.clientWidth };
    }));
    const what = `${width}x${height} at ${ratio}`;
    const whole = (value) => Math.abs(value - Math.round(value)) <= ratio / 64 + 1e-3;
    const faults = boxes.flatMap((box) => {
      const factor = Math.round((box.width * ratio) / 256);
      return [[whole(box.width * ratio) && Math.round(box.width * ratio) === 256 * factor &&
               factor >= 1, 'a whole number of device pixels'],
              [whole(box.height * ratio) && Math.round(box.height * ratio) === 64 * factor,
               'as high as wide'],
              [whole(box.left * ratio) && whole(box.top * ratio), 'on device pixel edges'],
              [box.width >= 255.99 || (Math.ceil(ratio) * 256) / ratio > box.room, '256 wide'],
              [box.left + box.width <= width, 'within the window']]
        .filter(([good]) => !good).map(([, fault]) => fault);
    });
    const [one, two] = boxes;
    if (one.left + one.width > two.left && one.top + one.height > two.top) faults.push('overlap');
    const wide = await page.evaluate(() => document.documentElement.scrollWidth);
    if (wide > width) faults.push(`the page ${wide} pixels wide`);
    expectEqual(`the pictures at ${what}`, faults.join(', '), '');
  }
  await page.setViewport({ width: 800, height: 600, deviceScaleFactor: 1 });

  // Both colour schemes, every text at 4.5:1 against what is behind it.
  for (const scheme of ['light', 'dark']) {
    await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: scheme }]);
    await type(page, 'address', 'none');
    const colours = await page.evaluate(() => [
      ['body'], ['label'], ['#message'], ['#save'], ['#count'], ['#count', '::placeholder'],
      ['#file', '::file-selector-button'], ['#address-error'], ['figcaption'], ['#source'],
    ].map(([selector, pseudo]) => {
      let element = document.querySelector(selector);
      const colour = getComputedStyle(element, pseudo).color;
      let back = pseudo ? getComputedStyle(element, pseudo).backgroundColor : 'transparent';
      while (/rgba\(.*, 0\)|transparent/.test(back) && element) {
        back = getComputedStyle(element).backgroundColor;
        element = element.parentElement;
      }
      return [`${selector}${pseudo ?? ''}`, colour, back];
    }));
    const low = colours.filter(([, colour, back]) => contrast(colour, back) < 4.5)
      .map(([what, colour, back]) => `${what} ${colour} on ${back}`);
    expectEqual(`the ${scheme} scheme: contrast`, low.join(', '), '');
    expectEqual(`the ${scheme} scheme: followed`, String(luminance(colours[0][2]) > 0.5),
                String(scheme === 'light'));
  }
  await page.emulateMediaFeatures([]);
  await type(page, 'address', '');

  // By keyboard alone: the file chooser, the count field, the download.
  const order = [];
  const tabs = async () => {
    for (let step = 0; step < 2; step += 1) {
      await page.keyboard.press('Tab');
      order.push(await page.evaluate(() => document.activeElement.id));
    }
  };
  await reload(page);
  await tabs();
  await (await page.$('#file')).uploadFile(sample);
  await page.waitForFunction(() => document.getElementById('message').value !== '');
  await page.keyboard.down('Control');
  await page.keyboard.press('KeyA');
  await page.keyboard.up('Control');
  await page.keyboard.type('64');
  await tabs();
  expectEqual('Tab goes to the file, the count, the load address and the download',
              order.join(' '), 'file count address save');
  expectEqual('the count typed in', await page.$eval('#message', (output) => output.value),
              glyphorRun(sample, '64').message);
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
process.exit(summary('web') ? 0 : 1);
