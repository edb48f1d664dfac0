// The web page in the three engines (run it under xvfb-run). In Firefox ESR
// and WebKitGTK, the sample, its PNG and a text file at several counts,
// dropped, must give glyphor's message, download and preview (the README's
// recipe's for the PNG). In all three, its speed: the time from navigation to
// the module ready for a file (the page's performance mark), and the medians
// from a drop of the sample to its message, pictures and download in place and
// from a drop of a 20000x20000 PNG to its refusal, which must come from its
// header, the image never decoded. Chromium's are held to 300, 50 and 100 ms.
//
//   xvfb-run -a node engines.mjs PAGE BINDIR SAMPLE
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join, resolve } from 'node:path';
import { deflateSync } from 'node:zlib';
import { chromium, firefox, pageRun, webkit } from './browser.mjs';
import { png, programs } from './programs.mjs';

const [pageFile, bin, sample] = process.argv.slice(2).map((path) => resolve(path));
const work = mkdtempSync(join(tmpdir(), 'glyphor-engines-'));
const { compare, expectEqual, summary, put, glyphorRun, recipeRun } = programs(bin, work);
// A whole PNG of 20000x20000 black pixels, one bit each (50 KB).
const huge = png(20000, 20000, deflateSync(Buffer.alloc(20000 * 2501), { level: 9 }));

// In the page: the ms from a drop of this file to its message, and how many
// images the page had the browser decode meanwhile.
async function dropTime(name, base64) {
  const output = document.getElementById('message');
  output.value = '';
  const decode = window.createImageBitmap;
  let decoded = 0;
  window.createImageBitmap = (...args) => { decoded += 1; return decode(...args); };
  const shown = new Promise((done) => {
    new MutationObserver((_, observer) => {
      observer.disconnect();
      done();
    }).observe(output, { childList: true, characterData: true, subtree: true });
  });
  const drop = new Event('drop', { bubbles: true });
  const file = new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name);
  Object.defineProperty(drop, 'dataTransfer', { value: { files: [file] } });
  const start = performance.now();
  document.dispatchEvent(drop);
  await shown;
  window.createImageBitmap = decode;
  return [performance.now() - start, decoded];
}
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

try {
  execFileSync('convert', [sample, join(work, 'tileset.png')]);
  const tilesetPng = join(work, 'tileset.png');
  const notes = put('notes.txt', 'Not a picture at all.\n');
  const engines = [['Chromium', chromium], ['Firefox', firefox], ['WebKitGTK', webkit]];
  for (const [engine, open] of engines) {
    const driver = await open(pageFile);
    try {
      const times = { ready: [], sample: [], huge: [] };
      let decodes = 0;
      for (let run = 0; run < 5; run += 1) {
        await driver.load();
        times.ready.push(await driver.run(() => performance.getEntriesByName('ready')[0]
          .startTime));
      }
      for (const [what, name, bytes, runs] of [['sample', 'tileset.bmp', readFileSync(sample), 20],
                                               ['huge', 'huge.png', huge, 5]]) {
        for (let run = 0; run < runs; run += 1) {
          const [spent, decoded] = await driver.run(dropTime, name, bytes.toString('base64'));
          times[what].push(spent);
          decodes += what === 'huge' ? decoded : 0;
        }
      }
      expectEqual(`${engine}: the 20000x20000 PNG decoded`, String(decodes), '0');
      const [ready, shown, refused] = [times.ready, times.sample, times.huge].map(median);
      console.log(`web: ${engine}: ready ${ready.toFixed(0)} ms after navigation (median of 5 ` +
                  `loads, from file://); the sample shown in ${shown.toFixed(1)} ms (median of ` +
                  `20; slowest ${Math.max(...times.sample).toFixed(1)}); a 20000x20000 PNG ` +
                  `refused in ${refused.toFixed(1)} ms (median of 5)`);
      for (const [time, limit, what] of [[ready, 300, 'ready'], [shown, 50, 'the sample shown'],
                                         [refused, 100, 'the PNG refused']]) {
        const held = engine !== 'Chromium' || time <= limit;
        expectEqual(`${engine}: ${what} in ${limit} ms`, String(held), 'true');
      }
      for (const [file, count, run = glyphorRun] of engine === 'Chromium' ? [] : [
        [sample, '256'], [sample, '64'], [sample, ''], [sample, '257'],
        [tilesetPng, '256', recipeRun], [tilesetPng, '1', recipeRun], [notes, '256']]) {
        compare(`${engine}: ${basename(file)} with count ${JSON.stringify(count)}`,
                await pageRun(driver, file, count, 0), file, run(file, count));
      }
    } finally {
      await driver.close();
    }
  }
} finally {
  rmSync(work, { recursive: true, force: true });
}
process.exit(summary('web, the three engines') ? 0 : 1);
