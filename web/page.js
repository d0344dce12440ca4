// Reads each chosen image in blocks, feeds the blocks to the scanner compiled to
// WebAssembly, and shows each image's versions in a row of the table. An image is
// never held whole: one block at a time goes through, so a many-GiB image needs
// no more memory than a small one, and reading stops once the seventh line is out.
'use strict';

(() => {
  const input = document.getElementById('images');
  const dropZone = document.getElementById('drop-zone');
  const cancelButton = document.getElementById('cancel');
  const state = document.getElementById('state');
  const headerRow = document.getElementById('header-row');
  const tableBody = document.querySelector('#results tbody');

  const readErrorMessage = 'Error reading Firmware';

  let scanner = null;      // the WebAssembly module, once loaded
  let labels = [];         // "CD-R" ... "DVD+R9", from the scanner's own table
  let queue = Promise.resolve();
  let cancelled = false;
  let pending = 0;

  // Printable ASCII as it is; every other byte as a visible \xHH.
  function visibleText(bytes) {
    let text = '';
    for (const byte of bytes) {
      text += byte >= 0x20 && byte <= 0x7e
        ? String.fromCharCode(byte)
        : '\\x' + byte.toString(16).toUpperCase().padStart(2, '0');
    }
    return text;
  }

  function asciiBytes(text) {
    return Uint8Array.from(text, (character) => character.charCodeAt(0));
  }

  function startsWith(bytes, offset, prefix) {
    if (offset + prefix.length > bytes.length) {
      return false;
    }
    return prefix.every((byte, index) => bytes[offset + index] === byte);
  }

  // The versions in fwtally's output. A line is the n-th label, " version: ", up
  // to six bytes of any value (a line feed among them) and a line feed, so each
  // line ends at the line feed after which the next line, the message or the end
  // of the output follows.
  function versionsIn(output) {
    const message = asciiBytes(readErrorMessage + '\n');
    const prefixes = labels.map((label) => asciiBytes(label + ' version: '));
    const versions = [];
    let offset = 0;
    for (let line = 0; line < prefixes.length && startsWith(output, offset, prefixes[line]); ++line) {
      const start = offset + prefixes[line].length;
      const next = prefixes[line + 1];
      let end = -1;
      for (let length = 0; length <= 6 && end < 0; ++length) {
        const after = start + length + 1;
        if (output[start + length] === 0x0a &&
            (after === output.length || startsWith(output, after, message) ||
             (next !== undefined && startsWith(output, after, next)))) {
          end = start + length;
        }
      }
      if (end < 0) {
        break;
      }
      versions.push(output.slice(start, end));
      offset = end + 1;
    }
    return versions;
  }

  function loadScanner() {
    // createFwtally comes from fwtally.js, which the page loads first.
    return createFwtally().then((module) => {
      scanner = module;
      const decoder = new TextDecoder('ascii');
      for (let index = 0; index < module._fwtally_label_count(); ++index) {
        const start = module._fwtally_label(index);
        const bytes = module.HEAPU8.subarray(start, start + module._fwtally_label_length(index));
        labels.push(decoder.decode(bytes));
      }
      for (const label of labels) {
        const header = document.createElement('th');
        header.scope = 'col';
        header.textContent = label;
        headerRow.append(header);
      }
      for (const title of ['Status', 'Output']) {
        const header = document.createElement('th');
        header.scope = 'col';
        header.textContent = title;
        headerRow.append(header);
      }
    });
  }

  function newRow(file) {
    const row = document.createElement('tr');
    const name = document.createElement('th');
    name.scope = 'row';
    name.className = 'file-name';
    name.textContent = file.name;
    row.append(name);
    const versionCells = labels.map(() => {
      const cell = document.createElement('td');
      cell.className = 'version';
      row.append(cell);
      return cell;
    });
    const statusCell = document.createElement('td');
    statusCell.className = 'status';
    const progress = document.createElement('progress');
    progress.max = Math.max(file.size, 1);
    progress.value = 0;
    progress.setAttribute('aria-label', 'Reading ' + file.name);
    const statusText = document.createElement('span');
    statusText.textContent = 'Waiting';
    statusCell.append(progress, statusText);
    row.append(statusCell);
    const outputCell = document.createElement('td');
    outputCell.className = 'output';
    row.append(outputCell);
    tableBody.append(row);
    return { row, versionCells, progress, statusText, outputCell };
  }

  function currentOutput() {
    const start = scanner._fwtally_output();
    return scanner.HEAPU8.slice(start, start + scanner._fwtally_output_length());
  }

  // Fills the row's version cells from the output so far; answers how many.
  function showVersions(cells, output) {
    const versions = versionsIn(output);
    versions.forEach((version, index) => {
      cells.versionCells[index].textContent = visibleText(version);
    });
    return versions.length;
  }

  function offerDownload(cells, fileName, output) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([output], { type: 'application/octet-stream' }));
    link.download = fileName + '.fwtally.txt';
    link.textContent = 'Download';
    link.setAttribute('aria-label', 'Download the fwtally output for ' + fileName);
    cells.outputCell.append(link);
  }

  // Reads `file` block by block into the scanner; answers fwtally's exit status,
  // or null when cancelled. Each block is a slice of the file, read on its own, so
  // no more than one block is held at a time, and Chromium refuses to read a
  // slice of a file that has changed since it was chosen.
  async function scanFile(file, cells) {
    const capacity = scanner._fwtally_block_capacity();
    const inputBlock = scanner._fwtally_input_block();
    let offset = 0;
    let readError = false;
    let seventhLine = false;
    scanner._fwtally_begin();
    while (offset < file.size && !seventhLine) {
      if (cancelled) {
        return null;
      }
      let block;
      try {
        block = new Uint8Array(await file.slice(offset, offset + capacity).arrayBuffer());
      } catch (error) {
        readError = true;
        break;
      }
      if (block.length === 0) {
        // A file that ends short of the size it had when chosen was not read
        // whole: that is a failed read, never a success.
        readError = true;
        break;
      }
      scanner.HEAPU8.set(block, inputBlock);
      seventhLine = scanner._fwtally_feed(block.length);
      offset += block.length;
      cells.progress.value = offset;
      cells.row.dataset.bytesRead = String(offset);
      showVersions(cells, currentOutput());
    }
    return scanner._fwtally_end(readError);
  }

  async function scanOne(file, cells) {
    cells.statusText.textContent = 'Reading';
    const status = await scanFile(file, cells);
    cells.progress.remove();
    if (status === null) {
      cells.statusText.textContent = 'Cancelled';
      cells.row.classList.add('cancelled');
      return;
    }
    const output = currentOutput();
    const count = showVersions(cells, output);
    if (status === 0) {
      cells.statusText.textContent = count === 0 ? 'No version markers' : 'Done';
    } else {
      cells.statusText.textContent = readErrorMessage;
      cells.row.classList.add('failed');
    }
    cells.row.dataset.exitStatus = String(status);
    offerDownload(cells, file.name, output);
  }

  function updateState() {
    cancelButton.disabled = pending === 0;
    state.textContent = pending === 0 ? '' : 'Reading ' + pending + (pending === 1 ? ' image' : ' images');
    document.body.dataset.busy = pending === 0 ? 'no' : 'yes';
  }

  function scanFiles(files) {
    if (files.length === 0) {
      return;
    }
    if (pending === 0) {
      cancelled = false;
    }
    const rows = Array.from(files, (file) => [file, newRow(file)]);
    pending += rows.length;
    updateState();
    for (const [file, cells] of rows) {
      queue = queue.then(() => scanOne(file, cells)).finally(() => {
        --pending;
        updateState();
      });
    }
  }

  input.addEventListener('change', () => {
    scanFiles(input.files);
    input.value = '';  // so that choosing the same file again scans it again
  });
  cancelButton.addEventListener('click', () => {
    cancelled = true;
  });
  dropZone.addEventListener('dragover', (event) => {
    event.preventDefault();
    dropZone.classList.add('dragging');
  });
  dropZone.addEventListener('dragleave', () => dropZone.classList.remove('dragging'));
  dropZone.addEventListener('drop', (event) => {
    event.preventDefault();
    dropZone.classList.remove('dragging');
    scanFiles(event.dataTransfer.files);
  });

  input.disabled = true;
  loadScanner().then(() => {
    input.disabled = false;
    document.body.dataset.ready = 'yes';
  });
})();
