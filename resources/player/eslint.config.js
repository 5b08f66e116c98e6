// Lint rules for the preview page's player: plain browser scripts sharing one global.
// Run by tools/lint.sh through the page tests' npm packages (tests/page).
'use strict';
const path = require('path');
const js = require(path.join(__dirname, '../../tests/page/node_modules/@eslint/js'));

module.exports = [
  js.configs.recommended,
  {
    files: ['*.js'],
    ignores: ['eslint.config.js'],
    languageOptions: {
      ecmaVersion: 2020,
      sourceType: 'script',
      globals: {
        Pemlo: 'writable', window: 'readonly', document: 'readonly', navigator: 'readonly',
        performance: 'readonly', requestAnimationFrame: 'readonly', setInterval: 'readonly',
        atob: 'readonly', MutationObserver: 'readonly', getComputedStyle: 'readonly',
        setTimeout: 'readonly', URL: 'readonly', Blob: 'readonly', MessageChannel: 'readonly',
        VideoEncoder: 'readonly', VideoFrame: 'readonly', AudioEncoder: 'readonly',
        AudioData: 'readonly',
      },
    },
    rules: {
      'no-redeclare': ['error', { builtinGlobals: false }],
      eqeqeq: 'error',
      'no-implicit-globals': 'off',
      'no-unused-vars': ['error', { caughtErrors: 'none' }],
    },
  },
];
