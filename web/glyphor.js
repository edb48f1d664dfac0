// The page's own part: it reads the chosen or dropped file, hands it to the
// module (glyphor's reader, packer, messages and preview, built for the
// browser), shows what the module leaves and offers the charset for download.
// Every view is drawn by render() from the module and `view`, and only from
// them: what a newer file or a mistake replaced is never left on screen.
'use strict';
(async () => {
  const $ = (id) => document.getElementById(id);
  const moduleBytes = Uint8Array.from(atob(GLYPHOR_MODULE), (c) => c.charCodeAt(0));
  // The module writes to no file descriptor; the C library's standard streams
  // still name the calls, and are told that none is there (52: ENOSYS).
  const none = () => 52;
  const wasi = { fd_close: none, fd_fdstat_get: none, fd_seek: none, fd_write: none };
  const { instance } = await WebAssembly.instantiate(moduleBytes,
                                                     { wasi_snapshot_preview1: wasi });
  const m = instance.exports;
  m._initialize();
  const memory = (at, size) => new Uint8Array(m.memory.buffer, at, size);
  const text = (at, size) => new TextDecoder().decode(memory(at, size));
  const give = (room, bytes) => memory(room(bytes.length), bytes.length).set(bytes);

  // reading: the file being read ('' for none); source: the file whose
  // tileset the module holds; unused: how many files dropped with it were not
  // read; selection: the tile last pointed at, touched or moved to by keyboard
  // and the picture it was on ({ tile, on: 'tileset' or 'preview' }), null for
  // none; dragging: a file is held over the page.
  const view = { reading: '', source: '', unused: 0, selection: null, dragging: false };
  let latest = 0; // the last file chosen or dropped; only its outcome is shown
  let download = '';
  let sourceLink = '';

  // A text the module leaves, up to its NUL.
  const cText = (at) => text(at, new Uint8Array(m.memory.buffer, at).indexOf(0));
  // The bench's choices: each view's colours (background, $D022 or border,
  // $D023 or auxiliary, character).
  const views = [[0, 2, 3, 1], [0, 2, 3, 9], [0, 2, 1, 11]];
  const names = 'black white red cyan purple green blue yellow'.split(' ');
  const extra = ['orange brown light_red dark_grey grey light_green light_blue light_grey',
                 'orange light_orange pink light_cyan light_purple light_green light_blue light_yellow'];
  const roles = [['Background $D021', '', '', 'Character'],
    ['$D021 (00)', '$D022 (01)', '$D023 (10)', 'Character (11)'],
    ['Screen (00)', 'Border (01)', 'Auxiliary (11)', 'Character (10)']];
  let shownView = -1;
  const picture = (canvas, at) => {
    canvas.hidden = at === 0;
    if (at === 0) return;
    const pixels = new Uint8ClampedArray(memory(at, 256 * 64 * 4));
    canvas.getContext('2d').putImageData(new ImageData(pixels, 256, 64), 0, 0);
  };

  // Whole device pixels for every tileset pixel, on device-pixel edges: side
  // by side when both fit at 256 CSS pixels or more, else one above the other
  // as wide as fits.
  const layout = () => {
    const ratio = window.devicePixelRatio || 1;
    const room = document.body.clientWidth * ratio;
    const beside = Math.floor((room - 48 * ratio) / 512);
    const factor = beside >= Math.ceil(ratio - 1e-9) ? beside
      : Math.max(1, Math.floor(room / 256));
    document.body.style.setProperty('--width', `${(256 * factor) / ratio}px`);
    for (const frame of document.querySelectorAll('.frame')) {
      frame.style.left = frame.style.top = '0';
      const box = frame.getBoundingClientRect();
      const snap = (at) => (Math.ceil(at * ratio - 1e-3) - at * ratio) / ratio;
      frame.style.left = `${snap(box.left + window.scrollX)}px`;
      frame.style.top = `${snap(box.top + window.scrollY)}px`;
    }
  };

  // The selected tile, outlined on both pictures and named just under the
  // picture it was selected on, in room kept for it, so that it is in view
  // there on a phone and nothing moves.
  const mark = () => {
    const { selection } = view;
    const shown = selection !== null && !$(selection.on).hidden;
    $('tile').hidden = !shown;
    // The tile named under the picture; its place and bytes too in the bench.
    const about = shown ? cText(m.glyphor_tile(selection.tile)) : '';
    $('tile').textContent = about.split('\n')[0];
    $('inspector').hidden = !shown;
    $('inspector').textContent = about;
    if (shown) $(selection.on).closest('figure').querySelector('.slot').append($('tile'));
    for (const box of document.querySelectorAll('.mark')) {
      box.hidden = !shown;
      if (shown) {
        Object.assign(box.style, { left: `${(selection.tile % 32) * 3.125}%`,
                                   top: `${Math.floor(selection.tile / 32) * 12.5}%`,
                                   width: '3.125%', height: '12.5%' });
      }
    }
  };

  const drag = () => { $('drop-hint').hidden = !view.dragging; };

  const render = () => {
    const reading = view.reading !== '';
    $('results').setAttribute('aria-busy', String(reading));
    $('working').textContent = reading ? `Reading ${view.reading}…` : '';
    $('source').textContent = view.source;
    $('unused').textContent = view.unused === 0 ? ''
      : ` (the first of ${view.unused + 1} files dropped; the others are not read)`;
    $('source-line').hidden = reading || view.source === '';
    drag();

    // An empty count field is the count left out: 256.
    const count = $('count').value;
    give(m.glyphor_count, new TextEncoder().encode(count === '' ? '256' : count));
    // The first tile saved and the load address, as the module reads them.
    give(m.glyphor_first_field, new TextEncoder().encode($('first').value));
    give(m.glyphor_address_field, new TextEncoder().encode($('address').value));
    const failed = m.glyphor_convert() !== 0;
    $('count').setAttribute('aria-invalid', String(m.glyphor_count_refused() !== 0));
    // The count as glyphor read it, where that is not what was typed.
    const read = m.glyphor_count_read();
    $('count-note').textContent = read >= 0 && count !== '' && count !== String(read)
      ? `read as ${read}` : '';
    const message = text(m.glyphor_message(), m.glyphor_message_size());
    $('message').value = message;
    // glyphor's errors look like errors and are announced at once.
    const error = failed && message !== '';
    $('message').classList.toggle('error', error);
    $('message').setAttribute('aria-live', error ? 'assertive' : 'polite');
    const tileset = m.glyphor_tileset();
    const preview = m.glyphor_preview();
    picture($('tileset'), tileset);
    picture($('preview'), preview);
    $('pictures').hidden = tileset === 0 && preview === 0;
    const name = cText(m.glyphor_output_name());
    const tiles = m.glyphor_tiles();
    const firstError = cText(m.glyphor_first_refused());
    $('first').setAttribute('aria-invalid', String(firstError !== ''));
    $('first-error').hidden = firstError === '';
    $('first-error').textContent = firstError;
    const addressError = cText(m.glyphor_address_refused());
    const file = cText(m.glyphor_offered_name());
    $('tileset').setAttribute('aria-label', `The tileset ${view.source}: 32 by 8 tiles`);
    $('preview').setAttribute('aria-label', `The charset ${file}, drawn from its bytes`);

    if (download) URL.revokeObjectURL(download);
    download = '';
    const save = $('save');
    save.removeAttribute('href');
    save.hidden = true;
    $('address').setAttribute('aria-invalid', String(addressError !== ''));
    $('address-error').hidden = addressError === '';
    $('address-error').textContent = addressError;
    mark();
    machine();
    $('explain').textContent = tiles ? cText(m.glyphor_address($('view').selectedIndex >> 1)) : '';
    $('explain').hidden = $('explain').textContent === '';
    const source = $('source-text');
    source.value = tiles ? cText(m.glyphor_source($('dialect').selectedIndex)) : '';
    const saveSource = $('source-save');
    saveSource.hidden = tiles === 0;
    if (sourceLink) URL.revokeObjectURL(sourceLink);
    sourceLink = URL.createObjectURL(new Blob([source.value]));
    saveSource.href = sourceLink;
    saveSource.download = name.replace(/\.bin$/, `-${$('dialect').value}.s`);
    $('bench').hidden = tiles === 0;
    layout();
    // The page's own line on what it offers, beside glyphor's words, which
    // name the charset as written without an address and say "genere" for 0
    // tiles too.
    $('offer').hidden = message === '';
    $('offer').textContent = cText(m.glyphor_offer());
    if (m.glyphor_offered_size() === 0) return;
    download = URL.createObjectURL(new Blob([memory(m.glyphor_offered(), m.glyphor_offered_size())
      .slice()]));
    save.href = download;
    save.download = file;
    save.textContent = `Download ${file}`;
    save.hidden = false;
  };

  // The machine's view, its colour fields named for it and its options for
  // its palette.
  const machine = () => {
    const at = $('view').selectedIndex;
    const colours = views[at];
    if (at !== shownView) {
      shownView = at;
      $('colours').replaceChildren(...colours.map((value, field) => {
        const label = document.createElement('label');
        label.textContent = `${roles[at][field]} `;
        label.hidden = roles[at][field] === '';
        const select = document.createElement('select');
        // The VIC-20's border has 8 colours.
        select.append(...names.concat(extra[at >> 1].split(' '))
          .slice(0, at === 2 && field === 1 ? 8 : 16)
          .map((colour, number) => new Option(at && field === 3 && number > 7
            ? `${number}: multicolour, ${names[number - 8]}` : `${number} ${colour.replace('_', ' ')}`,
          number)));
        select.value = value;
        select.addEventListener('input', () => {
          colours[field] = Number(select.value);
          render();
        });
        label.append(select);
        return label;
      }));
    }
    const at0 = m.glyphor_machine(at >> 1, at & 1, ...colours);
    picture($('machine'), at0);
    $('machine').setAttribute('aria-label', `The charset as the ${$('view').value} shows it`);
    $('machine-caption').textContent = `As the ${$('view').value} shows it: choose the colours above`;
  };

  // An image's size as its own header gives it (PNG, GIF, WebP, JPEG), for
  // one the browser would not decode; null when the header tells none.
  const headerSize = (bytes) => {
    const size = sizeInHeader(bytes);
    return size && size[0] > 0 && size[1] > 0 ? size : null;
  };
  const sizeInHeader = (bytes) => {
    const data = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    const is = (tag, at) => bytes.length >= at + tag.length &&
      String.fromCharCode(...bytes.subarray(at, at + tag.length)) === tag;
    if (bytes.length >= 24 && is('\x89PNG\r\n\x1A\n', 0) && is('IHDR', 12)) {
      return [data.getUint32(16), data.getUint32(20)];
    }
    if ((is('GIF87a', 0) || is('GIF89a', 0)) && bytes.length >= 10) {
      return [data.getUint16(6, true), data.getUint16(8, true)];
    }
    if (bytes.length >= 32 && is('RIFF', 0) && is('WEBP', 8)) {
      const size = data.getUint32(21, true);
      if (is('VP8X', 12)) {
        return [1 + (data.getUint32(24, true) & 0xFFFFFF), 1 + (data.getUint32(27, true) >>> 8)];
      }
      if (is('VP8L', 12)) return [1 + (size & 0x3FFF), 1 + ((size >>> 14) & 0x3FFF)];
      if (is('VP8 ', 12)) {
        return [data.getUint16(26, true) & 0x3FFF, data.getUint16(28, true) & 0x3FFF];
      }
    }
    for (let at = 2; bytes[0] === 0xFF && bytes[1] === 0xD8 && at + 9 <= bytes.length;) {
      const marker = bytes[at + 1];
      if (bytes[at] !== 0xFF) break;
      if (marker >= 0xC0 && marker <= 0xCF && ![0xC4, 0xC8, 0xCC].includes(marker)) {
        return [data.getUint16(at + 7), data.getUint16(at + 5)];
      }
      at += 2 + data.getUint16(at + 2);
    }
    return null;
  };

  // A BMP goes to the reader as it is; another image the browser decodes is
  // drawn over black without colour management, and its pixels go instead.
  // One the browser cannot decode goes with the size its header gives, if
  // that is not the tileset's, else as it is.
  const take = async (file, unused = 0) => {
    const token = ++latest;
    m.glyphor_forget();
    Object.assign(view, { reading: file.name, source: '', unused, selection: null });
    render();
    const done = () => {
      view.reading = '';
      view.source = file.name;
      render();
    };
    let bytes;
    try {
      bytes = new Uint8Array(await file.arrayBuffer());
    } catch {
      if (token !== latest) return;
      give(m.glyphor_name, new TextEncoder().encode(file.name));
      m.glyphor_unreadable();
      return done();
    }
    // An image whose header gives another size than the tileset's is
    // refused from it, undecoded: a browser may take seconds over a big one.
    const header = headerSize(bytes);
    const tileSized = (size) => size[0] === 256 && size[1] === 64;
    let image = null;
    if ((bytes[0] !== 0x42 || bytes[1] !== 0x4d) && (!header || tileSized(header))) {
      image = await createImageBitmap(new Blob([bytes]), {
        colorSpaceConversion: 'none', premultiplyAlpha: 'none'
      }).catch(() => null);
    }
    if (token !== latest) {
      image?.close();
      return;
    }
    give(m.glyphor_name, new TextEncoder().encode(file.name));
    const size = image ? [image.width, image.height] : header;
    if (!size || (!image && tileSized(size))) {
      give(m.glyphor_file, bytes);
      return done();
    }
    const room = m.glyphor_image(size[0], size[1]);
    if (room !== 0) {
      const canvas = document.createElement('canvas');
      canvas.width = image.width;
      canvas.height = image.height;
      const context = canvas.getContext('2d', { willReadFrequently: true });
      context.fillStyle = '#000';
      context.fillRect(0, 0, image.width, image.height);
      context.drawImage(image, 0, 0);
      const pixels = context.getImageData(0, 0, image.width, image.height).data;
      memory(room, pixels.length).set(pixels);
    }
    image?.close();
    done();
  };

  const select = (tile, on) => {
    view.selection = { tile, on };
    mark();
  };
  // The tile under the pointer, or under the finger as it moves across the
  // picture (which leaves vertical swipes to the page: touch-action).
  const point = (event) => {
    const box = event.currentTarget.getBoundingClientRect();
    const column = Math.floor(((event.clientX - box.left) / box.width) * 32);
    const row = Math.floor(((event.clientY - box.top) / box.height) * 8);
    if (column < 0 || column > 31 || row < 0 || row > 7) return;
    select(row * 32 + column, event.currentTarget.id);
  };
  // By keyboard: a picture in focus selects a tile there; the arrows move it.
  const steps = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -32, ArrowDown: 32 };
  for (const canvas of document.querySelectorAll('canvas')) {
    canvas.tabIndex = 0;
    canvas.addEventListener('pointermove', point);
    canvas.addEventListener('pointerdown', point);
    canvas.addEventListener('focus', () => select(view.selection?.tile ?? 0, canvas.id));
    canvas.addEventListener('keydown', (event) => {
      if (!(event.key in steps)) return;
      event.preventDefault();
      select((view.selection.tile + steps[event.key] + 256) % 256, canvas.id);
    });
  }
  // Space on the download, as on a button.
  $('save').addEventListener('keydown', (event) => {
    if (event.key !== ' ') return;
    event.preventDefault();
    $('save').click();
  });

  render();
  window.addEventListener('resize', layout);
  $('file').addEventListener('change', () => $('file').files[0] && take($('file').files[0]));
  $('count').addEventListener('input', render);
  for (const id of ['address', 'first', 'view', 'dialect']) $(id).addEventListener('input', render);
  $('vic20').addEventListener('click', () => {
    $('count').value = '64';
    $('address').value = '$1C00';
    $('first').value = '';
    $('view').selectedIndex = 2;
    render();
  });
  // Copied from the selected text, which every engine still does at once,
  // else through the clipboard's interface.
  $('copy').addEventListener('click', () => {
    const source = $('source-text');
    source.select();
    if (!document.execCommand('copy')) navigator.clipboard?.writeText(source.value);
  });
  // A file held over the page is told where it goes; dragenter and
  // dragleave come in pairs, one for each element entered.
  let held = 0;
  const hold = (change) => (event) => {
    held = Math.max(0, held + change);
    view.dragging = held > 0 && [...(event.dataTransfer?.types ?? [])].includes('Files');
    drag();
  };
  document.addEventListener('dragenter', hold(1));
  document.addEventListener('dragleave', hold(-1));
  document.addEventListener('dragover', (event) => event.preventDefault());
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    held = 0;
    view.dragging = false;
    drag();
    const file = event.dataTransfer.files[0];
    if (!file) return;
    // The file field names the file the results are of.
    try {
      $('file').files = event.dataTransfer.files;
    } catch {
      // A browser that will not set it: the results name the file.
    }
    take(file, event.dataTransfer.files.length - 1);
  });
  performance.mark('ready');
  document.body.dataset.ready = 'yes';
})();
