// The page's size, its time to first use and how long it takes to convert
// and show the sample, in headless chromium. Printed, never judged.
//
//   node bench.mjs PAGE SAMPLE
import { readFileSync, statSync } from 'node:fs';
import { resolve } from 'node:path';
import { chromium } from './browser.mjs';

const [pageFile, sample] = process.argv.slice(2).map((path) => resolve(path));
const runs = 20;
const driver = await chromium(pageFile);
const { page } = driver;
try {
  // From the start of navigation to the module ready for a file: the moment
  // the page marks itself ready, as seen from within it.
  await page.evaluateOnNewDocument(() => {
    new MutationObserver((_, observer) => {
      if (document.body?.dataset.ready !== 'yes') return;
      window.glyphorReadyAt = performance.now();
      observer.disconnect();
    }).observe(document, { attributes: true, subtree: true });
  });
  const ready = [];
  for (let run = 0; run < 5; run += 1) {
    await driver.load();
    ready.push(await page.evaluate(() => window.glyphorReadyAt));
  }
  // From the drop to the message, both pictures and the download in place.
  const times = await page.evaluate(async (bytes, count) => {
    const output = document.getElementById('message');
    const file = new File([new Uint8Array(bytes)], 'tileset.bmp');
    const spent = [];
    for (let run = 0; run < count; run += 1) {
      output.value = '';
      const shown = new Promise((done) => {
        new MutationObserver((_, observer) => {
          observer.disconnect();
          done();
        }).observe(output, { childList: true, characterData: true, subtree: true });
      });
      const transfer = new DataTransfer();
      transfer.items.add(file);
      const start = performance.now();
      document.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true }));
      await shown;
      spent.push(performance.now() - start);
    }
    return spent;
  }, [...readFileSync(sample)], runs);
  const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
  console.log(`web bench: glyphor.html is ${statSync(pageFile).size} bytes`);
  console.log(`web bench: ready for a file ${median(ready).toFixed(1)} ms after navigation ` +
              '(median of 5 loads, from file://)');
  console.log(`web bench: the sample converted and shown in ${median(times).toFixed(2)} ms ` +
              `(median of ${runs}; slowest ${Math.max(...times).toFixed(2)} ms)`);
} finally {
  await driver.close();
}
