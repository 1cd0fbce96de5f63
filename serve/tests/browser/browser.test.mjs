// query-serve's pages in Debian's chromium: the list, searching, paging,
// a document, the keyboard, accents, and a stored script that must not run.
//
// run.sh starts two services and passes their addresses:
//   HOSTILE_URL  the example store with hostile client names (test_store.h)
//   LARGE_URL    a generated store of 180 documents, for paging
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { chromium } from 'playwright-core';

const hostile = process.env.HOSTILE_URL;
const large = process.env.LARGE_URL;
const shots = process.env.SCREENSHOT_DIR;  // set to refresh doc/'s screenshots
let browser;
let page;
let errors;

before(async () => {
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
  });
});

after(async () => {
  if (browser) await browser.close();
});

// A fresh page that records script errors and CSP violations.
async function open(url) {
  if (page) await page.close();
  page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  await page.goto(url);
  return page;
}

const rowKeys = () => page.$$eval('table.list tbody a.doc', (as) => as.map((a) => a.textContent));

test('the list shows every document with accents and markup as text', async () => {
  await open(`${hostile}/fac`);
  assert.equal((await rowKeys()).length, 12);
  const text = await page.textContent('table.list');
  assert.ok(text.includes('Ferretería Nuñez & "Q"'), 'accents, & and quotes read as stored');
  assert.ok(text.includes('<script>pwned=1</script>'), 'the stored script shows as text');
  assert.ok(text.includes('1.250,00'), 'numbers in display form');
  assert.equal(await page.evaluate(() => window.pwned), undefined, 'the stored script never ran');
  assert.deepEqual(errors, []);
  if (shots) await page.screenshot({ path: `${shots}/serve-list.png` });
});

test('searching a detail field with accents finds the documents of the engine', async () => {
  await open(`${hostile}/fac`);
  await page.fill('#s-d01', 'CAñería');
  await page.press('#s-d01', 'Enter');
  await page.waitForURL(/d01=/);
  assert.deepEqual(await rowKeys(), ['000101', '000109']);
  assert.equal(await page.inputValue('#s-d01'), 'CAñería', 'the box keeps what was typed');
  await page.fill('#s-h00', '000107');
  await page.fill('#s-d01', '');
  await page.press('#s-h00', 'Enter');
  await page.waitForURL(/h00=000107/);
  assert.deepEqual(await rowKeys(), ['000107']);
});

test('pages go forward and back from where each stopped', async () => {
  await open(`${large}/fac`);
  const first = await rowKeys();
  assert.equal(first.length, 50);
  await page.click('a[rel="next"]');
  await page.waitForURL(/p=0\.50/);
  const second = await rowKeys();
  assert.equal(second.length, 50);
  assert.ok(!second.includes(first[49]));
  assert.match(await page.textContent('p.summary'), /records from 50 examined: 50 of 180/);
  await page.keyboard.press('n');
  await page.waitForURL(/p=0\.50\.100/);
  await page.keyboard.press('p');
  await page.waitForURL(/p=0\.50$/);
  assert.deepEqual(await rowKeys(), second);
  await page.click('a[rel="prev"]');
  await page.waitForURL(/\/fac$/);
  assert.deepEqual(await rowKeys(), first);
});

test('a document opens from the list and the keyboard moves through documents', async () => {
  await open(`${hostile}/fac`);
  await page.focus('body');
  await page.evaluate(() => document.activeElement.blur());
  await page.keyboard.press('j');
  await page.keyboard.press('j');
  assert.equal(await page.evaluate(() => document.activeElement.textContent), '000102');
  await page.keyboard.press('Enter');
  await page.waitForURL(/\/fac\/doc\/000102$/);
  const screen = await page.textContent('pre.screen');
  assert.ok(screen.includes('FACTURA') && screen.includes('Ferretería Nuñez'));
  assert.equal(await page.textContent('span[data-id="h04"]'), '     95,50');
  await page.keyboard.press('ArrowRight');
  await page.waitForURL(/\/fac\/doc\/000103$/);
  await page.keyboard.press('p');
  await page.waitForURL(/\/fac\/doc\/000102$/);
  await page.keyboard.press('u');
  await page.waitForURL(/\/fac$/);
});

test('a stored script neither runs nor breaks the document page', async () => {
  await open(`${hostile}/fac/doc/000103`);
  const screen = await page.textContent('pre.screen');
  assert.ok(screen.includes('<script>pwned=1</script>'));
  assert.equal(await page.evaluate(() => window.pwned), undefined);
  assert.equal(await page.$$eval('script', (s) => s.length), 1, 'only the service\'s own script');
  assert.ok(await page.$('a[rel="next"]'), 'the page goes on after the value');
  assert.deepEqual(errors, []);
  await open(`${hostile}/fac/doc/000101`);
  assert.ok((await page.textContent('pre.screen')).includes('Tuerca Nº4 cañería'));
  if (shots) await page.screenshot({ path: `${shots}/serve-document.png` });
});
