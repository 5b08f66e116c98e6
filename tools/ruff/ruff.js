// Ruff over Python files, through its WebAssembly build (no Python package index is
// needed): prints each finding as FILE:ROW:COLUMN: CODE message and exits 1 when there
// is any. The rules: Ruff's defaults with the whole of pycodestyle (E, W), pyflakes (F),
// import order (I) and bugbear (B); lines up to 100 columns, as the C++ sources.
//
// usage: node tools/ruff/ruff.js FILE.py...
'use strict';
const fs = require('fs');
const path = require('path');
const ruff = require(path.join(__dirname, 'node_modules/@astral-sh/ruff-wasm-nodejs'));

const settings = {
  'line-length': 100,
  'target-version': 'py311',
  lint: { select: ['E', 'W', 'F', 'I', 'B'] },
};

const files = process.argv.slice(2);
if (files.length === 0) {
  console.error('usage: node tools/ruff/ruff.js FILE.py...');
  process.exit(2);
}
const workspace = new ruff.Workspace(settings, ruff.PositionEncoding.Utf16);
let findings = 0;
for (const file of files) {
  let source;
  try {
    source = fs.readFileSync(file, 'utf8');
  } catch (error) {
    console.error(`${file}: cannot read: ${error.message}`);
    process.exit(2);
  }
  const found = workspace.check(source);
  found.sort((a, b) => a.start_location.row - b.start_location.row ||
    a.start_location.column - b.start_location.column);
  for (const d of found) {
    const where = `${file}:${d.start_location.row}:${d.start_location.column}`;
    console.log(`${where}: ${d.code ?? 'syntax'} ${d.message}`);
    findings += 1;
  }
}
if (findings > 0) {
  console.log(`ruff ${ruff.Workspace.version()}: ${findings} finding(s)`);
  process.exit(1);
}
