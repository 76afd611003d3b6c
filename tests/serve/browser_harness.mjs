// What the browser tests share: zarvo-serve on a port of the system's
// choosing, Debian's chromium driven by playwright-core (from the map
// page's npm packages) with a fresh profile of its own (playwright passes
// it as --user-data-dir), the checks of a run, and what every page must
// not do: write console errors, get failed answers, fetch from elsewhere.
import {spawn} from 'node:child_process';
import {mkdtempSync, rmSync} from 'node:fs';
import {createRequire} from 'node:module';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';

// Prints each check as it is made and keeps the failed ones.
export function checker() {
  const failures = [];
  const check = (condition, what) => {
    if (!condition) failures.push(what);
    console.log(`${condition ? 'ok  ' : 'FAIL'} ${what}`);
  };
  return {check, failures};
}

// Resolves to the process and its base address once it listens.
export function startServer(server, args) {
  const child = spawn(server, [...args, '--port', '0'], {stdio: ['ignore', 'pipe', 'inherit']});
  return new Promise((resolve, reject) => {
    let text = '';
    child.stdout.on('data', (chunk) => {
      text += chunk;
      const found = /listening on (http:\/\/[0-9.]+:\d+)\//.exec(text);
      if (found) resolve({child, base: found[1]});
    });
    child.on('exit', (code) => reject(new Error(`zarvo-serve exited with ${code}`)));
  });
}

// Runs `body(context, check)` in chromium against a zarvo-serve started
// with `serverArgs`, then closes both and exits with the outcome.
export async function runInChromium({name, server, serverArgs, webDir, chromiumArgs}, body) {
  const require = createRequire(join(resolve(webDir), 'package.json'));
  const {chromium} = require('playwright-core');
  const {check, failures} = checker();
  const {child, base} = await startServer(server, serverArgs);
  const profile = mkdtempSync(join(tmpdir(), 'zarvo-chromium-'));
  let context;
  try {
    context = await chromium.launchPersistentContext(profile, {
      executablePath: '/usr/bin/chromium',
      headless: true,
      args: [
        '--headless', '--no-sandbox', '--disable-quic', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync', ...chromiumArgs,
      ],
      viewport: {width: 1024, height: 700},
      timeout: 30000,
    });
    await body({context, base, check});
  } catch (e) {
    failures.push(String(e));
    console.log(`FAIL ${e}`);
  } finally {
    if (context) await context.close();
    child.kill('SIGTERM');
    rmSync(profile, {recursive: true, force: true});
  }
  console.log(failures.length === 0 ? `${name}: all checks passed` : `${name}: ${failures.length} failed`);
  process.exit(failures.length === 0 ? 0 : 1);
}

// Watches `page` from now on; the returned function checks what it saw.
export function watchPage(page, base) {
  const consoleErrors = [];
  page.on('console', (m) => m.type() === 'error' && consoleErrors.push(m.text()));
  page.on('pageerror', (e) => consoleErrors.push(String(e)));
  const badResponses = [];
  page.on('response', (r) => r.status() >= 400 && badResponses.push(`${r.status()} ${r.url()}`));
  const outside = [];
  page.on('request', (r) => !r.url().startsWith(base) && !/^(data|blob):/.test(r.url()) && outside.push(r.url()));
  return (check) => {
    check(consoleErrors.length === 0, `no console errors ${consoleErrors.join('; ')}`);
    check(badResponses.length === 0, `no failed responses ${badResponses.join('; ')}`);
    check(outside.length === 0, `nothing is fetched from elsewhere ${outside.join('; ')}`);
  };
}
