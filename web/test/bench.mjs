// The page's size and speed in Chromium, Firefox ESR and WebKitGTK (run it
// under xvfb-run): the time from navigation to the module ready for a file,
// from a drop of the sample to its message, pictures and download in place,
// and from a drop of a 20000x20000 PNG to its refusal, which must come from
// its header, the image never decoded, in every engine. Chromium's times are
// held to 300, 50 and 100 ms (medians); the others' are printed.
//
//   xvfb-run -a node bench.mjs PAGE SAMPLE
import { readFileSync, statSync } from 'node:fs';
import { resolve } from 'node:path';
import { deflateSync } from 'node:zlib';
import { chromium, firefox, webkit } from './browser.mjs';
import { png } from './programs.mjs';

const [pageFile, sample] = process.argv.slice(2).map((path) => resolve(path));
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
const faults = [];
console.log(`web bench: glyphor.html is ${statSync(pageFile).size} bytes`);
for (const [engine, open] of [['Chromium', chromium], ['Firefox', firefox], ['WebKitGTK', webkit]]) {
  const driver = await open(pageFile);
  try {
    const times = { ready: [], sample: [], huge: [] };
    let decodes = 0;
    for (let run = 0; run < 5; run += 1) {
      await driver.load();
      times.ready.push(await driver.run(() => performance.getEntriesByName('ready')[0].startTime));
    }
    for (const [what, name, bytes, runs] of [['sample', 'tileset.bmp', readFileSync(sample), 20],
                                             ['huge', 'huge.png', huge, 5]]) {
      for (let run = 0; run < runs; run += 1) {
        const [spent, decoded] = await driver.run(dropTime, name, bytes.toString('base64'));
        times[what].push(spent);
        decodes += what === 'huge' ? decoded : 0;
      }
    }
    if (decodes > 0) faults.push(`${engine} decoded the 20000x20000 PNG`);
    const [ready, shown, refused] = [times.ready, times.sample, times.huge].map(median);
    console.log(`web bench: ${engine}: ready ${ready.toFixed(0)} ms after navigation (median of ` +
                `5 loads, from file://); the sample shown in ${shown.toFixed(1)} ms (median of ` +
                `20; slowest ${Math.max(...times.sample).toFixed(1)}); a 20000x20000 PNG ` +
                `refused in ${refused.toFixed(1)} ms (median of 5)`);
    for (const [time, limit, what] of [[ready, 300, 'ready'], [shown, 50, 'the sample shown'],
                                       [refused, 100, 'the PNG refused']]) {
      if (engine === 'Chromium' && time > limit) faults.push(`${what} in ${time} ms, not ${limit}`);
    }
  } finally {
    await driver.close();
  }
}
for (const fault of faults) console.log(`FAIL web bench: ${fault}`);
process.exit(faults.length === 0 ? 0 : 1);
