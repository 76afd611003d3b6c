// Bundles the map page into one script and one style sheet beside
// index.html, so that the server can hand it out with no network.
// Usage: node build.mjs OUTDIR
import {build} from 'esbuild';
import {copyFile, mkdir} from 'node:fs/promises';
import {join} from 'node:path';

const out = process.argv[2];
if (!out) {
  console.error('usage: node build.mjs OUTDIR');
  process.exit(2);
}
await mkdir(out, {recursive: true});
await build({
  entryPoints: ['src/main.js'],
  bundle: true,
  minify: true,
  format: 'iife',
  target: 'es2020',
  outdir: out,
  logLevel: 'warning',
});
await copyFile('src/index.html', join(out, 'index.html'));
