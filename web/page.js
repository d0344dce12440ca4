// Streams each chosen image, or each member of a chosen ZIP archive, through the
// scanner compiled to WebAssembly, and shows each one's versions in a row of the
// table, with the offset of each version's marker. An image is never held whole:
// the bytes go through as the browser hands them over, so a many-GiB image needs
// no more memory than a small one, and reading stops once the seventh line is
// out. Folders are read file by file, in path order. With two or more rows, each
// version that differs from the row compared with is marked, and the whole table
// can be kept as CSV.
//
// Each row's state is kept apart from the table, which shows it a few times a
// second: in a table of a thousand rows, a browser lays out and paints every row
// each time any cell changes, and doing that for each block read would cost
// more than reading. Only the rows that changed are brought up to date, and
// marked again unless the reference itself changed, so that a version found or
// a status set costs the same in a table of a thousand rows as in one of two.
'use strict';

(() => {
  const input = document.getElementById('images');
  const folderInput = document.getElementById('folder');
  const dropZone = document.getElementById('drop-zone');
  const cancelButton = document.getElementById('cancel');
  const state = document.getElementById('state');
  const headerRow = document.getElementById('header-row');
  const resultsTable = document.getElementById('results');
  const tableBody = resultsTable.querySelector('tbody');
  const referenceChoice = document.getElementById('reference');
  const csvLink = document.getElementById('csv');

  const readErrorMessage = 'Error reading Firmware';
  const cannotOpenMessage = 'Cannot open Firmware file';
  // While images are read, the table is brought up to date at most once in this
  // many milliseconds a row, and at least once in 500 ms, and at once when the
  // reading ends. Each update costs the more the more rows there are: a few
  // rows show every block read, a thousand twice a second.
  const tableUpdateIntervalPerRow = 2;
  const longestTableUpdateInterval = 500;
  // Rows beyond this many make a long table, whose rows out of view are left
  // out of layout.
  const longTable = 100;
  // The reading gives the browser its turn at least this often, to draw the
  // page and to hear Cancel.
  const longestTurn = 50;

  let scanner = null;      // the WebAssembly module, once loaded
  let labels = [];         // "CD-R" ... "DVD+R9", from the scanner's own table
  const rows = [];         // each image's row, in table order
  let chosenReference = null;  // the row chosen under "Compare with", if any
  let queue = Promise.resolve();
  let pending = 0;
  let batchesChosen = 0;
  let batchesCancelled = 0;  // Cancel ends every batch chosen before it
  let csvAddress = null;
  const changedRows = new Set();  // rows whose state the table does not show yet
  let rowsAddedOrRemoved = false;
  let shownReference = null;
  let template = null;  // of a row, made once the labels are known
  let tableUpdate = null;  // the timer of the update due, if any
  let lastTableUpdate = -Infinity;
  let lastTurn = performance.now();
  const turns = new MessageChannel();
  const waitingForTurn = [];
  turns.port1.onmessage = () => waitingForTurn.shift()();

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

  // Lets the browser draw and handle input where the reading has kept it
  // waiting: browsers hand over a file's pieces as tasks of their own, but an
  // archive's, read on from one stream, may all come without a break. A
  // message is the quickest way round the event loop; a timer may wait 4 ms.
  function giveTheBrowserItsTurn() {
    if (performance.now() - lastTurn < longestTurn) {
      return null;
    }
    return new Promise((resolve) => {
      waitingForTurn.push(() => {
        lastTurn = performance.now();
        resolve();
      });
      turns.port2.postMessage(null);
    });
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
        header.setAttribute('role', 'columnheader');
        header.textContent = title;
        headerRow.append(header);
      }
    });
  }

  // The name, with room to break the line after each slash and nowhere inside
  // a folder's or file's own name, so that paths break where they read best.
  function nameElement(name) {
    const element = document.createElement('span');
    element.className = 'name';
    name.split('/').forEach((part, index, parts) => {
      const segment = document.createElement('span');
      segment.className = 'segment';
      segment.textContent = index < parts.length - 1 ? part + '/' : part;
      element.append(segment, index < parts.length - 1 ? document.createElement('wbr') : '');
    });
    return element;
  }

  // A row as it starts, but for its name: rows are copies of it, which a
  // browser makes far faster than the same elements one by one.
  function rowTemplate() {
    const element = document.createElement('tr');
    element.setAttribute('role', 'row');
    const nameCell = document.createElement('th');
    nameCell.scope = 'row';
    nameCell.setAttribute('role', 'rowheader');
    nameCell.className = 'file-name';
    const referenceNote = document.createElement('span');
    referenceNote.className = 'reference-note';
    nameCell.append(referenceNote);
    element.append(nameCell);
    for (const label of labels) {
      const cell = document.createElement('td');
      cell.setAttribute('role', 'cell');
      cell.className = 'version';
      cell.dataset.label = label;
      element.append(cell);
    }
    const statusCell = document.createElement('td');
    statusCell.setAttribute('role', 'cell');
    statusCell.className = 'status';
    const statusText = document.createElement('span');
    statusText.className = 'status-text';
    statusText.textContent = 'Waiting';
    statusCell.append(statusText);
    const outputCell = document.createElement('td');
    outputCell.setAttribute('role', 'cell');
    outputCell.className = 'output';
    element.append(statusCell, outputCell);
    return element;
  }

  // A row's state, and the elements that show it.
  function newRow(name) {
    template ??= rowTemplate();
    const element = template.cloneNode(true);
    const [nameCell, ...cells] = element.children;
    const versionCells = cells.slice(0, labels.length);
    const [statusCell, outputCell] = cells.slice(labels.length);
    const [statusText] = statusCell.children;
    const [referenceNote] = nameCell.children;
    nameCell.prepend(nameElement(name));
    return {
      name,
      versions: [],  // each { text, offset } as the cells show them
      status: 'Waiting',
      exitStatus: null,  // fwtally's, once the row is read
      cancelled: false,
      progress: { done: 0, total: 1 },  // null once the row is finished
      bytesRead: 0,
      output: null,  // what fwtally prints, once the row is finished
      // The progress bar is made when the row's reading starts: a bar is slow to
      // make, and a thousand rows waiting need none.
      view: { element, referenceNote, versionCells, statusText, progressBar: null, outputCell, versions: 0 },
    };
  }

  // Rows for `names`, in one piece: at the end of the table, or in place of the
  // row `replaced`, which goes.
  function addRows(names, replaced = null) {
    const added = names.map((name) => newRow(name));
    const elements = added.map((row) => row.view.element);
    // Before the rows go in, so that the browser never lays out all of them.
    resultsTable.classList.toggle('long', rows.length + added.length > longTable);
    if (replaced === null) {
      tableBody.append(...elements);
      rows.push(...added);
    } else {
      replaced.view.element.replaceWith(...elements);
      rows.splice(rows.indexOf(replaced), 1, ...added);
      changedRows.delete(replaced);
      if (chosenReference === replaced) {
        chosenReference = null;
      }
    }
    rowsAddedOrRemoved = true;
    added.forEach(rowChanged);
    return added;
  }

  // Takes the versions the scanner has found that the row does not hold yet.
  function takeNewVersions(row) {
    const count = scanner._fwtally_version_count();
    for (let index = row.versions.length; index < count; ++index) {
      const start = scanner._fwtally_version_bytes(index);
      row.versions.push({
        text: visibleText(scanner.HEAPU8.subarray(start, start + scanner._fwtally_version_length(index))),
        offset: hexOffset(scanner._fwtally_version_offset(index)),
      });
    }
  }

  function versionOf(row, index) {
    return row.versions[index]?.text ?? null;
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
    return scanned(row) && (readToItsEnd(row) || versionOf(row, index) !== null);
  }

  // Marks each version of the row that differs from the same medium's in the
  // reference. A version where the reference has none differs, and so does none
  // where it has one.
  function markRow(row, reference) {
    const { element, referenceNote, versionCells } = row.view;
    element.classList.toggle('reference', row === reference);
    referenceNote.textContent = row === reference ? ' (reference)' : '';
    versionCells.forEach((cell, index) => {
      const changed = reference !== null && row !== reference && comparable(row, index) &&
        comparable(reference, index) && versionOf(row, index) !== versionOf(reference, index);
      if (changed !== cell.hasAttribute('data-changed')) {
        cell.toggleAttribute('data-changed', changed);
        if (changed) {
          cell.setAttribute('aria-describedby', 'changed-description');
        } else {
          cell.removeAttribute('aria-describedby');
        }
      }
    });
  }

  // Shows what the table does not show yet of the row's state.
  function showRow(row) {
    const { view } = row;
    for (let index = view.versions; index < row.versions.length; ++index) {
      const { text, offset } = row.versions[index];
      const cell = view.versionCells[index];
      const shownText = document.createElement('span');
      shownText.className = 'version-text';
      shownText.textContent = text;
      const where = document.createElement('span');
      where.className = 'offset';
      where.textContent = 'at ' + offset;
      cell.replaceChildren(shownText, where);
      cell.dataset.offset = offset;
      cell.tabIndex = 0;  // so that the offset shows on keyboard focus too
    }
    view.versions = row.versions.length;
    if (view.statusText.textContent !== row.status) {
      view.statusText.textContent = row.status;
    }
    view.element.dataset.bytesRead = String(row.bytesRead);
    if (row.progress === null) {
      view.progressBar?.remove();
    } else if (row.status === 'Reading') {
      if (view.progressBar === null) {
        view.progressBar = document.createElement('progress');
        view.progressBar.setAttribute('aria-label', 'Reading ' + row.name);
        view.statusText.before(view.progressBar);
      }
      view.progressBar.max = row.progress.total;
      view.progressBar.value = row.progress.done;
    }
    view.element.classList.toggle('cancelled', row.cancelled);
    if (row.exitStatus !== null && view.element.dataset.exitStatus === undefined) {
      view.element.dataset.exitStatus = String(row.exitStatus);
      view.element.classList.toggle('failed', row.exitStatus !== 0);
    }
    if (row.output !== null && view.outputCell.firstChild === null) {
      const link = document.createElement('a');
      link.href = '#';
      link.download = row.name.replaceAll('/', '_') + '.fwtally.txt';
      link.textContent = 'Download';
      link.setAttribute('aria-label', 'Download the fwtally output for ' + row.name);
      linkRows.set(link, row);
      view.outputCell.append(link);
    }
  }

  function scheduleTableUpdate() {
    const interval = Math.min(longestTableUpdateInterval, tableUpdateIntervalPerRow * rows.length);
    tableUpdate ??= setTimeout(updateTable, Math.max(0, lastTableUpdate + interval - performance.now()));
  }

  function rowChanged(row) {
    changedRows.add(row);
    scheduleTableUpdate();
  }

  // Shows the rows that changed, and marks them, or every row where the
  // reference changed. The reference is the row chosen under "Compare with", or
  // else the first row read to its end, where there are two rows or more.
  function updateTable() {
    clearTimeout(tableUpdate);
    tableUpdate = null;
    lastTableUpdate = performance.now();
    state.textContent = pending === 0 ? '' : 'Reading ' + pending + (pending === 1 ? ' image' : ' images');
    const reference = rows.length >= 2 ? chosenReference ?? rows.find(readToItsEnd) ?? null : null;
    if (rowsAddedOrRemoved) {
      referenceChoice.replaceChildren(...rows.map((row, index) => {
        const option = document.createElement('option');
        option.value = String(index);
        option.textContent = index + 1 + ': ' + row.name;
        return option;
      }));
      referenceChoice.disabled = rows.length < 2;
      rowsAddedOrRemoved = false;
    }
    if (reference !== null) {
      referenceChoice.value = String(rows.indexOf(reference));
    }
    changedRows.forEach(showRow);
    const everyRow = reference !== shownReference || changedRows.has(reference);
    for (const row of everyRow ? rows : changedRows) {
      markRow(row, reference);
    }
    shownReference = reference;
    changedRows.clear();
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
      const versions = labels.map((_, index) => row.versions[index]);
      lines.push([row.name, ...versions.map((version) => version?.text ?? ''), row.status,
        ...versions.map((version) => version?.offset ?? '')]);
    }
    return lines.map((fields) => fields.map(csvField).join(',') + '\r\n').join('');
  }

  function setStatus(row, text) {
    row.status = text;
    rowChanged(row);
  }

  // Each download link's row: its bytes are made into a file when it is clicked.
  const linkRows = new WeakMap();

  // The reader, with its first `count` bytes, or as many as it holds, known
  // before the scan takes them: an archive is known by its first four, so
  // that an image is read once, by one reader, like any other file.
  async function readerAfterPeeking(reader, count) {
    const taken = [];
    let length = 0;
    let ended = false;
    let error = null;
    try {
      while (length < count && !ended) {
        const chunk = await reader.read();
        ended = chunk.done;
        if (!ended) {
          taken.push(chunk.value);
          length += chunk.value.length;
        }
      }
    } catch (caught) {
      error = caught;
    }
    const head = new Uint8Array(Math.min(length, count));
    for (let at = 0, index = 0; at < head.length; at += taken[index++].length) {
      head.set(taken[index].subarray(0, head.length - at), at);
    }
    return {
      head,
      read() {
        if (taken.length > 0) {
          return Promise.resolve({ done: false, value: taken.shift() });
        }
        if (error !== null) {
          return Promise.reject(error);
        }
        return ended ? Promise.resolve({ done: true, value: undefined }) : reader.read();
      },
      cancel() {
        return reader.cancel();
      },
    };
  }

  // Feeds the reader's bytes to the scanner as they arrive, gathered into whole
  // input blocks: the browsers hand over pieces of their own sizes, some small,
  // and each call into the scanner and each change to the page has a cost of its
  // own. Answers fwtally's exit status, or null when cancelled. A stream that
  // errors, or that `check` finds wrong at its end (given the count of bytes
  // read), is a read error, with what was read before it scanned and the
  // versions found kept; `progress` hears how far the read has come;
  // `checksummed` keeps the bytes' CRC-32 for the check. Answers the error too,
  // if any.
  async function scanStream(reader, row, batch, { check = () => null, checksummed = false, progress = () => {} } = {}) {
    const capacity = scanner._fwtally_block_capacity();
    const inputBlock = scanner._fwtally_input_block();
    let bytesRead = 0;
    let filled = 0;  // bytes in the input block, not yet scanned
    let readError = null;
    let seventhLine = false;
    const scanBlock = () => {
      seventhLine = scanner._fwtally_feed(filled);
      filled = 0;
      row.bytesRead = bytesRead;
      progress(bytesRead);
      takeNewVersions(row);
      rowChanged(row);
    };
    const stop = () => {
      reader.cancel().catch(() => {});
      nextChunk.catch(() => {});
    };
    scanner._fwtally_begin(checksummed);
    // One read is always under way, so that the browser fetches the next piece
    // while this one is scanned: a browser that fetches a piece only when asked
    // would otherwise wait for every scan.
    let nextChunk = reader.read();
    while (!seventhLine) {
      const turn = giveTheBrowserItsTurn();
      if (turn !== null) {
        await turn;
      }
      if (batch <= batchesCancelled) {
        stop();
        return { status: null };
      }
      let chunk;
      try {
        chunk = await nextChunk;
      } catch (error) {
        readError = error;
        break;
      }
      if (chunk.done) {
        break;
      }
      nextChunk = reader.read();
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
      stop();
    } else {
      scanBlock();
      readError ??= check(bytesRead);
    }
    const status = scanner._fwtally_end(readError !== null);
    takeNewVersions(row);
    return { status, error: readError };
  }

  // Ends the row with fwtally's status, its message and the reason, if any, and
  // keeps what fwtally prints for it.
  function finishRow(row, status, reason = null) {
    row.progress = null;
    if (status === null) {
      row.cancelled = true;
      setStatus(row, 'Cancelled');
      return;
    }
    row.exitStatus = status;
    if (status !== 0) {
      setStatus(row, (status === 2 ? cannotOpenMessage : readErrorMessage) + (reason === null ? '' : ': ' + reason));
    } else {
      setStatus(row, row.versions.length === 0 ? 'No version markers' : 'Done');
    }
    const start = scanner._fwtally_output();
    row.output = scanner.HEAPU8.slice(start, start + scanner._fwtally_output_length());
  }

  function cannotOpen(row, reason) {
    finishRow(row, scanner._fwtally_cannot_open(), reason);
  }

  // The bar moves with the bytes taken from the file, which for a deflated
  // member are its compressed ones: the only count an archive cannot lie about.
  function showProgress(row, total) {
    row.progress.total = Math.max(total, 1);
    return (done) => {
      if (row.progress !== null) {  // a member's inflater may ask for more once it is done
        row.progress.done = done;
      }
    };
  }

  async function scanMembers(archive, archiveRow, batch) {
    if (archive.members.length === 0) {
      archiveRow.progress = null;
      setStatus(archiveRow, 'No files in this archive');
      return;
    }
    const memberRows = addRows(archive.members.map((member) => archiveRow.name + '/' + member.path), archiveRow);
    // The archive counted as one; the last member's end is counted as its end.
    pending += memberRows.length - 1;
    updateState();
    try {
      for (const [index, member] of archive.members.entries()) {
        await giveTheBrowserItsTurn();
        const row = memberRows[index];
        if (index > 0) {
          --pending;
          updateState();
        }
        if (batch <= batchesCancelled) {
          finishRow(row, null);
          continue;
        }
        setStatus(row, 'Reading');
        let reader;
        try {
          let compressedBytes = 0;
          const progress = showProgress(row, member.compressedSize);
          reader = await archive.read(member, (count) => progress(compressedBytes += count));
        } catch (error) {
          if (!(error instanceof fwtallyZip.ArchiveProblem)) {
            throw error;
          }
          cannotOpen(row, error.message);
          continue;
        }
        const { status, error } = await scanStream(reader, row, batch, {
          checksummed: true,
          check: () => archive.crcProblem(member, scanner._fwtally_crc32() >>> 0),
        });
        // A failed read of the file itself says no more than the plain message does.
        finishRow(row, status, error instanceof fwtallyZip.ArchiveProblem ? error.message : null);
      }
    } finally {
      archive.close();
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
    // WebKit may hand over a file cut short under the read as though it were
    // whole, the missing part as zeros, but it tells the file's new time.
    const { size, lastModified } = file;
    let reader = await readerAfterPeeking(fwtallyZip.fileReader(file), 4);
    if (fwtallyZip.startsLikeArchive(reader.head)) {
      reader.cancel().catch(() => {});
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
      reader = fwtallyZip.fileReader(file);
    }
    // A file that has lost or gained bytes since it was chosen was not read as
    // it was: that is a failed read, never a success.
    const check = (bytesRead) => (bytesRead !== size || file.lastModified !== lastModified
      ? new Error('the file changed while it was read') : null);
    const { status } = await scanStream(reader, row, batch, { check, progress: showProgress(row, size) });
    finishRow(row, status);
  }

  // The count of images still to read shows with the table; the end of the
  // reading shows at once, the table with it, for whoever waits for it.
  function updateState() {
    const busy = pending === 0 ? 'no' : 'yes';
    if (pending === 0) {
      updateTable();
    } else {
      scheduleTableUpdate();
    }
    if (document.body.dataset.busy !== busy) {
      cancelButton.disabled = pending === 0;
      document.body.dataset.busy = busy;
    }
  }

  // `sources` are { name, file }, or { name, problem } for what could not be
  // opened, in the order their rows take.
  function scanSources(sources) {
    if (sources.length === 0) {
      return;
    }
    const batch = ++batchesChosen;
    const added = addRows(sources.map((source) => source.name));
    pending += sources.length;
    updateState();
    sources.forEach((source, index) => {
      queue = queue.then(() => scanOne(source, added[index], batch)).finally(() => {
        --pending;
        updateState();
      });
    });
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
    updateTable();
  });
  tableBody.addEventListener('click', (event) => {
    const link = event.target.closest?.('.output a');
    if (link && linkRows.has(link)) {
      if (link.href.startsWith('blob:')) {
        URL.revokeObjectURL(link.href);
      }
      link.href = URL.createObjectURL(new Blob([linkRows.get(link).output], { type: 'application/octet-stream' }));
    }
  });
  // The table is made into CSV when it is asked for, as it stands then.
  csvLink.addEventListener('click', () => {
    if (csvAddress !== null) {
      URL.revokeObjectURL(csvAddress);
    }
    csvAddress = URL.createObjectURL(new Blob([tableAsCsv()], { type: 'text/csv' }));
    csvLink.href = csvAddress;
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
    input.disabled = false;
    folderInput.disabled = false;
    document.body.dataset.ready = 'yes';
  });
})();
