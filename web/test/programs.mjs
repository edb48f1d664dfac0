// What the page's tests hold it to: glyphor's message and charset for a file,
// run directly or after the README's ImageMagick recipe for PNG art, and
// glyphor-preview's picture of that charset; with a tally of the checks.
import { execFileSync, spawnSync } from 'node:child_process';
import { existsSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { basename, join } from 'node:path';
import { gzipSync } from 'node:zlib';

// A PNG whose header says width x height pixels, black and white, with these
// compressed rows. (A gzip stream ends with its data's CRC-32, a chunk's.)
export function png(width, height, rows = Buffer.alloc(0)) {
  const chunk = (type, data) => {
    const [body, ends] = [Buffer.concat([Buffer.from(type), data]), Buffer.alloc(8)];
    ends.writeUInt32BE(data.length);
    ends.writeUInt32BE(gzipSync(body).subarray(-8).readUInt32LE(), 4);
    return Buffer.concat([ends.subarray(0, 4), body, ends.subarray(4)]);
  };
  const header = Buffer.from([0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0]);
  [width, height].forEach((size, at) => header.writeUInt32BE(size, at * 4));
  return Buffer.concat([Buffer.from('\x89PNG\r\n\x1A\n', 'latin1'), chunk('IHDR', header),
                        chunk('IDAT', rows), chunk('IEND', Buffer.alloc(0))]);
}

// glyphor and glyphor-preview (in bin) run in the folder work.
export function programs(bin, work) {
  let failures = 0;
  let checks = 0;
  // Counts a check, and prints it when the page's value differs.
  const expectEqual = (what, actual, expected) => {
    checks += 1;
    if (Buffer.compare(Buffer.from(actual), Buffer.from(expected)) === 0) return true;
    failures += 1;
    console.log(`FAIL ${what}\n  page:     ${JSON.stringify(String(actual)).slice(0, 300)}` +
                `\n  expected: ${JSON.stringify(String(expected)).slice(0, 300)}`);
    return false;
  };
  // Prints the tally under a name; tells whether all passed.
  const summary = (name) => {
    console.log(`${name}: ${checks} checks, ${failures} failed`);
    return failures === 0;
  };
  // Writes a file of these bytes into the work folder; gives its path.
  const put = (file, bytes) => {
    writeFileSync(join(work, file), bytes);
    return join(work, file);
  };
  // An image's pixels as red, green, blue, alpha, top row first (ImageMagick's reading).
  const pixels = (file) => execFileSync('convert', [file, '-depth', '8', 'rgba:-']);

  const glyphor = join(bin, 'glyphor');
  // The name the page gives the charset of a file: its extension replaced by .bin.
  const charsetName = (file) => `${basename(file).replace(/(.)\.[^.]*$/, '$1')}.bin`;
  // What glyphor prints after its banner, and the charset it writes (null for none).
  const programRun = (command, output) => {
    rmSync(join(work, output), { force: true });
    const run = spawnSync('sh', ['-c', command], { cwd: work, encoding: 'utf8' });
    const afterBanner = run.stdout.split('--------------------------------------------\n\n')[1];
    const file = join(work, output);
    return { message: afterBanner, charset: existsSync(file) ? readFileSync(file) : null };
  };
  const shellWord = (text) => `'${text.replaceAll("'", "'\\''")}'`;
  // An empty count is the count left out, as the page's empty field is.
  const countWord = (count) => (count === '' ? '' : ` ${shellWord(count)}`);
  const glyphorRun = (file, count) => programRun(
    `${shellWord(glyphor)} ${shellWord(file)} ${shellWord(charsetName(file))}${countWord(count)}`,
    charsetName(file));
  // The README's recipe for PNG art, and glyphor after it.
  const recipeRun = (file, count) => programRun(
    `convert ${shellWord(file)} -background black -alpha remove -type truecolor bmp:- | ` +
    `${shellWord(glyphor)} /dev/stdin ${shellWord(charsetName(file))}${countWord(count)}`,
    charsetName(file));

  // The page's outcome for a file (pageRun's) against the program's.
  const compare = (what, got, file, expected) => {
    expectEqual(`${what}: message`, got.message, expected.message);
    if (expected.charset === null) {
      expectEqual(`${what}: no download`, got.saved === null ? 'none' : got.saved.name, 'none');
      return;
    }
    if (!expectEqual(`${what}: a download`, got.saved === null ? 'none' : 'one', 'one')) return;
    expectEqual(`${what}: the download's name`, got.saved.name, charsetName(file));
    expectEqual(`${what}: the download's bytes`, got.saved.bytes, expected.charset);
    execFileSync(join(bin, 'glyphor-preview'), [put('preview-input.bin', expected.charset),
                                                join(work, 'preview.bmp')], { stdio: 'ignore' });
    expectEqual(`${what}: the preview's pixels`, got.preview, pixels(join(work, 'preview.bmp')));
  };
  return { expectEqual, summary, put, pixels, compare, programRun, shellWord, glyphorRun,
           recipeRun };
}
