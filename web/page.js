// Streams each chosen image, or each member of a chosen ZIP archive, through the
// scanner compiled to WebAssembly, and shows each one's versions in a row of the
// table, with the offset of each version's marker. An image is never held whole:
// the bytes go through as the browser hands them over, so a many-GiB image needs
// no more memory than a small one, and reading stops once the seventh line is
// out. Folders are read file by file, in path order. With two or more rows, each
// version that differs from the row compared with is marked, and the whole table
// can be kept as CSV.
'use strict';

(() => {
  const input = document.getElementById('images');
  const folderInput = document.getElementById('folder');
  const dropZone = document.getElementById('drop-zone');
  const cancelButton = document.getElementById('cancel');
  const state = document.getElementById('state');
  const headerRow = document.getElementById('header-row');
  const tableBody = document.querySelector('#results tbody');
  const referenceChoice = document.getElementById('reference');
  const csvLink = document.getElementById('csv');

  const readErrorMessage = 'Error reading Firmware';
  const cannotOpenMessage = 'Cannot open Firmware file';

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

  // A row for `name`, at the end of the table or in place of the row `replaced`.
  function newRow(name, replaced = null) {
    const element = document.createElement('tr');
    const nameCell = document.createElement('th');
    nameCell.scope = 'row';
    nameCell.className = 'file-name';
    const nameText = document.createElement('span');
    nameText.className = 'name';
    nameText.textContent = name;
    const referenceNote = document.createElement('span');
    referenceNote.className = 'reference-note';
    nameCell.append(nameText, referenceNote);
    element.append(nameCell);
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
    progress.max = 1;
    progress.value = 0;
    progress.setAttribute('aria-label', 'Reading ' + name);
    const statusText = document.createElement('span');
    statusText.className = 'status-text';
    statusText.textContent = 'Waiting';
    statusCell.append(progress, statusText);
    element.append(statusCell);
    const outputCell = document.createElement('td');
    outputCell.className = 'output';
    element.append(outputCell);

    const row = { element, name, referenceNote, versionCells, progress, statusText, outputCell,
      versionsShown: 0, exitStatus: null };
    if (replaced === null) {
      tableBody.append(element);
      rows.push(row);
    } else {
      replaced.element.before(element);
      rows.splice(rows.indexOf(replaced), 0, row);
    }
    return row;
  }

  function removeRow(row) {
    row.element.remove();
    rows.splice(rows.indexOf(row), 1);
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
    const chosen = rows.includes(chosenReference) ? chosenReference : null;
    const reference = rows.length >= 2 ? chosen ?? rows.find(readToItsEnd) ?? null : null;
    if (referenceChoice.options.length !== rows.length ||
        rows.some((row, index) => referenceChoice.options[index].dataset.name !== row.name)) {
      referenceChoice.replaceChildren(...rows.map((row, index) => {
        const option = document.createElement('option');
        option.value = String(index);
        option.dataset.name = row.name;
        option.textContent = index + 1 + ': ' + row.name;
        return option;
      }));
    }
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
    link.download = row.name.replaceAll('/', '_') + '.fwtally.txt';
    link.textContent = 'Download';
    link.setAttribute('aria-label', 'Download the fwtally output for ' + row.name);
    row.outputCell.append(link);
  }

  // Feeds the stream's bytes to the scanner as they arrive, gathered into whole
  // input blocks: the browsers hand over pieces of their own sizes, some small,
  // and each call into the scanner and each change to the page has a cost of its
  // own. Answers fwtally's exit status, or null when cancelled. A stream that
  // errors, or gives other than `length` bytes where that is known, is a read
  // error, with what was read before it scanned and the versions found kept;
  // `progress` hears how far the read has come. Answers the error too, if any.
  async function scanStream(stream, row, batch, { length = null, progress = () => {} } = {}) {
    const capacity = scanner._fwtally_block_capacity();
    const inputBlock = scanner._fwtally_input_block();
    const reader = stream.getReader();
    let bytesRead = 0;
    let filled = 0;  // bytes in the input block, not yet scanned
    let readError = null;
    let seventhLine = false;
    const scanBlock = () => {
      seventhLine = scanner._fwtally_feed(filled);
      filled = 0;
      row.element.dataset.bytesRead = String(bytesRead);
      progress(bytesRead);
      showNewVersions(row);
    };
    scanner._fwtally_begin();
    while (!seventhLine) {
      if (batch <= batchesCancelled) {
        reader.cancel().catch(() => {});
        return { status: null };
      }
      let chunk;
      try {
        chunk = await reader.read();
      } catch (error) {
        readError = error;
        break;
      }
      if (chunk.done) {
        break;
      }
      const bytes = chunk.value;
      for (let at = 0; at < bytes.length && !seventhLine;) {
        const piece = bytes.subarray(at, at + capacity - filled);
        scanner.HEAPU8.set(piece, inputBlock + filled);
        filled += piece.length;
        bytesRead += piece.length;
        at += piece.length;
        if (filled === capacity) {
          scanBlock();
        }
      }
    }
    if (seventhLine) {
      reader.cancel().catch(() => {});
    } else {
      scanBlock();
      if (readError === null && length !== null && bytesRead !== length) {
        // A file that has lost or gained bytes since it was chosen was not read
        // as it was: that is a failed read, never a success.
        readError = new Error('the file changed while it was read');
      }
    }
    const status = scanner._fwtally_end(readError !== null);
    showNewVersions(row);
    return { status, error: readError };
  }

  // Ends the row with fwtally's status, its message and the reason, if any.
  function finishRow(row, status, reason = null) {
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
      setStatus(row, (status === 2 ? cannotOpenMessage : readErrorMessage) + (reason === null ? '' : ': ' + reason));
    } else {
      setStatus(row, row.versionsShown === 0 ? 'No version markers' : 'Done');
    }
    offerDownload(row, currentOutput());
  }

  function cannotOpen(row, reason) {
    finishRow(row, scanner._fwtally_cannot_open(), reason);
  }

  // The bar moves with the bytes taken from the file, which for a deflated
  // member are its compressed ones: the only count an archive cannot lie about.
  function showProgress(row, total) {
    row.progress.max = Math.max(total, 1);
    return (done) => {
      row.progress.value = done;
    };
  }

  async function scanMembers(archive, archiveRow, batch) {
    const memberRows = archive.members.map((member) => [member, newRow(archiveRow.name + '/' + member.path, archiveRow)]);
    if (memberRows.length === 0) {
      archiveRow.progress.remove();
      setStatus(archiveRow, 'No files in this archive');
      return;
    }
    removeRow(archiveRow);
    // The archive counted as one; the last member's end is counted as its end.
    pending += memberRows.length - 1;
    updateState();
    for (const [index, [member, row]] of memberRows.entries()) {
      if (index > 0) {
        --pending;
        updateState();
      }
      if (batch <= batchesCancelled) {
        finishRow(row, null);
        continue;
      }
      setStatus(row, 'Reading');
      let stream;
      try {
        let compressedBytes = 0;
        const progress = showProgress(row, member.compressedSize);
        stream = await archive.read(member, (count) => progress(compressedBytes += count));
      } catch (error) {
        if (!(error instanceof fwtallyZip.ArchiveProblem)) {
          throw error;
        }
        cannotOpen(row, error.message);
        continue;
      }
      const { status, error } = await scanStream(stream, row, batch);
      // A failed read of the file itself says no more than the plain message does.
      finishRow(row, status, error instanceof fwtallyZip.ArchiveProblem ? error.message : null);
    }
  }

  async function scanOne(source, row, batch) {
    if (batch <= batchesCancelled) {
      finishRow(row, null);
      return;
    }
    setStatus(row, 'Reading');
    if (source.problem) {
      cannotOpen(row, source.problem);
      return;
    }
    const { file } = source;
    let archive = null;
    try {
      archive = await fwtallyZip.open(file);
    } catch {
      // Unreadable where an archive's table would be: read it as an image, which
      // meets the same error and says so.
    }
    if (archive?.problem) {
      cannotOpen(row, archive.problem);
      return;
    }
    if (archive !== null) {
      await scanMembers(archive, row, batch);
      return;
    }
    const { status } = await scanStream(file.stream(), row, batch,
      { length: file.size, progress: showProgress(row, file.size) });
    finishRow(row, status);
  }

  function updateState() {
    cancelButton.disabled = pending === 0;
    state.textContent = pending === 0 ? '' : 'Reading ' + pending + (pending === 1 ? ' image' : ' images');
    document.body.dataset.busy = pending === 0 ? 'no' : 'yes';
  }

  // `sources` are { name, file }, or { name, problem } for what could not be
  // opened, in the order their rows take.
  function scanSources(sources) {
    if (sources.length === 0) {
      return;
    }
    const batch = ++batchesChosen;
    const chosen = sources.map((source) => [source, newRow(source.name)]);
    refreshComparison();
    pending += chosen.length;
    updateState();
    for (const [source, row] of chosen) {
      queue = queue.then(() => scanOne(source, row, batch)).finally(() => {
        --pending;
        updateState();
      });
    }
  }

  // Path order: by each folder's name, then the name within it, as a listing
  // sorted folder by folder would give them.
  function inPathOrder(sources) {
    const parts = (source) => source.name.split('/');
    return sources.sort((one, other) => {
      const [a, b] = [parts(one), parts(other)];
      for (let index = 0; index < Math.min(a.length, b.length); ++index) {
        if (a[index] !== b[index]) {
          return a[index] < b[index] ? -1 : 1;
        }
      }
      return a.length - b.length;
    });
  }

  // Every file under a dropped entry, named by its path from the dropped folder,
  // the folder's own name first, in the order the listings give them.
  async function filesUnder(entry) {
    const name = entry.fullPath.replace(/^\//, '');
    if (entry.isFile) {
      return new Promise((resolve) => {
        entry.file((file) => resolve([{ name, file }]), () => resolve([{ name, problem: 'it cannot be read' }]));
      });
    }
    const children = [];
    const reader = entry.createReader();
    // Each call gives the next part of the listing, and an empty one at its end.
    for (;;) {
      const part = await new Promise((resolve) => reader.readEntries(resolve, () => resolve(null)));
      if (part === null) {
        return [{ name: name + '/', problem: 'the folder cannot be listed' }];
      }
      if (part.length === 0) {
        break;
      }
      children.push(...part);
    }
    const files = [];
    for (const child of children) {
      files.push(...await filesUnder(child));
    }
    return files;
  }

  input.addEventListener('change', () => {
    scanSources(Array.from(input.files, (file) => ({ name: file.name, file })));
    input.value = '';  // so that choosing the same file again scans it again
  });
  folderInput.addEventListener('change', () => {
    scanSources(inPathOrder(Array.from(folderInput.files, (file) => ({ name: file.webkitRelativePath || file.name, file }))));
    folderInput.value = '';
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
    // Entries must be taken while the drop is handled; a dropped folder comes as
    // an entry only. Files and folders keep the order they were dropped in.
    const dropped = Array.from(event.dataTransfer.items).filter((item) => item.kind === 'file').map((item) => {
      const entry = item.webkitGetAsEntry?.() ?? null;
      return entry?.isDirectory ? entry : item.getAsFile();
    });
    Promise.all(dropped.map((item) => (item instanceof File ? [{ name: item.name, file: item }] : filesUnder(item).then(inPathOrder))))
      .then((lists) => scanSources(lists.flat()));
  });

  input.disabled = true;
  folderInput.disabled = true;
  loadScanner().then(() => {
    refreshComparison();
    input.disabled = false;
    folderInput.disabled = false;
    document.body.dataset.ready = 'yes';
  });
})();
