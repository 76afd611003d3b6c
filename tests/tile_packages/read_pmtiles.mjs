// The pmtiles library reads the archives as map pages do.
//
// Usage: node read_pmtiles.mjs FIXTURE SCRATCH. FIXTURE
// (zarvo_tile_package_fixture) writes two pyramids as .pmtiles archives:
// levels 0-3 of real PNGs, also written as a {z}/{x}/{y} directory to
// compare with, and levels 0-7 of byte strings made here the way
// synthetic_pyramid.cpp makes them (21845 tiles, so leaf directories, runs
// and repeated contents). The library's header, metadata and directories
// must address exactly the pyramid's tiles, and its tiles must hold the
// bytes put.
import { execFileSync } from "node:child_process";
import { mkdirSync, readFileSync, rmSync } from "node:fs";
import { open } from "node:fs/promises";
import { join } from "node:path";
import { Compression, PMTiles, TileType, tileIdToZxy } from "pmtiles";

const [fixture, scratch] = process.argv.slice(2);

// Ranges of a local file, as the library asks a server for them.
class LocalFile {
  constructor(path, file) {
    this.path = path;
    this.file = file;
  }
  getKey() {
    return this.path;
  }
  async getBytes(offset, length) {
    const data = new Uint8Array(length);
    const { bytesRead } = await this.file.read(data, 0, length, offset);
    return { data: data.buffer.slice(0, bytesRead) };
  }
}

// The byte strings of SyntheticByteStrings: one of 5000 contents picked
// by a 64-bit hash of the place, the south quarter one sea content.
function byteString(z, x, y) {
  const mask = (1n << 64n) - 1n;
  let mix = (BigInt(z) * 0x9E3779B97F4A7C15n ^ BigInt(x) * 0xBF58476D1CE4E5B9n ^ BigInt(y) * 0x94D049BB133111EBn) & mask;
  mix ^= mix >> 31n;
  mix = (mix * 0xD6E8FEB86659FD93n) & mask;
  mix ^= mix >> 29n;
  const variant = Number(mix % 5000n);
  const sea = z >= 2 && y >= (2 ** z * 3) / 4;
  const text = sea ? "sea" : `content ${variant}`;
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]), Buffer.from(text),
    Buffer.alloc(sea ? 0 : variant % 61, ".")]);
}

function check(condition, message) {
  if (!condition) throw new Error(message);
}

// Every tile entry, through the root and the leaf directories.
async function allEntries(archive, header) {
  const tiles = [];
  const visit = async (offset, length) => {
    for (const entry of await archive.cache.getDirectory(archive.source, offset, length, header)) {
      if (entry.runLength === 0) await visit(header.leafDirectoryOffset + entry.offset, entry.length);
      else tiles.push(entry);
    }
  };
  await visit(header.rootDirectoryOffset, header.rootDirectoryLength);
  return tiles;
}

async function checkPyramid(name, maxLevel, kind) {
  const folder = join(scratch, name);
  rmSync(folder, { recursive: true, force: true });
  mkdirSync(folder, { recursive: true });
  const archivePath = join(folder, "tiles.pmtiles");
  execFileSync(fixture, [archivePath, "WebMercatorQuad", String(maxLevel), kind]);
  const fileOf = (z, x, y) => join(folder, "tiles", String(z), String(x), `${y}.png`);
  if (kind === "png") execFileSync(fixture, [join(folder, "tiles/{z}/{x}/{y}.png"), "WebMercatorQuad", String(maxLevel)]);
  const put = (z, x, y) => (kind === "png" ? readFileSync(fileOf(z, x, y)) : byteString(z, x, y));

  const file = await open(archivePath, "r");
  const archive = new PMTiles(new LocalFile(archivePath, file));
  const header = await archive.getHeader();
  let total = 0;
  for (let z = 0; z <= maxLevel; z++) total += 4 ** z;
  const want = {
    specVersion: 3, tileType: TileType.Png, tileCompression: Compression.None,
    internalCompression: Compression.Gzip, clustered: true, minZoom: 0, maxZoom: maxLevel,
    minLon: -180, maxLon: 180, minLat: -85.0511288, maxLat: 85.0511288,
    centerZoom: 0, centerLon: 0, centerLat: 0, numAddressedTiles: total,
  };
  for (const [field, value] of Object.entries(want)) {
    check(header[field] === value, `${name}: header ${field} is ${header[field]}, want ${value}`);
  }
  check(header.rootDirectoryOffset + header.rootDirectoryLength <= 16384, `${name}: root beyond the first 16 KiB`);
  check(header.numTileContents < header.numTileEntries && header.numTileEntries < total,
    `${name}: ${header.numTileContents} contents, ${header.numTileEntries} entries: repeats are not shared`);
  check(header.leafDirectoryLength > 0 === maxLevel >= 7, `${name}: leaf directories ${header.leafDirectoryLength} bytes`);

  const metadata = await archive.getMetadata();
  check(metadata.name === "Synthetic relief" && metadata.attribution === "Zarvo test pyramid" &&
    metadata.format === "png" && metadata.type === "baselayer" &&
    metadata.tile_pyramid?.tile_matrix_set?.identifier === "WebMercatorQuad", `${name}: metadata ${JSON.stringify(metadata)}`);

  // The directories address every tile of the full pyramid once.
  const entries = await allEntries(archive, header);
  const seen = new Set();
  for (const entry of entries) {
    for (let id = entry.tileId; id < entry.tileId + entry.runLength; id++) {
      const [z, x, y] = tileIdToZxy(id);
      check(z <= maxLevel && !seen.has(id), `${name}: the archive lists ${z}/${x}/${y} wrongly or twice`);
      seen.add(id);
    }
  }
  check(seen.size === total, `${name}: the directories address ${seen.size} tiles, want ${total}`);

  // Tiles read by place hold the bytes put.
  let read = 0;
  for (let z = 0; z <= maxLevel; z++) {
    const step = Math.max(1, Math.floor(4 ** z / 300));
    for (let i = 0; i < 4 ** z; i += step) {
      const x = i % 2 ** z;
      const y = Math.floor(i / 2 ** z);
      const tile = await archive.getZxy(z, x, y);
      check(tile && Buffer.from(tile.data).equals(put(z, x, y)), `${name}: tile ${z}/${x}/${y} differs from the one put`);
      read++;
    }
  }
  check((await archive.getZxy(maxLevel + 1, 0, 0)) === undefined, `${name}: a tile beyond the levels`);
  await file.close();
  console.log(`${name}: header, metadata, ${entries.length} entries and ${read} tiles read as put`);
}

await checkPyramid("images", 3, "png");
await checkPyramid("leaves", 7, "bytes");
