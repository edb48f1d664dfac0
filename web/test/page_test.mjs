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
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { canvasPixels, chromium, give, pageRun, settled, typeIn } from './browser.mjs';
import { png, programs } from './programs.mjs';

const [pageFile, bin, casesDir] = process.argv.slice(2).map((path) => resolve(path));
const work = mkdtempSync(join(tmpdir(), 'glyphor-web-'));
const { expectEqual, summary, put, pixels, compare, programRun, shellWord, glyphorRun,
        recipeRun } = programs(bin, work);

// In the page: what it shows: the parts on screen (a hidden one takes no
// room), the texts and the states it tells assistive technology: the French
// messages as French and announced, what the pictures show, and the hatching
// explained.
function pageState() {
  const $ = (id) => document.getElementById(id);
  const parts = ['working', 'source-line', 'save', 'pictures', 'tileset', 'preview',
                 'address-error', 'tile', 'drop-hint'];
  return {
    shown: parts.filter((id) => $(id).getBoundingClientRect().height > 0).join(' '),
    message: $('message').value,
    source: $('source-line').textContent.replace(/^From /, ''),
    offer: $('offer').hidden ? '' : $('offer').textContent,
    note: $('count-note').textContent,
    alarm: `${$('message').className} ${$('message').getAttribute('aria-live')}`,
    choice: document.querySelector('label[for=file]').textContent,
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

const driver = await chromium(pageFile);
const { page, browser } = driver;
// The page's outcome for a file given with this count, against the program's.
const check = async (what, file, count, expected, how, on = driver) => compare(
  what, await pageRun(on, file, count, how), file, expected);
// An element's box, and the middle of a tile in a picture's box.
const rect = (id) => page.$eval(`#${id}`, (element) => element.getBoundingClientRect().toJSON());
const character = ': screen code character ';
const sleep = (ms) => () => new Promise((done) => { setTimeout(done, ms); });
const tileAt = (box, tile) => [box.left + ((tile % 32) + 0.5) * (box.width / 32),
                               box.top + (Math.floor(tile / 32) + 0.5) * (box.height / 8)];
try {
  page.on('pageerror', (error) => expectEqual('an error in the page', error.message, ''));

  // Every tileset case of the command-line suite, chosen with the file chooser.
  const cases = JSON.parse(readFileSync(join(casesDir, 'cases.json'), 'utf8'));
  for (const { file, count } of cases) {
    const path = join(casesDir, file);
    await check(`${file} with count ${JSON.stringify(count)}`, path, count,
                glyphorRun(path, count));
  }
  const sample = resolve('examples/tileset.bmp');
  await check('the sample, dropped', sample, '256', glyphorRun(sample, '256'), 'drop');
  expectEqual('the sample: the tileset as shown', await driver.run(canvasPixels, 'tileset'),
              pixels(sample));

  // Images the browser decodes, against the README's recipe for them.
  const near = join(casesDir, 'near.bmp');
  const convert = (...args) => execFileSync('convert', args, { cwd: work });
  convert(near, 'near.png');
  // near.png holds the gamma and chromaticity chunks ImageMagick writes (gamma
  // 1/2.2); profile.png an L* profile instead (embedded as it is, the image
  // having none to convert from). Either, applied, moves pixels across the
  // threshold. (For a gamma other than 1/2.2 ImageMagick takes the pixels as
  // linear and makes them sRGB: its recipe is colour-managed there.)
  convert('near.png', '-define', 'png:exclude-chunks=gAMA,cHRM,sRGB', '-profile',
          '/usr/share/color/icc/LStar-RGB.icc', 'profile.png');
  // alpha.png: RGBA, every alpha from 0 to 255 across it, and no other chunk.
  convert(near, '-alpha', 'set', '-channel', 'A', '-fx', '((i*7+j*13)%256)/255', '+channel',
          '-define', 'png:exclude-chunks=all', 'png32:alpha.png');
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
    await check(`${file}${how === 'drop' ? ', dropped' : ''}`, path, '256', run(path, '256'), how);
  }
  // A file the browser cannot read (gone since it was chosen): glyphor's
  // message for a file it cannot open.
  const glyphor = shellWord(join(bin, 'glyphor'));
  const cannotOpen = programRun(`${glyphor} gone.bmp gone.bin`, 'gone.bin').message;
  expectEqual('a file that cannot be read: message',
              (await pageRun(driver, put('gone.bmp', ''), '256', 'gone')).message, cannotOpen);

  // What the page shows after these steps, each from a fresh page: the last
  // file's outcome and nothing that a mistake or a newer file replaced.
  const choose = (file) => () => give(driver, file);
  const drop = (file, reading = 'drop') => () => give(driver, file, reading);
  const release = async () => {
    await driver.run(() => window.release());
    await driver.run(settled);
  };
  const field = (id, value) => () => driver.run(typeIn, id, value);
  const hover = (tile) => async () => page.mouse.move(...tileAt(await rect('tileset'), tile))
    .then(() => page.mouse.move(0, 0));
  // The sample's header, saying 40000x40000 pixels, and nothing after it.
  const bmpHeader = Buffer.from(readFileSync(sample).subarray(0, 54));
  bmpHeader.writeInt32LE(40000, 18);
  bmpHeader.writeInt32LE(40000, 22);
  const [huge, hugeBmp, broken, hugeGif] = [
    ['huge.png', png(40000, 40000)], ['huge.bmp', bmpHeader],
    ['broken.png', readFileSync(join(work, 'near.png')).subarray(0, 60)],
    // A GIF that says it is 40000x40000 pixels.
    ['huge.gif', Buffer.from([0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x40, 0x9C, 0x40, 0x9C, 0, 0,
                              0, 0x2C, 0, 0, 0, 0, 0x40, 0x9C, 0x40, 0x9C, 0, 2, 2, 0x4C, 1, 0,
                              0x3B])],
  ].map(([file, bytes]) => put(file, bytes));
  const said = (file, count = '256') => glyphorRun(file, count).message;
  const all = 'source-line save pictures tileset preview';
  const pictures = 'source-line pictures tileset preview';
  const stateCases = [
    ['before any file', [],
     { shown: '', message: '', busy: 'false', count: 'false', offer: '', alarm: ' polite',
       choice: 'Tileset (a 24-bit BMP, or a PNG, GIF or WebP)', told: 'fr / polite / The charset ' +
       'drawn from its bytes, white on black; tiles beyond the count are hatched dark red' }],
    ['the sample', [choose(sample)],
     { shown: all, message: said(sample), source: 'tileset.bmp', field: 'tileset.bmp',
       offer: 'Offered: tileset.bin, 2,048 bytes', names: 'The tileset tileset.bmp: 32 by 8 ' +
       'tiles / The charset tileset.bin, drawn from its bytes' }],
    ['the sample, then a text file', [choose(sample), choose(notes)],
     { shown: 'source-line', message: said(notes), source: 'notes.txt', alarm: 'error assertive',
       offer: 'Nothing offered. glyphor made no charset.' }],
    ['the sample, then count -1', [choose(sample), field('count', '-1')],
     { shown: 'source-line pictures tileset', message: said(sample, '-1'), count: 'true' }],
    ...[['0', ''], ['$40', 'read as 0'], ['1e2', 'read as 1', 'Offered: tileset.bin, 8 bytes']]
      .map(([count, note, offer = 'Nothing offered. A count of 0 makes no file.']) => [
        `the sample, then count ${count}`, [choose(sample), field('count', count)],
        { message: said(sample, count), count: 'false', note, offer, alarm: ' polite',
          shown: count === '1e2' ? all : pictures }]),
    ['two files dropped at once', [drop(sample, 'drop+')],
     { source: 'tileset.bmp (the first of 2 files dropped; the others are not read)' }],
    ['a tile pointed at, then a file', [choose(sample), hover(42), choose(sample)], { tile: '' }],
    ['a file held over the page', [drop(sample, 'over')], { shown: 'drop-hint' }],
    ['the sample, then the count emptied',
     [choose(sample), field('count', '9'), field('count', '')],
     { shown: all, message: said(sample) }],
    ['a text file chosen, the sample dropped', [choose(notes), drop(sample)],
     { shown: all, message: said(sample), source: 'tileset.bmp', field: 'tileset.bmp' }],
    ['a slow file, then the sample', [drop(huge, 400), choose(sample), sleep(800)],
     { shown: all, message: said(sample), source: 'tileset.bmp', field: 'tileset.bmp' }],
    ['the sample, then a file being read', [choose(sample), drop(notes, 'held')],
     { shown: 'working', message: '', busy: 'true', working: 'Reading notes.txt…' }],
    ['a file read at last', [drop(notes, 'held'), release],
     { shown: 'source-line', message: said(notes), busy: 'false', working: '' }],
    ['a PNG too big for the browser', [drop(huge)], { message: said(hugeBmp) }],
    ['a GIF too big for the browser', [drop(hugeGif)], { message: said(hugeBmp) }],
    ['a broken PNG', [drop(broken)], { message: said(broken) }],
    ['a load address above $FFFF', [choose(sample), field('address', '$10000')],
     { shown: `${pictures} address-error`, address: 'true', error: 'Load address $10000 is ' +
       'above $FFFF', offer: 'Nothing offered. Load address $10000 is above $FFFF.' }],
    ['a load address the charset runs past $FFFF from', [choose(sample), field('address', '63489')],
     { shown: `${pictures} address-error`, address: 'true', error: 'Load address $F801: the ' +
       "charset's 2048 bytes would run past $FFFF (the last address that fits them is $F800)" }],
    ['a load address that is no number', [field('address', '2000h')],
     { shown: 'address-error', error: 'Load address 2000h: write it as $2000, 0x2000 or 8192' }],
    ['a load address that fits', [choose(sample), field('address', '$f800')],
     { shown: all, address: 'false', error: '', offer: 'Offered: tileset.prg, 2,050 bytes, for ' +
       '$F800-$FFFF', names: 'The tileset tileset.bmp: 32 by 8 tiles / The charset ' +
       'tileset.prg, drawn from its bytes' }],
  ];
  for (const [what, steps, expected] of stateCases) {
    await driver.load();
    for (const step of steps) await step();
    const got = await driver.run(pageState);
    for (const [key, value] of Object.entries(expected)) {
      expectEqual(`${what}: ${key}`, got[key], value);
    }
  }

  // The download with a load address: a PRG, the address first, low byte first.
  const charset = glyphorRun(sample, '256').charset.toString('hex');
  for (const [address, saved] of [['', 'tileset.bin '], ['$2000', 'tileset.prg 0020'],
                                  ['0x2000', 'tileset.prg 0020'], ['8192', 'tileset.prg 0020'],
                                  [' $C000 ', 'tileset.prg 00c0'], ['$F800', 'tileset.prg 00f8']]) {
    const got = await pageRun(driver, sample, '256', 'choose', address);
    expectEqual(`load address ${JSON.stringify(address)}: the download`,
                got.saved ? `${got.saved.name} ${got.saved.bytes.toString('hex')}` : 'none',
                `${saved}${charset}`);
  }
  // The source of tiles 64 on at $2000 in each dialect, for the stage to assemble.
  await driver.run(typeIn, 'address', '$2000');
  await driver.run(typeIn, 'first', '64');
  for (const dialect of ['ACME', '64tass', 'ca65']) {
    await page.select('#dialect', dialect);
    writeFileSync(join(casesDir, `${dialect}.s`), await page.$eval('#source-text', (t) => t.value));
  }
  await driver.run(typeIn, 'address', '');
  // Typing in the count moves nothing on the page.
  const top = async () => String((await rect('address')).top);
  for (const [count, before] of [['-1', await top()], ['$40', await top()]]) {
    await driver.run(typeIn, 'count', count);
    expectEqual(`count ${count}: nothing moves`, await top(), before);
  }

  // The tile under the pointer, named and outlined on both pictures.
  for (const [tile, line] of [[0, `($00)${character}@`], [1, `($01)${character}A`],
                              [28, `($1C)${character}£`], [30, `($1E)${character}↑`],
                              [32, `($20)${character}space`], [42, `($2A)${character}*`],
                              [63, `($3F)${character}?`], [64, '($40)'],
                              [255, '($FF): reverse of 127']]) {
    for (const picture of ['tileset', 'preview']) {
      const box = await rect(picture);
      const [w, h] = [box.width / 32, box.height / 8];
      await page.mouse.move(...tileAt(box, tile));
      expectEqual(`tile ${tile} on the ${picture}: named`,
                  await page.$eval('#tile', (p) => p.textContent), `Tile ${tile} ${line}`);
      const marks = await page.$$eval('.mark', (boxes) => boxes.map((mark) => {
        const at = mark.getBoundingClientRect();
        const canvas = mark.parentNode.querySelector('canvas').getBoundingClientRect();
        return [at.left - canvas.left, at.top - canvas.top, at.width, at.height]
          .map((v) => Math.round(v)).join(',');
      }));
      const where = [(tile % 32) * w, Math.floor(tile / 32) * h, w, h].map((v) => Math.round(v))
        .join(',');
      expectEqual(`tile ${tile} on the ${picture}: outlined on both`, marks.join(' '),
                  `${where} ${where}`);
    }
  }
  const shown = [...await driver.run(canvasPixels, 'tileset'),
                 ...await driver.run(canvasPixels, 'preview')];
  const shades = new Set(shown.map((_, at) => `rgb(${shown.slice(at - at % 4, at - at % 4 + 3)})`));

  // Each picture a whole number of device pixels a tileset pixel, on device
  // pixel edges, at least 256 CSS pixels wide where the window leaves room.
  // Layout places boxes to 1/64 of a CSS pixel; painting snaps within that.
  // (A touch screen set up, the page is loaded again.)
  await page.setViewport({ width: 800, height: 600, hasTouch: true });
  await give(driver, sample);
  for (const [width, height, ratio] of [[1280, 800, 1], [1280, 800, 1.5], [1280, 800, 2],
                                        [1280, 800, 2.625], [1280, 800, 3], [390, 844, 3],
                                        [412, 915, 2.625], [360, 740, 1.5], [320, 568, 2],
                                        [320, 640, 2.625], [320, 640, 3], [768, 1024, 2],
                                        [360, 740, 3]]) {
    await page.setViewport({ width, height, deviceScaleFactor: ratio, hasTouch: true });
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
    // On a phone: a finger dragged across the preview from tile 40 to 60
    // selects each, and leaves the tile's line in view just under the
    // preview; a swipe down the tileset scrolls the page back up.
    // (Held still before and after lifting: no fling goes on scrolling.)
    const phone = width < 500 ? [[[41, 50, 60], 'preview'], [[-40, -80], 'tileset']] : [];
    for (const [path, picture] of phone) {
      await page.evaluate((id) => document.getElementById(id).scrollIntoView(), picture);
      const [box, scrolled] = [await rect(picture), await page.evaluate(() => window.scrollY)];
      const [x, y] = tileAt(box, 40);
      const touch = await page.touchscreen.touchStart(x, y);
      for (const step of path) await touch.move(...(step < 0 ? [x, y - step] : tileAt(box, step)));
      for (const act of [() => touch.end(), () => {}]) await sleep(300)().then(act);
      const [line, text] = [await rect('tile'), await page.$eval('#tile', (p) => p.textContent)];
      const moved = scrolled - (await page.evaluate(() => window.scrollY));
      if (picture === 'tileset' && moved < Math.min(20, scrolled)) faults.push(`a swipe: ${moved}`);
      if (picture === 'preview' && (text !== `Tile 60 ($3C)${character}<` || line.top < box.bottom
                                    || line.top > box.bottom + 20 || line.bottom > height)) {
        faults.push(`after a drag: ${text} at ${line.top} (the preview ending at ${box.bottom})`);
      }
    }
    expectEqual(`the pictures at ${what}`, faults.join(', '), '');
  }
  await page.setViewport({ width: 800, height: 600, deviceScaleFactor: 1, hasTouch: true });

  // Both colour schemes, every text at 4.5:1 against what is behind it.
  await give(driver, notes);
  await driver.run(typeIn, 'count', '$40');
  for (const scheme of ['light', 'dark']) {
    await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: scheme }]);
    await driver.run(typeIn, 'address', 'none');
    const colours = await page.evaluate(() => [
      ['body'], ['label'], ['#message'], ['#save'], ['#count'], ['#count', '::placeholder'],
      ['#file', '::file-selector-button'], ['#address-error'], ['figcaption'], ['#source'],
      ['#offer'], ['#count-note'], ['#tile'], ['#drop-hint'], ['#unused'],
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
    // The pictures' edge at 3:1 on the page; the tile's outline at 3:1 on every colour shown.
    const [edge, ...rings] = await page.evaluate(() => ['#preview', '.mark'].map(
      (at) => getComputedStyle(document.querySelector(at))).flatMap(({ outlineStyle, outlineColor,
      boxShadow }, mark) => (mark ? [outlineColor, boxShadow] : outlineStyle === 'none' ? 'none'
        : outlineColor)));
    const faint = [...shades].filter((shade) => Math.max(...rings.filter((ring) => /rgb/.test(ring))
      .map((ring) => contrast(ring, shade))) < 3);
    expectEqual(`the ${scheme} scheme: edge, outline`,
                `${edge !== 'none' && contrast(edge, colours[0][2]) >= 3} ${faint}`, 'true ');
  }
  await page.emulateMediaFeatures([]);
  await driver.run(typeIn, 'address', '');

  // By keyboard alone: the file chooser, the count field, the download.
  const order = [];
  const tabs = async (steps = 2) => {
    for (let step = 0; step < steps; step += 1) {
      await page.keyboard.press('Tab');
      order.push(await page.evaluate(() => document.activeElement.id));
    }
  };
  await driver.load();
  await tabs();
  await driver.choose(sample);
  await driver.run(settled);
  await page.keyboard.down('Control');
  await page.keyboard.press('KeyA');
  await page.keyboard.up('Control');
  await page.keyboard.type('64');
  await tabs(4);
  for (const key of ['ArrowRight', 'ArrowDown']) await page.keyboard.press(key);
  expectEqual('Tab goes to the file, the count, the load address, the download, the pictures',
              order.join(' '), 'file count address save tileset preview');
  expectEqual('the arrows on a picture', await page.$eval('#tile', (p) => p.textContent),
              'Tile 33 ($21): screen code character !');
  await page.$eval('#save', (save) => save.focus() ?? save.addEventListener('click', (event) => {
    save.dataset.spaced = 'yes';
    event.preventDefault();
  }));
  await page.keyboard.press('Space');
  const spaced = await page.$eval('#save', (save) => `${save.dataset.spaced}`);
  expectEqual('Space on the download', spaced, 'yes');
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
  await driver.on(quiet).load();
  await check('offline', sample, '256', glyphorRun(sample, '256'), 'choose', driver.on(quiet));
  expectEqual('requests besides the page', asked.join(' '), '');
} finally {
  await driver.close();
  rmSync(work, { recursive: true, force: true });
}
process.exit(summary('web') ? 0 : 1);
