// The pmtiles library reads the archives as map pages do.
//
// Usage: node read_pmtiles.mjs FIXTURE SCRATCH. FIXTURE
// (zarvo_tile_package_fixture) writes two pyramids twice, as a .pmtiles
// archive and as a {z}/{x}/{y} directory: levels 0-3 of real PNGs, and
// levels 0-7 of byte strings (21845 tiles, so leaf directories, runs and
// repeated contents). The library's header, metadata and directories must
// name exactly the directory's tiles, and its tiles must hold the same bytes.
import { execFileSync } from "node:child_process";
import { existsSync, mkdirSync, readFileSync, rmSync } from "node:fs";
import { open } from "node:fs/promises";
import { join } from "node:path";
import { Compression, PMTiles, TileType, tileIdToZxy } from "pmtiles";

const [fixture, scratch] = process.argv.slice(2);

// Ranges of a local file, as the library asks a server for them.
class LocalFile {
  constructor(path) {
    this.path = path;
  }
  getKey() {
    return this.path;
  }
  async getBytes(offset, length) {
    const file = await open(this.path, "r");
    try {
      const data = new Uint8Array(length);
      const { bytesRead } = await file.read(data, 0, length, offset);
      return { data: data.buffer.slice(0, bytesRead) };
    } finally {
      await file.close();
    }
  }
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
  for (const target of [archivePath, join(folder, "tiles/{z}/{x}/{y}.png")]) {
    execFileSync(fixture, [target, "WebMercatorQuad", String(maxLevel), kind]);
  }
  const fileOf = (z, x, y) => join(folder, "tiles", String(z), String(x), `${y}.png`);

  const archive = new PMTiles(new LocalFile(archivePath));
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

  const metadata = await archive.getMetadata();
  check(metadata.name === "Synthetic relief" && metadata.attribution === "Zarvo test pyramid" &&
    metadata.format === "png" && metadata.type === "baselayer" &&
    metadata.tile_pyramid?.tile_matrix_set?.identifier === "WebMercatorQuad", `${name}: metadata ${JSON.stringify(metadata)}`);

  // The directories name exactly the tiles the directory package holds.
  const entries = await allEntries(archive, header);
  let addressed = 0;
  for (const entry of entries) {
    for (let id = entry.tileId; id < entry.tileId + entry.runLength; id++) {
      const [z, x, y] = tileIdToZxy(id);
      check(existsSync(fileOf(z, x, y)), `${name}: the archive lists ${z}/${x}/${y}, which was never put`);
      addressed++;
    }
  }
  check(addressed === total, `${name}: the directories address ${addressed} tiles, want ${total}`);
  check(header.leafDirectoryLength > 0 === maxLevel >= 7, `${name}: leaf directories ${header.leafDirectoryLength} bytes`);

  // Tiles read by place hold the bytes put.
  let read = 0;
  for (let z = 0; z <= maxLevel; z++) {
    const step = Math.max(1, Math.floor(4 ** z / 300));
    for (let i = 0; i < 4 ** z; i += step) {
      const x = i % 2 ** z;
      const y = Math.floor(i / 2 ** z);
      const tile = await archive.getZxy(z, x, y);
      const put = readFileSync(fileOf(z, x, y));
      check(tile && Buffer.from(tile.data).equals(put), `${name}: tile ${z}/${x}/${y} differs from the one put`);
      read++;
    }
  }
  check((await archive.getZxy(maxLevel + 1, 0, 0)) === undefined, `${name}: a tile beyond the levels`);
  console.log(`${name}: header, metadata, ${entries.length} entries and ${read} tiles read as put`);
}

await checkPyramid("images", 3, "png");
await checkPyramid("leaves", 7, "bytes");
