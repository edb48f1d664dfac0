// The page's own part: it reads the chosen or dropped file, hands it to the
// module (glyphor's reader, packer, messages and preview, built for the
// browser), shows what the module leaves and offers the charset for download.
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
  const picture = (canvas, at) => {
    canvas.hidden = at === 0;
    if (at === 0) return;
    const pixels = new Uint8ClampedArray(memory(at, 256 * 64 * 4));
    canvas.getContext('2d').putImageData(new ImageData(pixels, 256, 64), 0, 0);
  };
  let download = '';

  const show = () => {
    give(m.glyphor_count, new TextEncoder().encode($('count').value));
    m.glyphor_convert();
    $('message').value = text(m.glyphor_message(), m.glyphor_message_size());
    picture($('tileset'), m.glyphor_tileset());
    picture($('preview'), m.glyphor_preview());
    if (download) URL.revokeObjectURL(download);
    download = '';
    const size = m.glyphor_charset_size();
    const save = $('save');
    save.hidden = size === 0;
    if (size === 0) return;
    const name = new TextDecoder().decode(memory(m.glyphor_output_name(), 1024)).split('\0')[0];
    download = URL.createObjectURL(new Blob([memory(m.glyphor_charset(), size).slice()]));
    save.href = download;
    save.download = name;
    save.textContent = `Download ${name}`;
  };

  // A BMP goes to the reader as it is; another image the browser decodes is
  // drawn over black without colour management, and its pixels go instead.
  const take = async (file) => {
    give(m.glyphor_name, new TextEncoder().encode(file.name));
    let bytes;
    try {
      bytes = new Uint8Array(await file.arrayBuffer());
    } catch {
      m.glyphor_unreadable();
      return show();
    }
    let image = null;
    if (bytes[0] !== 0x42 || bytes[1] !== 0x4d) {
      image = await createImageBitmap(new Blob([bytes]), {
        colorSpaceConversion: 'none', premultiplyAlpha: 'none'
      }).catch(() => null);
    }
    if (!image) {
      give(m.glyphor_file, bytes);
      return show();
    }
    const room = m.glyphor_image(image.width, image.height);
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
    image.close();
    show();
  };

  // Whole device pixels for every picture pixel, as many as fit the width.
  const scale = () => {
    const ratio = window.devicePixelRatio || 1;
    const room = document.documentElement.clientWidth * ratio - 32 * ratio;
    const beside = Math.floor(room / (2 * 256 + 48 * ratio));
    const factor = Math.max(1, beside >= 1 ? beside : Math.floor(room / 256));
    document.body.style.setProperty('--width', `${(256 * factor) / ratio}px`);
  };
  scale();
  window.addEventListener('resize', scale);

  $('file').addEventListener('change', () => $('file').files[0] && take($('file').files[0]));
  $('count').addEventListener('input', show);
  document.addEventListener('dragover', (event) => event.preventDefault());
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    const file = event.dataTransfer.files[0];
    if (file) take(file);
  });
  document.body.dataset.ready = 'yes';
})();
