// Reads each chosen image in blocks, feeds the blocks to the scanner compiled to
// WebAssembly, and shows each image's versions in a row of the table, with the
// offset of each version's marker. An image is never held whole: one block at a
// time goes through, so a many-GiB image needs no more memory than a small one,
// and reading stops once the seventh line is out. With two or more rows, each
// version that differs from the row compared with is marked, and the whole table
// can be kept as CSV.
'use strict';

(() => {
  const input = document.getElementById('images');
  const dropZone = document.getElementById('drop-zone');
  const cancelButton = document.getElementById('cancel');
  const state = document.getElementById('state');
  const headerRow = document.getElementById('header-row');
  const tableBody = document.querySelector('#results tbody');
  const referenceChoice = document.getElementById('reference');
  const csvLink = document.getElementById('csv');

  const readErrorMessage = 'Error reading Firmware';

  let scanner = null;      // the WebAssembly module, once loaded
  let labels = [];         // "CD-R" ... "DVD+R9", from the scanner's own table
  const rows = [];         // each image's row, in table order
  let chosenReference = null;  // the row chosen under "Compare with", if any
  let queue = Promise.resolve();
  let pending = 0;
  let batchesChosen = 0;
  let batchesCancelled = 0;  // Cancel ends every batch chosen before it
  let csvAddress = null;

  // Printable ASCII as it is, a backslash doubled, and every other byte as \xHH,
  // so that no two versions look alike: "\x00" typed out is shown as \\x00.
  function visibleText(bytes) {
    let text = '';
    for (const byte of bytes) {
      if (byte === 0x5c) {
        text += '\\\\';
      } else if (byte >= 0x20 && byte <= 0x7e) {
        text += String.fromCharCode(byte);
      } else {
        text += '\\x' + byte.toString(16).toUpperCase().padStart(2, '0');
      }
    }
    return text;
  }

  function hexOffset(offset) {
    return '0x' + offset.toString(16).toUpperCase();
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
      for (const title of [...labels, 'Status', 'Output']) {
        const header = document.createElement('th');
        header.scope = 'col';
        header.textContent = title;
        headerRow.append(header);
      }
    });
  }

  function newRow(file) {
    const element = document.createElement('tr');
    const name = document.createElement('th');
    name.scope = 'row';
    name.className = 'file-name';
    const nameText = document.createElement('span');
    nameText.className = 'name';
    nameText.textContent = file.name;
    const referenceNote = document.createElement('span');
    referenceNote.className = 'reference-note';
    name.append(nameText, referenceNote);
    element.append(name);
    const versionCells = labels.map((label) => {
      const cell = document.createElement('td');
      cell.className = 'version';
      cell.dataset.label = label;
      element.append(cell);
      return cell;
    });
    const statusCell = document.createElement('td');
    statusCell.className = 'status';
    const progress = document.createElement('progress');
    progress.max = Math.max(file.size, 1);
    progress.value = 0;
    progress.setAttribute('aria-label', 'Reading ' + file.name);
    const statusText = document.createElement('span');
    statusText.className = 'status-text';
    statusText.textContent = 'Waiting';
    statusCell.append(progress, statusText);
    element.append(statusCell);
    const outputCell = document.createElement('td');
    outputCell.className = 'output';
    element.append(outputCell);
    tableBody.append(element);

    const row = { element, name: file.name, referenceNote, versionCells, progress, statusText, outputCell,
      versionsShown: 0, exitStatus: null };
    rows.push(row);
    const option = document.createElement('option');
    option.value = String(rows.length - 1);
    option.textContent = rows.length + ': ' + file.name;
    referenceChoice.append(option);
    return row;
  }

  // Shows the versions the scanner has found that the row does not show yet.
  function showNewVersions(row) {
    const count = scanner._fwtally_version_count();
    for (let index = row.versionsShown; index < count; ++index) {
      const start = scanner._fwtally_version_bytes(index);
      const bytes = scanner.HEAPU8.subarray(start, start + scanner._fwtally_version_length(index));
      const offset = hexOffset(scanner._fwtally_version_offset(index));
      const cell = row.versionCells[index];
      const text = document.createElement('span');
      text.className = 'version-text';
      text.textContent = visibleText(bytes);
      const where = document.createElement('span');
      where.className = 'offset';
      where.textContent = 'at ' + offset;
      cell.replaceChildren(text, where);
      cell.dataset.offset = offset;
      cell.tabIndex = 0;  // so that the offset shows on keyboard focus too
    }
    if (count > row.versionsShown) {
      row.versionsShown = count;
      refreshComparison();
    }
  }

  function versionOf(cell) {
    return cell.dataset.offset === undefined ? null : cell.querySelector('.version-text').textContent;
  }

  // Only what was read is compared. A row whose image could not be opened or was
  // too short (statuses 2 and 3) holds nothing to compare; one whose reading
  // stopped part-way, or goes on still, holds the versions found so far, and only
  // a row read to its end (status 0) says that a version is not there.
  function scanned(row) {
    return row.exitStatus !== 2 && row.exitStatus !== 3;
  }

  function readToItsEnd(row) {
    return row.exitStatus === 0;
  }

  function comparable(row, index) {
    return scanned(row) && (readToItsEnd(row) || versionOf(row.versionCells[index]) !== null);
  }

  // Marks each version that differs from the same medium's in the row compared
  // with, where there are two rows or more: the one chosen, or else the first row
  // read to its end. A version where that row has none differs, and so does none
  // where it has one.
  function markChanges() {
    const reference = rows.length >= 2 ? chosenReference ?? rows.find(readToItsEnd) ?? null : null;
    if (reference !== null) {
      referenceChoice.value = String(rows.indexOf(reference));
    }
    rows.forEach((row) => {
      row.element.classList.toggle('reference', row === reference);
      row.referenceNote.textContent = row === reference ? ' (reference)' : '';
      row.versionCells.forEach((cell, index) => {
        const changed = reference !== null && row !== reference && comparable(row, index) &&
          comparable(reference, index) && versionOf(cell) !== versionOf(reference.versionCells[index]);
        cell.toggleAttribute('data-changed', changed);
        if (changed) {
          cell.setAttribute('aria-describedby', 'changed-description');
        } else {
          cell.removeAttribute('aria-describedby');
        }
      });
    });
  }

  // RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes
  // doubled; lines end with CR LF.
  function csvField(text) {
    return /[",\r\n]/.test(text) ? '"' + text.replaceAll('"', '""') + '"' : text;
  }

  function tableAsCsv() {
    const header = ['File', ...labels, 'Status', ...labels.map((label) => label + ' offset')];
    const lines = [header];
    for (const row of rows) {
      lines.push([row.name, ...row.versionCells.map((cell) => versionOf(cell) ?? ''),
        row.statusText.textContent, ...row.versionCells.map((cell) => cell.dataset.offset ?? '')]);
    }
    return lines.map((fields) => fields.map(csvField).join(',') + '\r\n').join('');
  }

  function refreshComparison() {
    markChanges();
    if (csvAddress !== null) {
      URL.revokeObjectURL(csvAddress);
    }
    csvAddress = URL.createObjectURL(new Blob([tableAsCsv()], { type: 'text/csv' }));
    csvLink.href = csvAddress;
    referenceChoice.disabled = rows.length < 2;
  }

  function setStatus(row, text) {
    row.statusText.textContent = text;
    refreshComparison();
  }

  function currentOutput() {
    const start = scanner._fwtally_output();
    return scanner.HEAPU8.slice(start, start + scanner._fwtally_output_length());
  }

  function offerDownload(row, output) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([output], { type: 'application/octet-stream' }));
    link.download = row.name + '.fwtally.txt';
    link.textContent = 'Download';
    link.setAttribute('aria-label', 'Download the fwtally output for ' + row.name);
    row.outputCell.append(link);
  }

  // Reads `file` block by block into the scanner; answers fwtally's exit status,
  // or null when cancelled. Each block is a slice of the file, read on its own, so
  // no more than one block is held at a time, and a browser refuses to read a
  // slice of a file that has changed since it was chosen.
  async function scanFile(file, row, batch) {
    const capacity = scanner._fwtally_block_capacity();
    const inputBlock = scanner._fwtally_input_block();
    let offset = 0;
    let readError = false;
    let seventhLine = false;
    scanner._fwtally_begin();
    while (offset < file.size && !seventhLine) {
      if (batch <= batchesCancelled) {
        return null;
      }
      let block;
      try {
        block = new Uint8Array(await file.slice(offset, offset + capacity).arrayBuffer());
      } catch (error) {
        readError = true;
        break;
      }
      if (block.length !== Math.min(capacity, file.size - offset)) {
        // A slice of an unchanged file holds exactly the bytes asked for. A file
        // that has lost bytes since it was chosen was not read whole: that is a
        // failed read, never a success.
        readError = true;
        break;
      }
      scanner.HEAPU8.set(block, inputBlock);
      seventhLine = scanner._fwtally_feed(block.length);
      offset += block.length;
      row.progress.value = offset;
      row.element.dataset.bytesRead = String(offset);
      showNewVersions(row);
    }
    const status = scanner._fwtally_end(readError);
    showNewVersions(row);
    return status;
  }

  async function scanOne(file, row, batch) {
    setStatus(row, 'Reading');
    const status = await scanFile(file, row, batch);
    row.progress.remove();
    if (status === null) {
      row.element.classList.add('cancelled');
      setStatus(row, 'Cancelled');
      return;
    }
    row.exitStatus = status;
    row.element.dataset.exitStatus = String(status);
    if (status !== 0) {
      row.element.classList.add('failed');
      setStatus(row, readErrorMessage);
    } else {
      setStatus(row, row.versionsShown === 0 ? 'No version markers' : 'Done');
    }
    offerDownload(row, currentOutput());
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
    const batch = ++batchesChosen;
    const chosen = Array.from(files, (file) => [file, newRow(file)]);
    refreshComparison();
    pending += chosen.length;
    updateState();
    for (const [file, row] of chosen) {
      queue = queue.then(() => scanOne(file, row, batch)).finally(() => {
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
    batchesCancelled = batchesChosen;
  });
  referenceChoice.addEventListener('change', () => {
    chosenReference = rows[Number(referenceChoice.value)];
    markChanges();
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
    refreshComparison();
    input.disabled = false;
    document.body.dataset.ready = 'yes';
  });
})();
