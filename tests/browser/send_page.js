// tests/browser/send_page.js - a person at the form: Debian's chromium, headless, opens the
// form page, picks names, types a message and sends it. Prints one JSON line with what the
// browser saw. Usage: node send_page.js '<json>' with formUrl, names, message, userDataDir
// and optionally screenshot (a PNG path of the form page).
'use strict';
const { chromium } = require('playwright-core');

const kStepMs = 30000;
const kWholeRunMs = 80000;

async function main() {
  const job = JSON.parse(process.argv[2]);
  const context = await chromium.launchPersistentContext(job.userDataDir, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 900, height: 900 },
    timeout: kStepMs,
  });
  const result = { dialogs: [], options: [] };
  try {
    const page = context.pages()[0] || await context.newPage();
    page.setDefaultTimeout(kStepMs);
    // An alert would mean that markup from a name or a message ran as script.
    page.on('dialog', async (dialog) => { result.dialogs.push(dialog.message()); await dialog.dismiss(); });
    await page.goto(job.formUrl, { waitUntil: 'load' });
    result.options = await page.$$eval('#name option', (os) => os.map((o) => o.textContent.trim()));
    result.formAction = await page.$eval('form', (f) => f.getAttribute('action'));
    if (job.screenshot) await page.screenshot({ path: job.screenshot, fullPage: true });
    await page.selectOption('#name', job.names.map((n) => ({ label: n })));
    await page.fill('#message', job.message);
    await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.click('#send')]);
    result.resultUrl = page.url();
    result.resultText = await page.innerText('body');
    result.resultHtml = await page.content();
    if (job.statusUrl) {
      await page.goto(job.statusUrl, { waitUntil: 'load' });
      result.statusText = await page.innerText('body');
    }
  } finally {
    await context.close();
  }
  process.stdout.write(JSON.stringify(result) + '\n');
}

setTimeout(() => { process.stderr.write('browser run took too long\n'); process.exit(3); }, kWholeRunMs).unref();
main().then(() => process.exit(0), (err) => { process.stderr.write(String(err && err.stack || err) + '\n'); process.exit(2); });
